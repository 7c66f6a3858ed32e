#pragma once
#include <cstdio>
#include <string>

namespace tessarin {

// Appends text as one line (CR LF) to the error log in the state folder, and also
// to the echo stream when one is set. Never fails towards its caller: when the
// folder or file cannot be made, the line is lost.
void WriteErrorLog(const std::string& text);

// The log file only: for callers that have already put the text on the terminal.
void AppendErrorLog(const std::string& text);

// Batch runs from cron or systemd have nobody reading the log file: every log line
// then goes to this stream too ("tessarin: " in front). nullptr turns it off.
void SetErrorLogEcho(std::FILE* stream);

// Where WriteErrorLog writes.
std::string ErrorLogPath();

} // namespace tessarin
