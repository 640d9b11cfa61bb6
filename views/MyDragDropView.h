// SPDX-License-Identifier: GPL-3.0-or-later
// The window's drop area: highlights while a drag of text or of an accepted
// file is over it, and at the drag's end posts the dragged text and the
// accepted paths as events. Toolkit-free; the desktop feeds it drags.
#pragma once

#include <climits>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/NotificationCenter.h"
#include "platform/Services.h"
#include "platform/TypeService.h"
#include "platform/Value.h"

namespace vesk {

// Pasteboard type names.
inline constexpr const char* NSFilenamesPboardType = "NSFilenamesPboardType";
inline constexpr const char* NSStringPboardType = "NSStringPboardType";
inline constexpr const char* NSPasteboardTypeString = "NSPasteboardTypeString";

using NSDragOperation = unsigned int;
inline constexpr NSDragOperation NSDragOperationNone = 0;
inline constexpr NSDragOperation NSDragOperationEvery = UINT_MAX;

// What a drag carries.
struct Pasteboard {
    std::vector<std::string> types;                        // offered type names, in order
    std::optional<std::vector<std::string>> fileNames;     // the file paths, when readable
    std::optional<std::string> string;                     // the text, UTF-8
    std::optional<std::vector<std::string>> itemsAsStrings;  // each item read as text

    bool containsType(std::string_view type) const;
    // propertyListForType: — the file-name list for NSFilenamesPboardType.
    std::optional<std::vector<std::string>> propertyListForType(std::string_view type) const;
    // stringForType: — the text under either name of the string type.
    std::optional<std::string> stringForType(std::string_view type) const;
    // readObjectsForClasses: with the string class.
    std::optional<std::vector<std::string>> readObjectsAsStrings() const { return itemsAsStrings; }
};

// The drag's information.
struct DraggingInfo {
    Pasteboard pasteboard;
    const Pasteboard& draggingPasteboard() const { return pasteboard; }
};

struct Rect {
    double x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
};

struct Color {
    double red = 0, green = 0, blue = 0, alpha = 1;
    bool operator==(const Color&) const = default;
    static Color blueColor() { return {0, 0, 1, 1}; }
};

// What the view asks of the window it sits in.
class ViewHost {
public:
    virtual ~ViewHost() = default;
    virtual void registerForDraggedTypes(const std::vector<std::string>& types) = 0;
    // setNeedsDisplay: YES — a later redraw of the whole view.
    virtual void setNeedsDisplay(bool flag) = 0;
};

// The drawing operations a redraw uses.
class DrawingContext {
public:
    virtual ~DrawingContext() = default;
    // The base view's own drawing of `rect`.
    virtual void drawBase(const Rect& rect) = 0;
    virtual void setDefaultLineWidth(double width) = 0;
    virtual void setColor(const Color& color) = 0;
    // The outline of `rect` in the current colour and default width, centred on it.
    virtual void strokeRect(const Rect& rect) = 0;
};

class MyDragDropView {
public:
    // Identifies files with the services' type service, posts on their centre
    // and logs on their log; `host` may be set later.
    explicit MyDragDropView(const platform::Services& services, ViewHost* host = nullptr);

    // A new list on every call: the types of what Vesk reads (platform/Formats),
    // the five first accepted ones in order, then today's photo formats.
    std::vector<std::string> validTypes() const;

    void awakeFromNib();
    NSDragOperation draggingEntered(const DraggingInfo& sender);
    void draggingExited(const DraggingInfo& sender);
    bool prepareForDragOperation(const DraggingInfo& sender);
    bool performDragOperation(const DraggingInfo& sender);
    void draggingEnded(const DraggingInfo& sender);
    void drawRect(const Rect& dirtyRect, DrawingContext& context);

    bool isHighlighted() const { return _isHighlighted; }
    void setIsHighlighted(bool isHighlighted) { _isHighlighted = isHighlighted; }

    void setHost(ViewHost* host) { host_ = host; }
    // Told, at the drag's end, of each dropped file that is not taken, with
    // the type it was found to be (nothing when it could not be read), so the
    // window can say why nothing or less was shown.
    using RefusalHandler = std::function<void(const std::string& path, const std::optional<std::string>& type)>;
    void setRefusalHandler(RefusalHandler handler) { refused_ = std::move(handler); }
    static constexpr const char* className = "MyDragDropView";

private:
    void logEntry(const char* selector) const;
    void requestRedraw();
    // The first entry of the valid type list the path's identifier conforms to
    // decides; logs "found utiType = %@". `onFailedEntry` runs after each miss.
    template <typename OnMiss>
    bool pathIsAccepted(const std::string& path, OnMiss onFailedEntry,
                        std::optional<std::string>* typeFound = nullptr) const;

    bool _isHighlighted = false;
    ViewHost* host_;
    const platform::TypeService& typeService_;
    platform::NotificationCenter& center_;
    platform::Log log_;
    RefusalHandler refused_;
};

}  // namespace vesk
