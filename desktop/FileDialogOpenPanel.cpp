#include "desktop/FileDialogOpenPanel.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

namespace vesk::desktop {

FileDialogOpenPanel::FileDialogOpenPanel(QWidget* window) : window_(window) {}

FileDialogOpenPanel::~FileDialogOpenPanel() = default;

void FileDialogOpenPanel::setTitle(const std::string& title) { title_ = QString::fromStdString(title); }

void FileDialogOpenPanel::setAllowedFileTypes(const std::vector<std::string>& types) { types_ = types; }

QString FileDialogOpenPanel::nameFilter(const std::vector<std::string>& types) {
    QStringList patterns;
    for (const auto& type : types) patterns.append(QStringLiteral("*.") + QString::fromStdString(type));
    return QStringLiteral("Images (%1)").arg(patterns.join(QLatin1Char(' ')));
}

bool FileDialogOpenPanel::hasAllowedType(const QString& path, const std::vector<std::string>& types) {
    const QString suffix = QFileInfo(path).suffix();
    for (const auto& type : types)
        if (suffix.compare(QString::fromStdString(type), Qt::CaseInsensitive) == 0) return true;
    return false;
}

void FileDialogOpenPanel::beginSheetModal(Completion completion) {
    auto* dialog = new QFileDialog(window_, title_);
    dialog_ = dialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    if (!types_.empty()) dialog->setNameFilter(nameFilter(types_));

    // The connection holds the panel until the dialog is gone.
    QObject::connect(dialog, &QFileDialog::finished, dialog,
                     [self = shared_from_this(), dialog, completion = std::move(completion)](int code) {
                         std::vector<std::string> paths;
                         if (code == QDialog::Accepted) {
                             for (const QString& file : dialog->selectedFiles()) {
                                 // A typed-in name passes the dialog whatever its
                                 // type; only the types offered go on.
                                 if (!self->types_.empty() && !hasAllowedType(file, self->types_)) continue;
                                 paths.push_back(QFile::encodeName(file).toStdString());
                             }
                         }
                         const int result = paths.empty() ? 0 : OpenPanel::kOKResult;
                         completion(result, std::move(paths));
                     });
    dialog->open();
}

}  // namespace vesk::desktop
