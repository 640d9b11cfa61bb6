// SPDX-License-Identifier: GPL-3.0-or-later
// The second look at a report: the summary, the privacy line, a filter box
// and the property dictionary as a tree of key | value | raw rows. Shows what
// inspector/Summary computes; holds no logic of its own beyond the widgets.
#pragma once

#include <QWidget>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "inspector/Summary.h"

class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace vesk::desktop {

class DetailsView : public QWidget {
    Q_OBJECT
public:
    explicit DetailsView(QWidget* parent = nullptr);

    // Shows `details`; the filter stays as typed.
    void display(const Details& details);
    // A picture of the photo at `path` (the file system's bytes), decoded on
    // another thread, turned as its EXIF orientation says and bounded in
    // pixels; a later call, or an empty path, drops what an earlier one is
    // still decoding. Says so when the photo cannot be decoded here.
    void showPreview(const std::string& path);
    QLabel* previewLabel() const { return preview_; }

    static constexpr int kPreviewWidth = 240;
    static constexpr int kPreviewHeight = 180;
    // Larger photos are not decoded for the preview (the readers' budgets
    // keep a report of any file under 100 MB; 50 MP decoded is 200 MB).
    static constexpr qint64 kMaxPreviewPixels = 50'000'000;
    void clear() { display({}); }

    // Hides every row that does not match `text` (key, value or raw value,
    // letter case aside) and every group left empty.
    void setFilter(const QString& text);
    // Selects and shows the row of `group` and `key`; false when there is none.
    bool revealRow(const QString& group, const QString& key);

    // What the copy commands put on the clipboard.
    QString selectedValuesText() const;
    QString selectedRowsText() const;
    QString selectedRowsJson() const;

    QLineEdit* filterField() const { return filter_; }
    QTreeWidget* tree() const { return tree_; }
    QLabel* summaryLabel() const { return summary_; }
    QLabel* privacyLabel() const { return privacy_; }
    QPushButton* copyPositionButton() const { return copyPosition_; }
    QAction* copyValueAction() const { return copyValue_; }
    QAction* copyRowAction() const { return copyRow_; }
    QAction* copyJsonAction() const { return copyJson_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::vector<const PropertyRow*> selectedRows() const;

    QLabel* summary_;
    QLabel* privacy_;
    QLabel* preview_;
    // Which preview is wanted; a decode on another thread reads it to give up.
    std::shared_ptr<std::atomic<quint64>> previewGeneration_ = std::make_shared<std::atomic<quint64>>(0);
    QPushButton* copyPosition_;
    QLineEdit* filter_;
    QTreeWidget* tree_;
    QAction* copyValue_;
    QAction* copyRow_;
    QAction* copyJson_;
    Details details_;
};

}  // namespace vesk::desktop
