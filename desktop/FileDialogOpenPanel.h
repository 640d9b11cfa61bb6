// SPDX-License-Identifier: GPL-3.0-or-later
// The Open panel of the window: a QFileDialog shown window-modal (a sheet
// where the platform has them) that returns at once and reports the choice
// through the completion.
#pragma once

#include <QFileDialog>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "inspector/ViewController.h"
#include "platform/UserDefaults.h"

namespace vesk::desktop {

class FileDialogOpenPanel : public vesk::OpenPanel, public std::enable_shared_from_this<FileDialogOpenPanel> {
public:
    // With a store, the panel starts in the folder of the last file chosen in
    // it, kept there under kLastFolderKey as the platform's panel keeps it.
    explicit FileDialogOpenPanel(QWidget* window, std::shared_ptr<platform::UserDefaults> store = nullptr);
    ~FileDialogOpenPanel() override;

    void setTitle(const std::string& title) override;
    void setAllowedFileTypes(const std::vector<std::string>& types) override;
    void beginSheetModal(Completion completion) override;

    // Called, on the main thread, with each chosen file the panel refuses
    // because its type is not allowed (a name typed in passes the dialog).
    void setRefusalHandler(std::function<void(const std::string& path)> handler) { refused_ = std::move(handler); }

    // The dialog on show; nullptr before beginSheetModal and once it has closed.
    QFileDialog* dialog() const { return dialog_; }

    // One filter for every extension of the types the given extensions stand
    // for, in any letter case: {"jpg", "tiff"} gives "Images: jpg, jpeg, jpe,
    // jfif, tif, tiff (*.[jJ][pP][gG] ... *.[tT][iI][fF][fF])".
    static QString nameFilter(const std::vector<std::string>& types);
    // Whether `path` ends in an extension of the types `types` stand for, letter case aside.
    static bool hasAllowedType(const QString& path, const std::vector<std::string>& types);

    static constexpr const char* kLastFolderKey = "NSNavLastRootDirectory";

private:
    QPointer<QWidget> window_;
    QPointer<QFileDialog> dialog_;
    std::shared_ptr<platform::UserDefaults> store_;
    QString title_;
    std::vector<std::string> types_;
    std::function<void(const std::string&)> refused_;
};

// Every extension the given extensions' types have, lower case, each once,
// in order: {"jpg", "tiff"} gives jpg, jpeg, jpe, jfif, tif, tiff.
std::vector<std::string> extensionsOfTypes(const std::vector<std::string>& extensions);

}  // namespace vesk::desktop
