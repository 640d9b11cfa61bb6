// SPDX-License-Identifier: GPL-3.0-or-later
// The drop area's text rule on any dragged text: counted in UTF-16 units,
// posted as the string-add event from 17 units on, never a crash.
#include <cstdint>
#include <cstdlib>

#include "FuzzSupport.h"
#include "platform/NotificationCenter.h"
#include "platform/Utf8.h"
#include "views/MyDragDropView.h"

namespace {
class NoHost : public vesk::ViewHost {
public:
    void registerForDraggedTypes(const std::vector<std::string>&) override {}
    void setNeedsDisplay(bool) override {}
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vesk;
    static NoHost host;
    auto& quiet = fuzz::quietServices();
    static int posted = 0;
    static const bool subscribed = [] {
        fuzz::quietServices().center.addObserver(&posted, platform::kAddFromStringNotification, [](const platform::Notification&) { ++posted; });
        return true;
    }();
    (void)subscribed;
    static MyDragDropView view(quiet.services, &host);

    const std::string text(reinterpret_cast<const char*>(data), size);
    DraggingInfo drag;
    drag.pasteboard.types = {NSStringPboardType};
    drag.pasteboard.string = text;
    drag.pasteboard.itemsAsStrings = std::vector<std::string>{text};
    const int before = posted;
    if (view.draggingEntered(drag) != NSDragOperationEvery) std::abort();
    view.draggingEnded(drag);
    const bool expected = platform::utf8::utf16Length(text) > 16;
    if ((posted != before) != expected) std::abort();
    return 0;
}
