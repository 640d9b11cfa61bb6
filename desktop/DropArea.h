// SPDX-License-Identifier: GPL-3.0-or-later
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

    // Takes the drags of the whole of `window` (its own area included): one
    // drop target for every view, whatever widget is under the pointer.
    void takeDropsAcross(QWidget* window);

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
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void enter(QDragEnterEvent* event);
    void leave(QDragLeaveEvent* event);
    void drop(QDropEvent* event);
    void registerForDraggedTypes(const std::vector<std::string>& types) override;
    void setNeedsDisplay(bool flag) override;
    bool offersRegisteredType(const vesk::Pasteboard& pasteboard) const;

    std::vector<std::string> registeredTypes_;
    QWidget* across_ = nullptr;
    // Qt tells a move between this area and the rest of the window as a
    // leave and an enter; the view hears of it only if no enter follows.
    bool leavePending_ = false;
    bool lastEnterAccepted_ = false;
    std::optional<vesk::MyDragDropView> view_;
};

}  // namespace vesk::desktop
