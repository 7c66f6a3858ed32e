#pragma once
// Backup.ini: the program's few settings, read once at start-up (compressionLevel
// at each archive creation).

#include "config/SharedState.h"
#include "platform/IniFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessarin {

inline constexpr const char* DefaultFileNamePattern =
    "<application> <version> - <year>-<month>-<day>.pcv";

struct TEnvironment;

// Fills FolderSettings, MonitorNumber and AskForPassword of the shared state from the
// Backup.ini of its environment.
void LoadSettings(TSharedState& state);
// Creates an empty Backup.ini in the program folder, or in the user's configuration
// folder when the program folder cannot be written; an existing file keeps its content.
void CreateSettingsFile(const TEnvironment& env);
// env.SettingsFile(). Throws std::runtime_error("Cannot find file Backup.ini with
// configuration.") when missing.
TIniFile OpenSettingsFile(const TEnvironment& env);
// From env's Backup.ini: the engine reads the archive's compression level here
// (EngineZipSetup) and hands it to the archive.
int ReadIntegerSetting(const TEnvironment& env, const std::string& section, const std::string& key,
                       int def);

// The settings and language files' integer rule: the whole text, blanks around it
// aside, is a decimal number with an optional sign that fits 32 bits. "5x", "" and
// "99999999999" are not integers.
std::optional<std::int32_t> ParseInteger(std::string_view text);

} // namespace tessarin
