// The Open panel of the window: a QFileDialog shown window-modal (a sheet
// where the platform has them) that returns at once and reports the choice
// through the completion.
#pragma once

#include <QFileDialog>
#include <QPointer>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "inspector/ViewController.h"

namespace vesk::desktop {

class FileDialogOpenPanel : public vesk::OpenPanel, public std::enable_shared_from_this<FileDialogOpenPanel> {
public:
    explicit FileDialogOpenPanel(QWidget* window);
    ~FileDialogOpenPanel() override;

    void setTitle(const std::string& title) override;
    void setAllowedFileTypes(const std::vector<std::string>& types) override;
    void beginSheetModal(Completion completion) override;

    // The dialog on show; nullptr before beginSheetModal and once it has closed.
    QFileDialog* dialog() const { return dialog_; }

    // "Images (*.jpg *.tiff)" for {"jpg", "tiff"}.
    static QString nameFilter(const std::vector<std::string>& types);
    // Whether `path` ends in one of `types`, letter case aside.
    static bool hasAllowedType(const QString& path, const std::vector<std::string>& types);

private:
    QPointer<QWidget> window_;
    QPointer<QFileDialog> dialog_;
    QString title_;
    std::vector<std::string> types_;
};

}  // namespace vesk::desktop
