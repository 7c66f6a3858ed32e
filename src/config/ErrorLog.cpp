#include "config/ErrorLog.h"

#include "platform/Folders.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace tessarin {

std::string ErrorLogPath() { return Folders().State + "error.log"; }

void WriteErrorLog(const std::string& text)
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

} // namespace tessarin
