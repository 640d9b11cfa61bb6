// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/MyDragDropView.h"

#include <algorithm>

#include "platform/Formats.h"
#include "platform/Log.h"
#include "platform/Utf8.h"

namespace vesk {

using platform::Value;

namespace {

// A text of this many UTF-16 units or fewer is not worth posting.
constexpr std::size_t kMaxRefusedTextLength = 16;

platform::Array toArray(const std::vector<std::string>& texts) {
    platform::Array out;
    out.reserve(texts.size());
    for (const auto& t : texts) out.emplace_back(t);
    return out;
}

}  // namespace

bool Pasteboard::containsType(std::string_view type) const {
    return std::find(types.begin(), types.end(), type) != types.end();
}

std::optional<std::vector<std::string>> Pasteboard::propertyListForType(std::string_view type) const {
    if (type != NSFilenamesPboardType || !containsType(type)) return std::nullopt;
    return fileNames;
}

std::optional<std::string> Pasteboard::stringForType(std::string_view type) const {
    // The legacy name is an alias of the modern one: both read the one text.
    if (type != NSPasteboardTypeString && type != NSStringPboardType) return std::nullopt;
    return string;
}

MyDragDropView::MyDragDropView(const platform::Services& services, ViewHost* host)
    : host_(host), typeService_(services.types), center_(services.center), log_(services.log) {}

std::vector<std::string> MyDragDropView::validTypes() const {
    return platform::formatTypes();
}

void MyDragDropView::logEntry(const char* selector) const { log_.nslog("[%@ %@]", {className, selector}); }

void MyDragDropView::requestRedraw() {
    if (host_) host_->setNeedsDisplay(true);
}

template <typename OnMiss>
bool MyDragDropView::pathIsAccepted(const std::string& path, OnMiss onFailedEntry,
                                    std::optional<std::string>* typeFound) const {
    const std::optional<std::string> utiType = typeService_.typeOfFile(path);
    if (typeFound) *typeFound = utiType;
    log_.nslog("found utiType = %@", {utiType ? *utiType : std::string("(null)")});
    for (const auto& entry : validTypes()) {
        if (utiType && typeService_.conformsTo(*utiType, entry)) return true;
        onFailedEntry();
    }
    return false;
}

void MyDragDropView::awakeFromNib() {
    logEntry("awakeFromNib");
    if (host_) host_->registerForDraggedTypes({NSFilenamesPboardType, NSStringPboardType});
}

NSDragOperation MyDragDropView::draggingEntered(const DraggingInfo& sender) {
    logEntry("draggingEntered:");
    const Pasteboard& pboard = sender.draggingPasteboard();
    if (pboard.containsType(NSStringPboardType)) {
        log_.nslog("found NSStringPboardType ...");
        const auto items = pboard.readObjectsAsStrings();
        log_.nslog("copiedItems = %@", {items ? platform::describe(Value(toArray(*items))) : std::string("(null)")});
        setIsHighlighted(true);
        requestRedraw();
        return NSDragOperationEvery;
    }
    if (pboard.containsType(NSFilenamesPboardType)) {
        const auto paths = pboard.propertyListForType(NSFilenamesPboardType);
        for (const auto& path : paths.value_or(std::vector<std::string>{})) {
            if (pathIsAccepted(path, [this] { setIsHighlighted(false); })) {
                setIsHighlighted(true);
                requestRedraw();
                return NSDragOperationEvery;
            }
        }
    }
    return NSDragOperationEvery;
}

void MyDragDropView::draggingExited(const DraggingInfo&) {
    logEntry("draggingExited:");
    setIsHighlighted(false);
    requestRedraw();
}

bool MyDragDropView::prepareForDragOperation(const DraggingInfo&) { return true; }

bool MyDragDropView::performDragOperation(const DraggingInfo&) {
    logEntry("performDragOperation:");
    return true;
}

void MyDragDropView::draggingEnded(const DraggingInfo& sender) {
    logEntry("draggingEnded:");
    setIsHighlighted(false);
    requestRedraw();

    const Pasteboard& pboard = sender.draggingPasteboard();
    log_.nslog("pboad types = %@", {platform::describe(Value(toArray(pboard.types)))});

    if (pboard.containsType(NSStringPboardType)) {
        const auto text = pboard.stringForType(NSPasteboardTypeString);
        if (text && platform::utf8::utf16Length(*text) > kMaxRefusedTextLength) {
            center_.post(platform::kAddFromStringNotification, std::nullopt,
                          platform::Dictionary{{"mystrings", Value(*text)}});
        } else {
            log_.nslog("pboard info string is invalid = [%@]", {text ? *text : std::string("(null)")});
        }
    }

    if (pboard.containsType(NSFilenamesPboardType)) {
        platform::Array accepted;
        const auto paths = pboard.propertyListForType(NSFilenamesPboardType);
        for (const auto& path : paths.value_or(std::vector<std::string>{})) {
            std::optional<std::string> type;
            if (pathIsAccepted(path, [] {}, &type))
                accepted.emplace_back(path);
            else if (refused_)
                refused_(path, type);
        }
        log_.nslog("validitems = %@", {platform::describe(Value(accepted))});
        center_.post(platform::kAddFromFileNotification, Value(std::move(accepted)));
    }
}

void MyDragDropView::drawRect(const Rect& dirtyRect, DrawingContext& context) {
    context.drawBase(dirtyRect);
    if (!isHighlighted()) return;
    log_.nslog("[%@ %@] isHighlighted = YES", {className, "drawRect:"});
    context.setDefaultLineWidth(5.0);
    context.setColor(Color::blueColor());
    context.strokeRect(dirtyRect);
}

}  // namespace vesk
