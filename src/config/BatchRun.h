#pragma once
// The batch backup: one backup made from a task file without asking anything.

#include "config/SharedState.h"
#include "platform/UserInterface.h"

#include <string>

namespace tessarin {

// Runs the batch backup described by taskFile (the command-line argument as typed)
// and returns the program's exit status. May throw TProgramExit; the caller ends
// the program with either.
int RunBatchBackup(TSharedState& state, IUserInterface& ui, const std::string& taskFile);

} // namespace tessarin
