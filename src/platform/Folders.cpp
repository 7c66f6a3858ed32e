#include "platform/Folders.h"

#include "platform/IniFile.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <pwd.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

// The XDG folders must be absolute; a relative one is invalid and ignored, as the
// base directory rules ask, rather than resolved against the working folder.
std::string XdgFolderOr(const char* name, const std::string& fallback)
{
    const char* v = std::getenv(name);
    return (v != nullptr && *v == '/') ? std::string(v) : fallback;
}

std::string HomeFolder()
{
    if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0')
        return h;
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr)
        return pw->pw_dir;
    return "/";
}

// user-dirs.dirs holds lines like XDG_DOCUMENTS_DIR="$HOME/Documents".
std::optional<std::string> DocumentsFromUserDirs(const std::string& home, const std::string& config)
{
    std::ifstream in(fs::path(config) / "user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
        line = Trim(line);
        const std::string prefix = "XDG_DOCUMENTS_DIR=";
        if (!line.starts_with(prefix))
            continue;
        std::string value = line.substr(prefix.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.starts_with("$HOME"))
            value = home + value.substr(5);
        if (value.empty() || value.front() != '/')
            return std::nullopt;
        // "$HOME/" alone means the feature is switched off.
        if (fs::path(value).lexically_normal() == fs::path(home).lexically_normal())
            return std::nullopt;
        return value;
    }
    return std::nullopt;
}

std::string ExecutableFolder()
{
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return fs::current_path(ec).string();
    return exe.parent_path().string();
}

} // namespace

std::string WithTrailingSeparator(std::string path)
{
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

TFolders DetectFolders()
{
    TFolders f;
    const std::string home = HomeFolder();
    const std::string xdgConfig = XdgFolderOr("XDG_CONFIG_HOME", home + "/.config");
    const std::string xdgState = XdgFolderOr("XDG_STATE_HOME", home + "/.local/state");
    f.Home = WithTrailingSeparator(home);
    std::error_code ec;
    if (auto docs = DocumentsFromUserDirs(home, xdgConfig); docs && fs::is_directory(*docs, ec))
        f.Documents = WithTrailingSeparator(*docs);
    else if (fs::is_directory(home + "/Documents", ec))
        f.Documents = WithTrailingSeparator(home + "/Documents");
    else
        f.Documents = f.Home;
    f.Program = WithTrailingSeparator(ExecutableFolder());
    f.State = WithTrailingSeparator(xdgState + "/tessarin");
    f.Config = WithTrailingSeparator(xdgConfig + "/tessarin");
    return f;
}

} // namespace tessarin
