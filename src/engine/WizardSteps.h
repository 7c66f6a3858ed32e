#pragma once
// What the wizard does between its pages: choosing the backup file, the checks that
// lead to the Components page and the start of a run. The window only draws what
// these give and routes the buttons; the person is reached through IUserInterface.

#include "config/SharedState.h"
#include "platform/UserInterface.h"

#include <optional>
#include <string>
#include <vector>

namespace tessarin {

// A file name without "<", ">", "?", "|" and "^".
std::string StripNameChars(std::string name);

// The New profile button works for a restore into an installed application only.
bool CanCreateProfile(const TSharedState& state);

// Sets BackupFile to the name proposed for the selected profile and application.
void ProposeBackupFile(TSharedState& state);

// Browse: a backup asks for a file to write, a restore for a backup that passes the
// checks (else LANG_BAD_FILE2 and BackupFile stays). True when a file was taken.
// Repeated separators of BackupFile become one either way.
bool ChooseBackupFile(TSharedState& state, IUserInterface& ui);

// What the Components page draws besides the boxes held in state.Boxes.
struct TComponentsPage {
    std::vector<TUnknowItem> UnknownItems; // the Unknown files button shows when not empty
};

// The leaving checks of the Profile selection page for selectedProfile (the list's
// selection, empty when none): the backup file, its application, the profile's
// components, the password of a backup. Nullopt keeps the person on the page.
std::optional<TComponentsPage> PrepareComponents(TSharedState& state, IUserInterface& ui,
                                                 const std::string& selectedProfile);

// Next on the Components page, before anything is written: the application (and for a
// backup the profile) closed, a restore confirmed. False leaves the page as it is.
bool ConfirmRunStart(TSharedState& state, IUserInterface& ui);

// Shows the Processing page and runs the chosen backup or restore.
void RunChosenOperation(TSharedState& state, IUserInterface& ui);

} // namespace tessarin
