#pragma once
#include <string>

namespace tessarin {

// Appends text as one line (CR LF) to the error log in the state folder. Never
// fails towards its caller: when the folder or file cannot be made, the line is lost.
void WriteErrorLog(const std::string& text);

// Where WriteErrorLog writes.
std::string ErrorLogPath();

} // namespace tessarin
