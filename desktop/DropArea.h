// The window's drop area: a thin Qt widget that turns Qt's drag events into
// calls on MyDragDropView and paints the view's outline.
#pragma once

#include <QWidget>
#include <optional>

#include "views/MyDragDropView.h"

class QMimeData;

namespace vesk::desktop {

class DropArea : public QWidget, private vesk::ViewHost {
    Q_OBJECT

public:
    // Built by the window's layout; takes no drags until attached.
    explicit DropArea(QWidget* parent = nullptr);
    // Makes the view that identifies, posts and logs through `services`, once.
    void attach(const platform::Services& services);

    // The attached view.
    vesk::MyDragDropView& dragDropView() { return *view_; }

    // What the logic reads of a drag: local files of text/uri-list (or, when
    // there is none, of KDE's or GNOME's own file list) as the file-name
    // list, text/plain as the text unless it only names the drag's files.
    // Other URLs are left out.
    static vesk::Pasteboard pasteboardFromMimeData(const QMimeData* mime);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void registerForDraggedTypes(const std::vector<std::string>& types) override;
    void setNeedsDisplay(bool flag) override;
    bool offersRegisteredType(const vesk::Pasteboard& pasteboard) const;

    std::vector<std::string> registeredTypes_;
    std::optional<vesk::MyDragDropView> view_;
};

}  // namespace vesk::desktop
