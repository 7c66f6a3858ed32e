#include "config/ErrorLog.h"

#include "platform/Folders.h"

#include <atomic>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace tessarin {

namespace {
std::atomic<std::FILE*> g_echo{nullptr};
} // namespace

std::string ErrorLogPath() { return Folders().State + "error.log"; }

void SetErrorLogEcho(std::FILE* stream) { g_echo = stream; }

void AppendErrorLog(const std::string& text)
{
    try {
        std::error_code ec;
        const fs::path folder = Folders().State;
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
    if (std::FILE* echo = g_echo.load()) {
        std::fprintf(echo, "tessarin: %s\n", text.c_str());
        std::fflush(echo);
    }
    AppendErrorLog(text);
}

} // namespace tessarin
