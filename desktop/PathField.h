// SPDX-License-Identifier: GPL-3.0-or-later
// The field that shows the path of the file on show: a read-only line that,
// when the path is wider than the field and the field has no focus, shows it
// cut in the middle, so the file's own name stays in view. The whole path is
// its text (to select and copy) and its tooltip.
#pragma once

#include <QLineEdit>

namespace vesk::desktop {

class PathField : public QLineEdit {
    Q_OBJECT
public:
    explicit PathField(QWidget* parent = nullptr);

    // What the field draws: the text, or the text cut in the middle ("…").
    QString displayedText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect textRect() const;
};

}  // namespace vesk::desktop
