// The second look at a report: the summary, the privacy line, a filter box
// and the property dictionary as a tree of key | value | raw rows. Shows what
// inspector/Summary computes; holds no logic of its own beyond the widgets.
#pragma once

#include <QWidget>
#include <optional>
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
    QPushButton* copyPosition_;
    QLineEdit* filter_;
    QTreeWidget* tree_;
    QAction* copyValue_;
    QAction* copyRow_;
    QAction* copyJson_;
    Details details_;
};

}  // namespace vesk::desktop
