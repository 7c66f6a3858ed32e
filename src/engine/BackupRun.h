#pragma once
// One backup: gathers the chosen components, outside mail folders and unknown items
// of the profile into a task, writes the archive with its index, checks it and
// ends on the Report page.

#include "config/SharedState.h"
#include "engine/BackupTask.h"
#include "platform/UserInterface.h"

#include <string>

namespace tessarin {

class TZipFactory;

// Adds the profile's mail folders and every outside mail account folder of
// prefs.js; fills state.ExternalMailDirs in the order found.
void AddMailFolders(TBackupTask& task, TSharedState& state, bool accountsOnly);

// The index entry of the run, written into folder (ending in the separator).
// Throws std::system_error when it cannot be written.
void WriteBackupIndex(const TSharedState& state, const std::vector<TUnknowItem>& chosen,
                      const std::string& folder);

// Proves that the archive at path gives back its index entry. On failure shows
// LANG_INVALID_OUTPUT, deletes the archive and sets BackupFailed.
bool CheckBackupOutput(const std::string& path, TSharedState& state, IUserInterface& ui);

// The whole run. A fatal failure shows its messages and throws TProgramExit{1};
// an earlier file at BackupFile is replaced only by a complete (and, in the
// wizard, checked) archive.
void RunBackup(TSharedState& state, IUserInterface& ui, bool batchMode);

} // namespace tessarin
