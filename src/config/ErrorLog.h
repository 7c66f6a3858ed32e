#pragma once
#include <string>

namespace tessarin {

struct TFolders;

// Appends text as one line (CR LF) to the error log in the current environment's
// state folder, and also to its echo stream when one is set. Never fails towards its
// caller: when the folder or file cannot be made, the line is lost.
void WriteErrorLog(const std::string& text);

// The log file only: for callers that have already put the text on the terminal.
void AppendErrorLog(const std::string& text);

// Where WriteErrorLog writes with these folders.
std::string ErrorLogPath(const TFolders& folders);

} // namespace tessarin
