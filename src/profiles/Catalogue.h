#pragma once
// What the rest of the program asks about the applications, read from their table
// (Applications.h): the names they go by, where their profiles live, and the
// installation table every other part reads, filled by one scan that the wizard and
// batch mode share.

#include "platform/InstalledApps.h"
#include "platform/RegistryView.h"
#include "profiles/Applications.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tessarin {

struct TEnvironment;
struct TSharedState;

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

// Keys of an application; all empty for 0, 10 and unknown numbers.
TRegistryKeys ApplicationRegistryKeys(std::uint8_t number);

inline constexpr const char* VersionValueName = "CurrentVersion";
inline constexpr const char* InstallDirectoryValueName = "Install Directory";

// --- Folders and executables ---

// Candidate profile roots relative to the home folder, in order of preference.
// SeaMonkey's list holds only its own root; the old suite's is OldSuiteProfileRoot.
std::vector<std::string> ProfileRootCandidates(std::uint8_t number);
// The first of roots (each ending in '/' or not) that holds profiles.ini, registry.dat
// or appreg; empty when none does.
std::string FirstRootWithProfileList(const std::vector<std::string>& roots);
// The profile root of an application: home + the first candidate that holds
// profiles.ini, registry.dat or appreg, else the first candidate; ends in '/'.
// Empty for 0, 10 and unknown numbers.
std::string ProfileRootFor(const std::string& home, std::uint8_t number);
// ~/.mozilla/, where the old Mozilla suite kept its binary registry "appreg".
std::string OldSuiteProfileRoot(const std::string& home);
// File names of the application's executables, in order of preference.
std::vector<std::string> ApplicationExecutables(std::uint8_t number);

// --- Installation table ---

struct TInstallRecord {
    bool Installed = false;    // a version of the application was found
    std::string Version;       // as read
    std::string InstallFolder; // as read; empty when not found
};

// The run-long table, indexed by number - 1 (the portable record is never filled).
std::array<TInstallRecord, ApplicationCount>& InstallationTable();
// The record of numbers 1..12; throws std::out_of_range for any other number.
TInstallRecord& InstallRecord(std::uint8_t number);
// Back to the state at program start (tests).
void ResetInstallationTable();

// --- Scanning ---

// What a scan learns the installations from: the registry view where one is set (a
// test's, or a registry as Windows holds it), else the application.ini files the
// platform finds on this system.
struct TInstallationSource {
    std::shared_ptr<const IRegistryView> Registry;
    std::vector<TInstalledApplication> Found;
    std::string Home; // where the profile folders are looked for; ends in '/'
};
// env's registry view where it has one, else what the platform finds.
TInstallationSource MachineInstallations(const TEnvironment& env);

// Rebuilds state.ApplicationList and the installation table: sets AppNumber to 0 and
// empties ProfileDir. Without a source, the machine's installations.
void ScanInstalledApplications(TSharedState& state);
void ScanInstalledApplications(TSharedState& state, const TInstallationSource& source);

// The lookups of one application, as the scan does them. When found: marks it
// installed with version and folder and appends "list prefix + version" to list; when
// not, appends a "(profiles only)" entry if one of its profile folders exists.
// Through a registry view: the version key, then the fallback keys of SeaMonkey,
// Firefox and Thunderbird when no installation folder was found.
void LookUpApplication(const TInstallationSource& source, std::uint8_t number,
                       std::vector<std::string>& list);

// Sets AppNumber and AppCodeName from the text of the chosen list entry; both keep
// their values when the text names no application.
void SelectApplication(TSharedState& state, const std::string& entry);

} // namespace tessarin
