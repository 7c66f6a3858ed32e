#include "config/ErrorLog.h"

#include "config/Environment.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace tessarin {

std::string ErrorLogPath(const TFolders& folders)
{
    return folders.State + "error.log";
}

void AppendErrorLog(const std::string& text)
{
    try {
        std::error_code ec;
        const fs::path folder = CurrentEnvironment().Folders.State;
        // The state folder's parents (~/.local/state) may not exist on a fresh account.
        fs::create_directories(folder, ec);
        if (!fs::is_directory(folder, ec))
            return;
        std::ofstream out(folder / "error.log", std::ios::binary | std::ios::app);
        if (!out)
            return;
        out << text << "\r\n";
    } catch (...) {
        // Logging must never take the program down.
    }
}

void WriteErrorLog(const std::string& text)
{
    if (std::FILE* echo = CurrentEnvironment().ErrorLogEcho) {
        std::fprintf(echo, "tessarin: %s\n", text.c_str());
        std::fflush(echo);
    }
    AppendErrorLog(text);
}

} // namespace tessarin
