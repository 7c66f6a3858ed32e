#include "config/BatchMode.h"

#include "config/Environment.h"
#include "config/L10n.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace tessarin {

const std::vector<std::string>& RequiredFiles()
{
    // The ZIP engine is linked in, so there is no library file to look for.
    static const std::vector<std::string> files{"Default.lng", "Backup.ini", "Profilefiles.txt"};
    return files;
}

std::vector<std::string> MissingRequiredFiles(const std::string& folder)
{
    std::vector<std::string> missing;
    for (const auto& name : RequiredFiles()) {
        std::error_code ec;
        // A folder of that name is no more use than nothing at all.
        if (!fs::is_regular_file(fs::path(folder + name), ec))
            missing.push_back(name);
    }
    return missing;
}

bool CheckRequiredFiles(const TEnvironment& env, IUserInterface& ui)
{
    std::vector<std::string> missing = MissingRequiredFiles(env.Folders.Program);
    // The user's own Backup.ini stands in for the program folder's.
    std::error_code ec;
    if (fs::is_regular_file(env.SettingsFile(), ec))
        std::erase(missing, std::string("Backup.ini"));
    if (missing.empty())
        return true;
    ui.WarningBox(Text("TForm1", "LANG_WARNING"), Text("TForm1", "LANG_NO_FILES"));
    return false;
}

} // namespace tessarin
