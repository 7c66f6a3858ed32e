#pragma once
// The run mode comes from the command line: exactly one argument (the path of a
// task file) means batch backup, none or several mean the wizard.

#include "platform/UserInterface.h"

#include <string>
#include <vector>

namespace tessarin {

// Keeps the program's arguments (argv[0] excluded). Called once at start, before
// any toolkit gets the chance to take its own options out of argv.
void SetCommandLine(int argc, const char* const* argv);
void SetCommandLine(std::vector<std::string> arguments);

// True when the command line holds exactly one argument. Asked afresh each time.
bool IsBatchMode();

// The task file argument as typed; empty outside batch mode.
std::string BatchTaskArgument();

// The data files the program cannot work without, as file names in the program folder.
const std::vector<std::string>& RequiredFiles();

// Which of RequiredFiles() are missing from folder (which ends in the separator).
std::vector<std::string> MissingRequiredFiles(const std::string& folder);

// Checks ProgramFolder(). When a file is missing, warns LANG_WARNING / LANG_NO_FILES
// and returns false: the program must then end without doing anything else.
bool CheckRequiredFiles(IUserInterface& ui);

} // namespace tessarin
