#pragma once
// The closed list of applications whose profiles Tessarin handles: their numbers,
// the names they go by, where the registry view reveals an installation, where their
// profiles live, and the installation table every other part reads.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tessarin {

class IRegistryView;
struct TSharedState;

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

// --- Name tables (empty text for a number without that name) ---

// "Mozilla Firefox " (the version follows directly); SeaMonkey's has no blank.
std::string ApplicationListPrefix(std::uint8_t number);
// The prefix of a profiles-only entry: the list prefix, "SeaMonkey/Mozilla " for 1.
std::string ApplicationProbePrefix(std::uint8_t number);
// The name in the "backup is for another application" message; for 0, 10 and any
// unknown number the caller's text comes back unchanged.
std::string ApplicationDisplayName(std::uint8_t number, const std::string& otherwise = {});
// The <application> word of output names; "Portable" for 10 (or a number without a
// word) when portableFolder is not empty, else empty.
std::string ApplicationFileWord(std::uint8_t number, const std::string& portableFolder);
std::string ApplicationCodeName(std::uint8_t number);
// The Backup.ini key naming the default backup folder ("firefoxdir"); empty when none.
std::string BackupFolderKey(std::uint8_t number);

// --- Registry keys, read under HKEY_LOCAL_MACHINE ---

struct TRegistryKeys {
    const char* VersionKey = "";
    const char* FolderKeyPrefix = "";    // + version + "\Main"
    const char* FallbackVersionKey = ""; // empty: no fallback
    const char* FallbackFolderKeyPrefix = "";
};
// Keys of an application; all empty for 0, 10 and unknown numbers.
TRegistryKeys ApplicationRegistryKeys(std::uint8_t number);

inline constexpr const char* VersionValueName = "CurrentVersion";
inline constexpr const char* InstallDirectoryValueName = "Install Directory";

// --- Folders and executables ---

// Candidate profile roots relative to the home folder, in order of preference.
// SeaMonkey's list holds only its own root; the old suite's is OldSuiteProfileRoot.
std::vector<std::string> ProfileRootCandidates(std::uint8_t number);
// The profile root of an application: home + the first candidate that holds
// profiles.ini, registry.dat or appreg, else the first candidate; ends in '/'.
// Empty for 0, 10 and unknown numbers.
std::string ProfileRootFor(std::uint8_t number);
// ~/.mozilla/, where the old Mozilla suite kept its binary registry "appreg".
std::string OldSuiteProfileRoot();
// File names of the application's executables, in order of preference.
std::vector<std::string> ApplicationExecutables(std::uint8_t number);

// --- Installation table ---

struct TInstallRecord {
    bool Installed = false;    // the registry holds a version for the application
    std::string Version;       // "CurrentVersion" as read
    std::string InstallFolder; // "Install Directory" as read; empty when not found
};

// The run-long table, indexed by number - 1 (the portable record is never filled).
std::array<TInstallRecord, ApplicationCount>& InstallationTable();
// The record of numbers 1..12; throws std::out_of_range for any other number.
TInstallRecord& InstallRecord(std::uint8_t number);
// Back to the state at program start (tests).
void ResetInstallationTable();

// --- Scanning ---

// Rebuilds state.ApplicationList and the installation table from OpenMachineRegistry():
// sets AppNumber to 0 and empties ProfileDir.
void ScanInstalledApplications(TSharedState& state);

// One lookup of a version value. When found: marks the application installed, stores
// the version and appends "prefix + version" to list. When missing and probe is set,
// ProbeProfileOnly. Returns whether the value was found.
bool DetectByRegistry(const IRegistryView& registry, const std::string& versionKey,
                      const std::string& valueName, std::uint8_t number, bool firefoxQuiet,
                      bool probeWhenMissing, std::vector<std::string>& list);
// Stores the value under folderKey as the installation folder of number when it exists.
void ReadInstallDirectory(const IRegistryView& registry, const std::string& folderKey,
                          const std::string& valueName, std::uint8_t number);
// Appends a "(profiles only)" entry when a profile folder of the application exists
// but the application is not installed.
void ProbeProfileOnly(std::uint8_t number, bool firefoxQuiet, std::vector<std::string>& list);
// The lookups of one application as the scan does them (with the fallback keys for
// SeaMonkey, Firefox and Thunderbird when no installation folder was found).
void LookUpApplication(const IRegistryView& registry, std::uint8_t number,
                       std::vector<std::string>& list);

// Sets AppNumber and AppCodeName from the text of the chosen list entry; both keep
// their values when the text names no application.
void SelectApplication(TSharedState& state, const std::string& entry);

} // namespace tessarin
