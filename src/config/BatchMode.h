#pragma once
// The data files the program cannot do without. The run mode itself comes from the
// command line (TEnvironment::IsBatchMode).

#include "platform/UserInterface.h"

#include <string>
#include <vector>

namespace tessarin {

struct TEnvironment;

// The data files the program cannot work without, as file names in the program folder.
const std::vector<std::string>& RequiredFiles();

// Which of RequiredFiles() are missing from folder (which ends in the separator).
std::vector<std::string> MissingRequiredFiles(const std::string& folder);

// Checks env's program folder. When a file is missing, warns LANG_WARNING /
// LANG_NO_FILES and returns false: the program must then end without doing anything else.
bool CheckRequiredFiles(const TEnvironment& env, IUserInterface& ui);

} // namespace tessarin
