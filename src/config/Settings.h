#pragma once
// Backup.ini: the program's few settings, read once at start-up (compressionLevel
// at each archive creation).

#include "config/SharedState.h"
#include "platform/IniFile.h"

#include <string>

namespace tessarin {

inline constexpr const char* DefaultFileNamePattern =
    "<application> <version> - <year>-<month>-<day>.pcv";

// Fills FolderSettings, MonitorNumber and AskForPassword of the shared state.
void LoadSettings(TSharedState& state);
// Creates an empty Backup.ini in the program folder.
void CreateSettingsFile();
// Throws std::runtime_error("Cannot find file Backup.ini with configuration.") when missing.
TIniFile OpenSettingsFile();
int ReadIntegerSetting(const std::string& section, const std::string& key, int def);

} // namespace tessarin
