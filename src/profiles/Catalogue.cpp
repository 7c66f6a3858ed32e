#include "profiles/Catalogue.h"

#include "config/Environment.h"
#include "config/L10n.h"
#include "config/SharedState.h"
#include "platform/IniFile.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

std::array<TInstallRecord, ApplicationCount> g_installations;

bool HoldsProfileList(const fs::path& root)
{
    std::error_code ec;
    return fs::exists(root / "profiles.ini", ec) || fs::exists(root / "registry.dat", ec) ||
           fs::exists(root / "appreg", ec);
}

bool Contains(const std::string& text, const std::string& fragment)
{
    return !fragment.empty() && text.find(fragment) != std::string::npos;
}

bool Detectable(std::uint8_t number)
{
    return IsKnownApplication(number) && number != AppPortable;
}

void ProbeProfileOnly(const std::string& home, const TApplication& app,
                      std::vector<std::string>& list)
{
    std::error_code ec;
    const bool exists =
        std::any_of(app.ProfileRoots.begin(), app.ProfileRoots.end(),
                    [&](const char* root) { return fs::is_directory(home + root, ec); }) ||
        (*app.LegacyRoot != '\0' && fs::is_directory(home + app.LegacyRoot, ec) &&
         fs::exists(home + app.LegacyRoot + "/appreg", ec));
    if (exists && !InstallRecord(app.Number).Installed)
        list.push_back(app.ProbePrefix + Text("TForm1", "LANG_ONLYPROFIL"));
}

// One version lookup: marks the application installed when the value is there.
bool ReadVersion(const IRegistryView& registry, const char* key, const TApplication& app,
                 std::vector<std::string>& list)
{
    const std::optional<std::string> version = registry.ReadString(key, VersionValueName);
    if (!version)
        return false;
    TInstallRecord& record = InstallRecord(app.Number);
    record.Installed = true;
    record.Version = *version;
    list.push_back(app.ListPrefix + *version);
    return true;
}

// The folder under "<prefix><version>\Main", for the version the record holds now.
void ReadInstallFolder(const IRegistryView& registry, const char* prefix, std::uint8_t number)
{
    TInstallRecord& record = InstallRecord(number);
    const std::string key = std::string(prefix) + record.Version + "\\Main";
    if (const std::optional<std::string> folder =
            registry.ReadString(key, InstallDirectoryValueName))
        record.InstallFolder = *folder;
}

void LookUpInRegistry(const IRegistryView& registry, const std::string& home,
                      const TApplication& app, std::vector<std::string>& list)
{
    const TRegistryKeys& keys = app.Keys;
    const bool withFallback = *keys.FallbackVersionKey != '\0';
    if (!ReadVersion(registry, keys.VersionKey, app, list) && !withFallback)
        ProbeProfileOnly(home, app, list);
    ReadInstallFolder(registry, keys.FolderKeyPrefix, app.Number);
    if (withFallback && InstallRecord(app.Number).InstallFolder.empty()) {
        if (!ReadVersion(registry, keys.FallbackVersionKey, app, list))
            ProbeProfileOnly(home, app, list);
        ReadInstallFolder(registry, keys.FallbackFolderKeyPrefix, app.Number);
    }
}

// The first installation found of one of the application's builds gives version and
// folder.
void LookUpAmong(const std::vector<TInstalledApplication>& found, const std::string& home,
                 const TApplication& app, std::vector<std::string>& list)
{
    const auto isBuild = [&](const TInstalledApplication& installed) {
        return std::any_of(app.IniNames.begin(), app.IniNames.end(),
                           [&](const char* name) { return EqualsNoCase(name, installed.Name); });
    };
    const auto build = std::find_if(found.begin(), found.end(), isBuild);
    if (build == found.end()) {
        ProbeProfileOnly(home, app, list);
        return;
    }
    TInstallRecord& record = InstallRecord(app.Number);
    record.Installed = true;
    record.Version = build->Version;
    record.InstallFolder = build->Folder;
    list.push_back(app.ListPrefix + build->Version);
}

} // namespace

std::string ApplicationListPrefix(std::uint8_t number)
{
    return Application(number).ListPrefix;
}

std::string ApplicationProbePrefix(std::uint8_t number)
{
    return Application(number).ProbePrefix;
}

std::string ApplicationDisplayName(std::uint8_t number, const std::string& otherwise)
{
    return Detectable(number) ? std::string(Application(number).DisplayName) : otherwise;
}

std::string ApplicationFileWord(std::uint8_t number, const std::string& portableFolder)
{
    if (Detectable(number))
        return Application(number).FileWord;
    return portableFolder.empty() ? "" : "Portable";
}

std::string ApplicationCodeName(std::uint8_t number)
{
    return Application(number).CodeName;
}

std::string BackupFolderKey(std::uint8_t number)
{
    return Application(number).BackupFolderKey;
}

TRegistryKeys ApplicationRegistryKeys(std::uint8_t number)
{
    return Application(number).Keys;
}

std::vector<std::string> ProfileRootCandidates(std::uint8_t number)
{
    const auto& roots = Application(number).ProfileRoots;
    return {roots.begin(), roots.end()};
}

std::string FirstRootWithProfileList(const std::vector<std::string>& roots)
{
    const auto found = std::find_if(roots.begin(), roots.end(), HoldsProfileList);
    return found == roots.end() ? std::string() : *found;
}

std::string ProfileRootFor(const std::string& home, std::uint8_t number)
{
    std::vector<std::string> roots;
    for (const char* candidate : Application(number).ProfileRoots)
        roots.push_back(WithTrailingSeparator(home) + candidate);
    if (roots.empty())
        return {};
    const std::string found = FirstRootWithProfileList(roots);
    return WithTrailingSeparator(found.empty() ? roots.front() : found);
}

std::string OldSuiteProfileRoot(const std::string& home)
{
    return WithTrailingSeparator(WithTrailingSeparator(home) +
                                 Application(AppSeaMonkey).LegacyRoot);
}

std::vector<std::string> ApplicationExecutables(std::uint8_t number)
{
    const auto& names = Application(number).Executables;
    return {names.begin(), names.end()};
}

std::array<TInstallRecord, ApplicationCount>& InstallationTable()
{
    return g_installations;
}

TInstallRecord& InstallRecord(std::uint8_t number)
{
    if (!IsKnownApplication(number))
        throw std::out_of_range("no installation record for application " + std::to_string(number));
    return g_installations[number - 1];
}

void ResetInstallationTable()
{
    g_installations = {};
}

TInstallationSource MachineInstallations(const TEnvironment& env)
{
    TInstallationSource source;
    source.Registry = env.MachineRegistry;
    if (!source.Registry)
        source.Found = FindInstalledApplications(DefaultInstallSearch("/", env.Folders.Home));
    source.Home = WithTrailingSeparator(env.Folders.Home);
    return source;
}

void LookUpApplication(const TInstallationSource& source, std::uint8_t number,
                       std::vector<std::string>& list)
{
    if (!Detectable(number))
        return;
    if (source.Registry)
        LookUpInRegistry(*source.Registry, source.Home, Application(number), list);
    else
        LookUpAmong(source.Found, source.Home, Application(number), list);
}

void ScanInstalledApplications(TSharedState& state)
{
    ScanInstalledApplications(state, MachineInstallations(state.Env));
}

void ScanInstalledApplications(TSharedState& state, const TInstallationSource& source)
{
    for (TInstallRecord& record : g_installations)
        record.InstallFolder.clear();
    state.AppNumber = AppNone;
    state.ProfileDir.clear();
    state.ApplicationList.clear();
    for (const TApplication& app : Applications())
        LookUpApplication(source, app.Number, state.ApplicationList);
    state.ApplicationList.push_back(Text("Tessarin14", "LANG_PORTABLE_APPS"));
}

void SelectApplication(TSharedState& state, const std::string& entry)
{
    // Every matching fragment overrides the one before: an entry naming both Firefox
    // and Thunderbird selects Thunderbird, "Netscape Messenger" the messenger.
    for (const TApplication& app : Applications()) {
        const std::string fragment =
            app.Number == AppPortable ? Text("Tessarin14", "LANG_PORTABLE_APPS") : app.WizardName;
        if (Contains(entry, fragment)) {
            state.AppNumber = app.Number;
            state.AppCodeName = app.CodeName;
        }
    }
}

} // namespace tessarin
