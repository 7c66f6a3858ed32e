#include "config/BatchMode.h"

#include "config/L10n.h"
#include "config/Settings.h"
#include "platform/Folders.h"

#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

std::mutex g_mutex;
std::vector<std::string> g_arguments;

} // namespace

void SetCommandLine(int argc, const char* const* argv)
{
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
    SetCommandLine(std::move(arguments));
}

void SetCommandLine(std::vector<std::string> arguments)
{
    std::lock_guard lock(g_mutex);
    g_arguments = std::move(arguments);
}

bool IsBatchMode()
{
    std::lock_guard lock(g_mutex);
    return g_arguments.size() == 1;
}

std::string BatchTaskArgument()
{
    std::lock_guard lock(g_mutex);
    return g_arguments.size() == 1 ? g_arguments.front() : std::string();
}

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

bool CheckRequiredFiles(IUserInterface& ui)
{
    std::vector<std::string> missing = MissingRequiredFiles(ProgramFolder());
    // The user's own Backup.ini stands in for the program folder's.
    std::error_code ec;
    if (fs::is_regular_file(SettingsFilePath(), ec))
        std::erase(missing, std::string("Backup.ini"));
    if (missing.empty())
        return true;
    ui.WarningBox(Text("TForm1", "LANG_WARNING"), Text("TForm1", "LANG_NO_FILES"));
    return false;
}

} // namespace tessarin
