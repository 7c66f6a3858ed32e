#pragma once
// The closed list of applications whose profiles Tessarin handles, one row each: the
// number backups store, the names it goes by, where the registry and the file system
// reveal it, where its profiles live and what runs while it is open.

#include <cstdint>
#include <initializer_list>
#include <span>

namespace tessarin {

// Stored in backups and Backup.ini: the values never change.
enum : std::uint8_t {
    AppNone = 0,
    AppSeaMonkey = 1,
    AppFirefox = 2,
    AppThunderbird = 3,
    AppSunbird = 4,
    AppFlock = 5,
    AppNetscape = 6,
    AppNetscapeMessenger = 7,
    AppSpicebird = 8,
    AppSongbird = 9,
    AppPortable = 10,
    AppPostBox = 11,
    AppWyzo = 12,
};
constexpr int ApplicationCount = 12;

// Registry keys, read under HKEY_LOCAL_MACHINE.
struct TRegistryKeys {
    const char* VersionKey = "";
    const char* FolderKeyPrefix = "";    // + version + "\Main"
    const char* FallbackVersionKey = ""; // empty: no fallback
    const char* FallbackFolderKeyPrefix = "";
};

struct TApplication {
    std::uint8_t Number = AppNone;
    // What a task file's application= matches; empty for those batch mode does not serve.
    const char* BatchName = "";

    // The scan's entry before the version ("Mozilla Firefox "), and before the
    // "(profiles only)" text.
    const char* ListPrefix = "";
    const char* ProbePrefix = "";
    // The "backup is for another application" message.
    const char* DisplayName = "";
    // The <application> word of output names. "Messanger" and "PostBox" are the
    // spellings stored file names carry.
    const char* FileWord = "";
    const char* CodeName = "";
    // The Backup.ini key naming the default backup folder.
    const char* BackupFolderKey = "";
    // The fragment that picks the application from a list entry; also the name in the
    // wizard's running message.
    const char* WizardName = "";
    // Batch mode's name, and the engine's running message.
    const char* ProductName = "";
    // The engine's "exit it first" message.
    const char* ExitName = "";

    TRegistryKeys Keys = {};
    // [App] Name= of its builds, Debian's rebranded ones included.
    std::initializer_list<const char*> IniNames = {};
    // Relative to the home folder, in order of preference.
    std::initializer_list<const char*> ProfileRoots = {};
    // Where the old suite kept its binary registry "appreg", relative to the home folder.
    const char* LegacyRoot = "";
    // File names of the executables, in order of preference; also what the running
    // check looks for.
    std::initializer_list<const char*> Executables = {};
};

// The row of number; an empty row (AppNone) for 0 and unknown numbers.
const TApplication& Application(std::uint8_t number);
// The rows of 1..12, in number order.
std::span<const TApplication> Applications();
// 1..12.
bool IsKnownApplication(std::uint8_t number);

} // namespace tessarin
