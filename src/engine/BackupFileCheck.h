#pragma once
// The restore side of the backup file: is a chosen file a backup, for which
// application, and what does its index hold.

#include "config/SharedState.h"
#include "platform/UserInterface.h"

#include <string>

namespace tessarin {

// Yes for a legacy text backup of the selected application (BackupFormat 1) or an
// archive that gives back its index (BackupFormat 2). May ask for the password.
bool CheckBackupFile(const std::string& path, TSharedState& state, IUserInterface& ui);

// Reads the index of state.BackupFile into BackupAppNumber, ExternalMailDirs,
// UnknownItems and the component boxes. An index that cannot be read shows
// LANG_NOT_FOUND and throws TProgramExit{1}.
void ReadBackupIndex(TSharedState& state, IUserInterface& ui);

// ReadBackupIndex, then: the backup's application is unknown (0 or less) or appNumber.
bool BackupMatchesApplication(const std::string& path, int appNumber, TSharedState& state,
                              IUserInterface& ui);

// Whether the backup (state.BackupVersion, read by ReadBackupIndex) comes from a newer
// version of the application than the one installed for state.AppNumber. False when
// either version is unknown.
bool BackupIsFromNewerVersion(const TSharedState& state);

// Asked before a restore: for a backup from a newer version, the LANG_NEWER_BACKUP
// question. True when the restore may go ahead (not newer, or Yes).
bool ConfirmRestoreOfNewerBackup(const TSharedState& state, IUserInterface& ui);

} // namespace tessarin
