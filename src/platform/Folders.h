#pragma once
// The shell folders the program works with. Every folder text ends in the native
// separator, so names can be appended to it directly.

#include <string>

namespace tessarin {

struct TFolders {
    std::string Home;      // the user's home folder (stands in for APPDATA as profile root base)
    std::string Documents; // XDG_DOCUMENTS_DIR, else ~/Documents when it exists, else Home
    std::string Program;   // folder of the executable, holding the shipped data files
    std::string State;     // $XDG_STATE_HOME/tessarin/ — home of the error log
    std::string Config;    // $XDG_CONFIG_HOME/tessarin/ — home of the remembered folders
};

// Reads the folders from the environment and /proc/self/exe.
TFolders DetectFolders();

// Adds the native separator when the text does not already end in one.
std::string WithTrailingSeparator(std::string path);

} // namespace tessarin
