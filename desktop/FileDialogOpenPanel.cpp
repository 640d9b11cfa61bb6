// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/FileDialogOpenPanel.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

#include <algorithm>

#include "platform/FileSystem.h"
#include "platform/TypeService.h"

namespace vesk::desktop {

namespace {

// "*.[jJ][pP][gG]": a glob that every file dialog (Qt's own, GTK's, the
// desktop portal's) matches in any letter case.
QString anyCasePattern(const std::string& extension) {
    QString pattern = QStringLiteral("*.");
    for (const char c : extension) {
        const QChar ch = QLatin1Char(c);
        if (ch.isLetter())
            pattern += QLatin1Char('[') + ch.toLower() + ch.toUpper() + QLatin1Char(']');
        else
            pattern += ch;
    }
    return pattern;
}

}  // namespace

std::vector<std::string> extensionsOfTypes(const std::vector<std::string>& extensions) {
    std::vector<std::string> out;
    const auto add = [&out](std::string ext) {
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        if (std::find(out.begin(), out.end(), ext) == out.end()) out.push_back(std::move(ext));
    };
    for (const auto& ext : extensions) {
        const auto type = platform::typeForFileExtension(ext);
        if (!type) {
            add(ext);
            continue;
        }
        for (auto& same : platform::fileExtensionsForType(*type)) add(std::move(same));
    }
    return out;
}

FileDialogOpenPanel::FileDialogOpenPanel(QWidget* window, std::shared_ptr<platform::UserDefaults> store)
    : window_(window), store_(std::move(store)) {}

FileDialogOpenPanel::~FileDialogOpenPanel() = default;

void FileDialogOpenPanel::setTitle(const std::string& title) { title_ = QString::fromStdString(title); }

void FileDialogOpenPanel::setAllowedFileTypes(const std::vector<std::string>& types) { types_ = types; }

QString FileDialogOpenPanel::nameFilter(const std::vector<std::string>& types) {
    QStringList names, patterns;
    for (const auto& ext : extensionsOfTypes(types)) {
        names.append(QString::fromStdString(ext));
        patterns.append(anyCasePattern(ext));
    }
    return QStringLiteral("Images: %1 (%2)").arg(names.join(QLatin1String(", ")), patterns.join(QLatin1Char(' ')));
}

bool FileDialogOpenPanel::hasAllowedType(const QString& path, const std::vector<std::string>& types) {
    const QString suffix = QFileInfo(path).suffix();
    for (const auto& ext : extensionsOfTypes(types))
        if (suffix.compare(QString::fromStdString(ext), Qt::CaseInsensitive) == 0) return true;
    return false;
}

void FileDialogOpenPanel::beginSheetModal(Completion completion) {
    auto* dialog = new QFileDialog(window_, title_);
    dialog_ = dialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    if (!types_.empty()) {
        // The combo box shows the readable part; the patterns do the work.
        dialog->setOption(QFileDialog::HideNameFilterDetails);
        dialog->setNameFilter(nameFilter(types_));
    }
    if (store_) {
        if (const auto folder = store_->get(kLastFolderKey); folder && platform::isDirectory(*folder))
            dialog->setDirectory(QFile::decodeName(QByteArray::fromStdString(*folder)));
    }

    // The connection holds the panel until the dialog is gone.
    QObject::connect(dialog, &QFileDialog::finished, dialog,
                     [self = shared_from_this(), dialog, completion = std::move(completion)](int code) {
                         std::vector<std::string> paths;
                         if (code == QDialog::Accepted) {
                             for (const QString& file : dialog->selectedFiles()) {
                                 const std::string path = QFile::encodeName(file).toStdString();
                                 // A typed-in name passes the dialog whatever its
                                 // type; only the types offered go on.
                                 if (!self->types_.empty() && !hasAllowedType(file, self->types_)) {
                                     if (self->refused_) self->refused_(path);
                                     continue;
                                 }
                                 paths.push_back(path);
                             }
                         }
                         if (self->store_ && !paths.empty())
                             self->store_->set(kLastFolderKey, platform::deletingLastPathComponent(paths.front()));
                         const int result = paths.empty() ? 0 : OpenPanel::kOKResult;
                         completion(result, std::move(paths));
                     });
    dialog->open();
}

}  // namespace vesk::desktop
