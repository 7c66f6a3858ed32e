#include "app/dialogs/FolderBrowser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace tessarin {

std::optional<std::string> BrowseForFolder(QWidget* parent, const std::string& caption,
                                           const std::string& folder)
{
    const QString start = QString::fromStdString(folder);
    const QString initial = !start.isEmpty() && QFileInfo(start).isDir() ? start : QString();
    const QString answer =
        QFileDialog::getExistingDirectory(parent, QString::fromStdString(caption), initial,
                                          QFileDialog::ShowDirsOnly | QFileDialog::ReadOnly);
    return ChosenFolder(answer);
}

std::optional<std::string> ChosenFolder(const QString& answer)
{
    if (answer.isEmpty())
        return std::nullopt;
    const QFileInfo info(answer);
    // A typed path that names no folder is no choice.
    if (!info.isDir())
        return std::nullopt;
    // cleanPath drops a trailing separator but keeps the root itself.
    return QDir::toNativeSeparators(QDir::cleanPath(info.absoluteFilePath())).toStdString();
}

} // namespace tessarin
