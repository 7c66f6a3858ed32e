#pragma once
// The archive facade as the engine uses it: set up from Backup.ini and the run's state,
// and its problems put into the person's language.

#include "archive/ArchiveProblem.h"
#include "archive/ZipFactory.h"
#include "config/SharedState.h"
#include "platform/UserInterface.h"

#include <string>
#include <string_view>
#include <vector>

namespace tessarin {

// compressionLevel from Backup.ini (throws std::runtime_error when the file is gone),
// the run's password shared, the files a backup writes shown, the error box for a
// failed write, and a database's journals kept with it.
TZipSetup EngineZipSetup(TSharedState& state, IUserInterface& ui);

// A SQLite database's journals (-wal, -shm, -journal): written after it, and the old
// ones removed as soon as it is written.
TCompanionFiles DatabaseJournals();

// Files that hold a profile's keys, saved passwords or certificates (key4.db,
// logins.json, signons.sqlite, cert9.db, ... and their journals): never readable by
// anyone but their owner.
bool IsPrivateProfileFile(std::string_view name);

// "name: reason", as the person sees it and the error log records it.
std::string ProblemText(const TArchiveProblem& problem);
std::vector<std::string> ProblemTexts(const std::vector<TArchiveProblem>& problems);

} // namespace tessarin
