// The inspector's window, laid out in resources/MainWindow.ui: the drop area,
// the path on show with the double-click button, and the six info fields.
#pragma once

#include <QMainWindow>
#include <memory>

class QAction;
class QLineEdit;
class QPlainTextEdit;

namespace Ui {
class MainWindow;
}

namespace vesk::desktop {

class DropArea;
class DoubleClickButton;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    DropArea* dropArea() const;
    DoubleClickButton* doubleClickButton() const;
    QLineEdit* currentFileField() const;
    // The field bound to `key`, or nullptr.
    QPlainTextEdit* infoField(const QString& key) const;
    QAction* openAction() const;
    QAction* inspectTestFileAction() const;
    QAction* aboutAction() const;
    QAction* quitAction() const;

private:
    std::unique_ptr<Ui::MainWindow> ui_;
};

}  // namespace vesk::desktop
