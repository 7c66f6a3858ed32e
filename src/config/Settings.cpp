#include "config/Settings.h"

#include "config/Environment.h"
#include "config/ErrorLog.h"
#include "config/L10n.h"

#include <array>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

constexpr const char* SettingsSection = "General";

// Folder keys and their FolderSettings slots (2..10 are applications 1..9).
constexpr std::array<std::pair<const char*, int>, 10> FolderKeys{{
    {"backupdir", FolderBackupDir},
    {"firefoxdir", 3},
    {"thunderbirddir", 4},
    {"suitedir", 2},
    {"sunbirddir", 5},
    {"flockdir", 6},
    {"netscapedir", 7},
    {"netscapemessdir", 8},
    {"spicebirddir", 9},
    {"songbirddir", 10},
}};

fs::path SystemSettingsPath(const TEnvironment& env)
{
    return fs::path(env.Folders.Program + "Backup.ini");
}
fs::path UserSettingsPath(const TEnvironment& env)
{
    return fs::path(env.Folders.Config + "Backup.ini");
}

bool Exists(const fs::path& path)
{
    std::error_code ec;
    return fs::status(path, ec).type() != fs::file_type::not_found;
}

// Creates path empty unless it exists; appending never empties a file made meanwhile.
bool CreateEmptyFile(const fs::path& path)
{
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out.close();
    return static_cast<bool>(out);
}

void LogText(const TEnvironment& env, const char* key)
{
    // The language object must not be able to stop a log line from being written.
    std::string text;
    try {
        text = env.Language->GetText("TForm1", key);
    } catch (...) {
        text = Tl10n::DefaultText(key);
    }
    WriteErrorLog(text);
}

bool FolderExists(const std::string& folder)
{
    std::error_code ec;
    return fs::is_directory(folder, ec);
}

} // namespace

std::optional<std::int32_t> ParseInteger(std::string_view text)
{
    const std::string trimmed = Trim(text);
    std::string_view digits = trimmed;
    // from_chars takes a minus sign but no plus sign.
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
        if (digits.empty() || digits.front() == '-')
            return std::nullopt;
    }
    if (digits.empty())
        return std::nullopt;
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 10);
    if (ec != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return value;
}

TIniFile OpenSettingsFile(const TEnvironment& env)
{
    const fs::path path = env.SettingsFile();
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found)
        throw std::runtime_error("Cannot find file Backup.ini with configuration.");
    // A folder of that name, or one that cannot be looked at, is a read failure rather
    // than an empty file.
    if (ec || fs::is_directory(status))
        throw std::runtime_error("Cannot read " + path.string());
    return TIniFile::FromFile(path);
}

void CreateSettingsFile(const TEnvironment& env)
{
    if (CreateEmptyFile(SystemSettingsPath(env)))
        return;
    // An installed program folder belongs to root: the user's file goes in its place.
    std::error_code ec;
    fs::create_directories(UserSettingsPath(env).parent_path(), ec);
    if (!CreateEmptyFile(UserSettingsPath(env)))
        LogText(env, "LANG_BADINIWRITE");
}

void LoadSettings(TSharedState& state)
{
    state.FolderSettings = {};
    state.FolderSettings[FolderPattern] = DefaultFileNamePattern;
    state.MonitorNumber = 1;
    state.AskForPassword = true;

    if (!Exists(state.Env.SettingsFile())) {
        CreateSettingsFile(state.Env);
        return;
    }

    try {
        const TIniFile ini = OpenSettingsFile(state.Env);

        if (std::string pattern = Trim(ini.ReadString(SettingsSection, "fileformat"));
            !pattern.empty())
            state.FolderSettings[FolderPattern] = std::move(pattern);

        for (const auto& [key, slot] : FolderKeys) {
            std::string folder = Trim(ini.ReadString(SettingsSection, key));
            if (!folder.empty() && FolderExists(folder))
                state.FolderSettings[slot] = std::move(folder);
        }

        if (const auto monitor = ParseInteger(ini.ReadString(SettingsSection, "monitor"));
            monitor && *monitor > 0)
            state.MonitorNumber = *monitor;

        state.AskForPassword = Trim(ini.ReadString(SettingsSection, "askForPassword")) != "false";
    } catch (...) {
        LogText(state.Env, "LANG_BADINIREAD");
    }
}

int ReadIntegerSetting(const TEnvironment& env, const std::string& section, const std::string& key,
                       int def)
{
    const TIniFile ini = OpenSettingsFile(env);
    return ParseInteger(ini.ReadString(section, key)).value_or(def);
}

} // namespace tessarin
