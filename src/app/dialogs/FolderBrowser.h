#pragma once
// The folder picker used by the new-profile dialog and the Find profile button.

#include <QString>

#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace tessarin {

// (caption, folder to preselect) -> the chosen folder, or nothing when cancelled.
// Dialogs hold one of these so tests can answer in place of the person.
using TFolderBrowser = std::function<std::optional<std::string>(const std::string& caption,
                                                                const std::string& folder)>;

// Modal over `parent`: offers folders only and no button for making a new one. The
// folder is preselected when it exists. The answer is a full path without a trailing
// separator.
std::optional<std::string> BrowseForFolder(QWidget* parent, const std::string& caption,
                                           const std::string& folder);

// What a picker's answer gives: nothing for an empty answer or one that names no
// existing folder, otherwise the absolute path without a trailing separator.
std::optional<std::string> ChosenFolder(const QString& answer);

} // namespace tessarin
