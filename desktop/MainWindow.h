// SPDX-License-Identifier: GPL-3.0-or-later
// The inspector's window, laid out in resources/MainWindow.ui: the drop area,
// the path on show with the double-click button, and the six info fields.
#pragma once

#include <QMainWindow>
#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace Ui {
class MainWindow;
}

namespace vesk::desktop {

class DropArea;
class DoubleClickButton;
class FocusRing;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    DropArea* dropArea() const;
    DoubleClickButton* doubleClickButton() const;
    QLineEdit* currentFileField() const;
    // The six fields with their labels, under the drop area and the file row.
    QWidget* fieldsArea() const;
    // The field bound to `key`, or nullptr.
    QPlainTextEdit* infoField(const QString& key) const;
    QAction* openAction() const;
    QAction* inspectTestFileAction() const;
    QAction* showInFolderAction() const;
    QAction* nextFileAction() const;
    QAction* previousFileAction() const;
    QAction* aboutAction() const;
    QAction* quitAction() const;

    // The status line: what became of the last file, in plain words, with
    // a warning sign when it could not be shown as asked.
    QLabel* statusLabel() const { return statusLabel_; }
    QLabel* statusIcon() const { return statusIcon_; }
    // The ring drawn around the widget with the keyboard focus.
    FocusRing* focusRing() const { return focusRing_; }
    // A long file name is cut in the middle so that the reason after it stays
    // in view; the tooltip has the whole text.
    void showStatus(const QString& text, bool failed = false);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fitStatus();
    QString statusText_;
    std::unique_ptr<Ui::MainWindow> ui_;
    QLabel* statusLabel_ = nullptr;
    QLabel* statusIcon_ = nullptr;
    FocusRing* focusRing_ = nullptr;
};

}  // namespace vesk::desktop
