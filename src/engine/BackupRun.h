#pragma once
// One backup: gathers the chosen components, outside mail folders and unknown items
// of the profile into a task, writes the archive with its index, checks it and
// ends on the Report page.

#include "config/SharedState.h"
#include "engine/BackupTask.h"
#include "platform/UserInterface.h"

#include <functional>
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

// Reads every entry of the archive at path back (see VerifyArchive), showing a task text
// and pumping events meanwhile. On failure says which entry and why (a box in the
// wizard, the error log in batch mode) and sets BackupFailed; the file is left to the
// caller.
bool VerifyBackupOutput(const std::string& path, TSharedState& state, IUserInterface& ui,
                        bool batchMode);

// The earlier backup whose unchanged entries this run may copy: the file it replaces,
// else state.EarlierBackup; either only when it reads back as a backup of the same
// application with the run's password. Empty when neither does.
std::string EarlierBackupFor(const TSharedState& state);

// For tests: called with the freshly written archive before it is read back.
void SetBackupWrittenHook(std::function<void(const std::string& path)> hook);

// The whole run. A fatal failure shows its messages and throws TProgramExit{1};
// an earlier file at BackupFile is replaced only by a complete archive that read
// back whole. Stale temporary files of killed runs beside BackupFile are removed first.
void RunBackup(TSharedState& state, IUserInterface& ui, bool batchMode);

} // namespace tessarin
