#include "profiles/Catalogue.h"

#include "config/L10n.h"
#include "config/SharedState.h"
#include "platform/Folders.h"
#include "platform/RegistryView.h"

#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

struct TNameRow {
    const char* ListPrefix;
    const char* DisplayName;
    const char* FileWord;
    const char* CodeName;
    const char* BackupFolderKey;
};

// Indexed by number; row 0 is "none selected". The spellings "Messanger" and
// "PostBox" are what stored file names and older messages carry.
constexpr TNameRow Names[ApplicationCount + 1] = {
    {"", "", "", "", ""},
    {"SeaMonkey", "SeaMonkey", "SeaMonkey", "Mozilla", "suitedir"},
    {"Mozilla Firefox ", "Mozilla Firefox", "Firefox", "Firefox", "firefoxdir"},
    {"Mozilla Thunderbird ", "Mozilla Thunderbird", "Thunderbird", "Thunderbird", "thunderbirddir"},
    {"Mozilla Sunbird ", "Mozilla Sunbird", "Sunbird", "Sunbird", "sunbirddir"},
    {"Flock ", "Flock", "Flock", "Flock", "flockdir"},
    {"Netscape ", "Netscape", "Netscape", "Netscape", "netscapedir"},
    {"Netscape Messenger ", "Netscape Messanger", "Messanger", "Netscape Messenger",
     "netscapemessdir"},
    {"Spicebird ", "Spicebird", "Spicebird", "Spicebird", "spicebirddir"},
    {"Songbird ", "Songbird", "Songbird", "Songbird", "songbirddir"},
    {"", "", "Portable", "Portable", ""},
    {"PostBox ", "PostBox", "PostBox", "PostBox", ""},
    {"Wyzo ", "Wyzo", "Wyzo", "Wyzo", ""},
};

// Songbird never had a key of its own in the lookups; it is looked for under
// "SOFTWARE\mozilla\Songbird", next to the other applications built on Mozilla's
// platform (the registry view presents it there too).
constexpr TRegistryKeys Keys[ApplicationCount + 1] = {
    {},
    {"SOFTWARE\\mozilla\\SeaMonkey\\", "SOFTWARE\\mozilla\\SeaMonkey\\",
     "SOFTWARE\\mozilla.org\\SeaMonkey", "SOFTWARE\\mozilla.org\\SeaMonkey\\"},
    {"SOFTWARE\\mozilla\\Mozilla Firefox", "SOFTWARE\\mozilla\\Mozilla Firefox\\",
     "SOFTWARE\\mozilla.org\\Mozilla Firefox", "SOFTWARE\\mozilla.org\\Mozilla Firefox\\"},
    {"SOFTWARE\\mozilla\\Mozilla Thunderbird", "SOFTWARE\\mozilla\\Mozilla Thunderbird\\",
     "SOFTWARE\\mozilla.org\\Mozilla Thunderbird", "SOFTWARE\\mozilla.org\\Mozilla Thunderbird\\"},
    {"SOFTWARE\\mozilla\\Mozilla Sunbird", "SOFTWARE\\mozilla\\Mozilla Sunbird\\", "", ""},
    {"SOFTWARE\\Flock", "SOFTWARE\\Flock\\Flock\\", "", ""},
    {"SOFTWARE\\mozilla\\Netscape Navigator", "SOFTWARE\\mozilla\\Netscape Navigator\\", "", ""},
    {"SOFTWARE\\mozilla\\Netscape Messenger", "SOFTWARE\\mozilla\\Netscape Messenger\\", "", ""},
    {"SOFTWARE\\mozilla\\Spicebird", "SOFTWARE\\mozilla\\Spicebird\\", "", ""},
    {"SOFTWARE\\mozilla\\Songbird", "SOFTWARE\\mozilla\\Songbird\\", "", ""},
    {},
    {"SOFTWARE\\PostBox\\PostBox", "SOFTWARE\\PostBox\\PostBox\\", "", ""},
    {"SOFTWARE\\mozilla\\Wyzo", "SOFTWARE\\mozilla\\Wyzo\\", "", ""},
};

bool Known(std::uint8_t number)
{
    return number >= 1 && number <= ApplicationCount;
}

std::array<TInstallRecord, ApplicationCount> g_installations;

bool HoldsProfileList(const fs::path& root)
{
    std::error_code ec;
    return fs::exists(root / "profiles.ini", ec) || fs::exists(root / "registry.dat", ec) ||
           fs::exists(root / "appreg", ec);
}

std::string HomeFolder()
{
    return WithTrailingSeparator(Folders().Home);
}

bool Contains(const std::string& text, const std::string& fragment)
{
    return !fragment.empty() && text.find(fragment) != std::string::npos;
}

} // namespace

std::string ApplicationListPrefix(std::uint8_t number)
{
    return number <= ApplicationCount ? Names[number].ListPrefix : "";
}

std::string ApplicationProbePrefix(std::uint8_t number)
{
    return number == AppSeaMonkey ? "SeaMonkey/Mozilla " : ApplicationListPrefix(number);
}

std::string ApplicationDisplayName(std::uint8_t number, const std::string& otherwise)
{
    if (!Known(number) || number == AppPortable)
        return otherwise;
    return Names[number].DisplayName;
}

std::string ApplicationFileWord(std::uint8_t number, const std::string& portableFolder)
{
    if (Known(number) && number != AppPortable)
        return Names[number].FileWord;
    return portableFolder.empty() ? "" : "Portable";
}

std::string ApplicationCodeName(std::uint8_t number)
{
    return number <= ApplicationCount ? Names[number].CodeName : "";
}

std::string BackupFolderKey(std::uint8_t number)
{
    return number <= ApplicationCount ? Names[number].BackupFolderKey : "";
}

TRegistryKeys ApplicationRegistryKeys(std::uint8_t number)
{
    return number <= ApplicationCount ? Keys[number] : TRegistryKeys{};
}

std::vector<std::string> ProfileRootCandidates(std::uint8_t number)
{
    switch (number) {
    case AppSeaMonkey:
        return {".mozilla/seamonkey"};
    case AppFirefox:
        return {".mozilla/firefox", ".config/mozilla/firefox",
                "snap/firefox/common/.mozilla/firefox",
                ".var/app/org.mozilla.firefox/.mozilla/firefox",
                ".var/app/org.mozilla.firefox/config/mozilla/firefox"};
    case AppThunderbird:
        return {".thunderbird", ".config/thunderbird", "snap/thunderbird/common/.thunderbird",
                ".var/app/org.mozilla.Thunderbird/.thunderbird"};
    case AppSunbird:
        return {".mozilla/sunbird"};
    case AppFlock:
        return {".flock/browser"};
    case AppNetscape:
        return {".netscape/navigator"};
    case AppNetscapeMessenger:
        return {".netscape/messenger"};
    case AppSpicebird:
        return {".spicebird"};
    case AppSongbird:
        return {".songbird2"};
    case AppPostBox:
        return {".postbox"};
    case AppWyzo:
        return {".wyzo"};
    default:
        return {};
    }
}

std::string ProfileRootFor(std::uint8_t number)
{
    const std::vector<std::string> candidates = ProfileRootCandidates(number);
    if (candidates.empty())
        return {};
    const std::string home = HomeFolder();
    for (const std::string& candidate : candidates)
        if (HoldsProfileList(home + candidate))
            return WithTrailingSeparator(home + candidate);
    return WithTrailingSeparator(home + candidates.front());
}

std::string OldSuiteProfileRoot()
{
    return HomeFolder() + ".mozilla/";
}

std::vector<std::string> ApplicationExecutables(std::uint8_t number)
{
    switch (number) {
    case AppSeaMonkey:
        return {"seamonkey", "seamonkey-bin"};
    case AppFirefox:
        return {"firefox", "firefox-esr", "firefox-bin"};
    case AppThunderbird:
        return {"thunderbird", "thunderbird-bin"};
    case AppSunbird:
        return {"sunbird", "sunbird-bin"};
    case AppFlock:
        return {"flock", "flock-bin"};
    case AppNetscape:
        return {"netscape", "navigator"};
    case AppNetscapeMessenger:
        return {"messenger"};
    case AppSpicebird:
        return {"spicebird", "spicebird-bin"};
    case AppSongbird:
        return {"songbird"};
    case AppPostBox:
        return {"postbox"};
    case AppWyzo:
        return {"wyzo"};
    default:
        return {};
    }
}

std::array<TInstallRecord, ApplicationCount>& InstallationTable()
{
    return g_installations;
}

TInstallRecord& InstallRecord(std::uint8_t number)
{
    if (!Known(number))
        throw std::out_of_range("no installation record for application " + std::to_string(number));
    return g_installations[number - 1];
}

void ResetInstallationTable()
{
    g_installations = {};
}

bool DetectByRegistry(const IRegistryView& registry, const std::string& versionKey,
                      const std::string& valueName, std::uint8_t number, bool firefoxQuiet,
                      bool probeWhenMissing, std::vector<std::string>& list)
{
    if (!Known(number) || number == AppPortable)
        return false;
    const std::optional<std::string> version = registry.ReadString(versionKey, valueName);
    if (version) {
        TInstallRecord& record = InstallRecord(number);
        record.Installed = true;
        record.Version = *version;
        list.push_back(ApplicationListPrefix(number) + *version);
        return true;
    }
    if (probeWhenMissing)
        ProbeProfileOnly(number, firefoxQuiet, list);
    return false;
}

void ReadInstallDirectory(const IRegistryView& registry, const std::string& folderKey,
                          const std::string& valueName, std::uint8_t number)
{
    if (!Known(number) || number == AppPortable)
        return;
    if (const std::optional<std::string> folder = registry.ReadString(folderKey, valueName))
        InstallRecord(number).InstallFolder = *folder;
}

void ProbeProfileOnly(std::uint8_t number, bool firefoxQuiet, std::vector<std::string>& list)
{
    if (!Known(number) || number == AppPortable)
        return;
    const std::string home = HomeFolder();
    std::error_code ec;
    bool exists = false;
    for (const std::string& candidate : ProfileRootCandidates(number))
        if (fs::is_directory(home + candidate, ec)) {
            exists = true;
            break;
        }
    // The old suite shares ~/.mozilla with Firefox: only its registry marks it.
    if (!exists && number == AppSeaMonkey)
        exists = fs::is_directory(OldSuiteProfileRoot(), ec) &&
                 fs::exists(OldSuiteProfileRoot() + "appreg", ec);
    if (!exists || InstallRecord(number).Installed)
        return;
    if (number == AppFirefox && firefoxQuiet)
        return;
    list.push_back(ApplicationProbePrefix(number) + Text("TForm1", "LANG_ONLYPROFIL"));
}

void LookUpApplication(const IRegistryView& registry, std::uint8_t number,
                       std::vector<std::string>& list)
{
    if (!Known(number) || number == AppPortable)
        return;
    const TRegistryKeys keys = ApplicationRegistryKeys(number);
    const bool withFallback = *keys.FallbackVersionKey != '\0';
    const auto folderKey = [&](const char* prefix) {
        return std::string(prefix) + InstallRecord(number).Version + "\\Main";
    };
    DetectByRegistry(registry, keys.VersionKey, VersionValueName, number, number == AppFirefox,
                     !withFallback, list);
    ReadInstallDirectory(registry, folderKey(keys.FolderKeyPrefix), InstallDirectoryValueName,
                         number);
    if (withFallback && InstallRecord(number).InstallFolder.empty()) {
        DetectByRegistry(registry, keys.FallbackVersionKey, VersionValueName, number, false, true,
                         list);
        ReadInstallDirectory(registry, folderKey(keys.FallbackFolderKeyPrefix),
                             InstallDirectoryValueName, number);
    }
}

void ScanInstalledApplications(TSharedState& state)
{
    for (TInstallRecord& record : g_installations)
        record.InstallFolder.clear();
    state.AppNumber = AppNone;
    state.ProfileDir.clear();

    const std::shared_ptr<const IRegistryView> registry = OpenMachineRegistry();
    state.ApplicationList.clear();
    for (std::uint8_t number :
         {AppSeaMonkey, AppFirefox, AppThunderbird, AppSunbird, AppFlock, AppNetscape,
          AppNetscapeMessenger, AppSpicebird, AppSongbird, AppPostBox, AppWyzo})
        LookUpApplication(*registry, number, state.ApplicationList);
    state.ApplicationList.push_back(Text("Tessarin14", "LANG_PORTABLE_APPS"));
}

void SelectApplication(TSharedState& state, const std::string& entry)
{
    const auto pick = [&](std::uint8_t number) {
        state.AppNumber = number;
        state.AppCodeName = ApplicationCodeName(number);
    };
    // Every matching fragment overrides the one before: an entry naming both
    // Firefox and Thunderbird selects Thunderbird.
    if (Contains(entry, "SeaMonkey"))
        pick(AppSeaMonkey);
    if (Contains(entry, "Firefox"))
        pick(AppFirefox);
    if (Contains(entry, "Thunderbird"))
        pick(AppThunderbird);
    if (Contains(entry, "Sunbird"))
        pick(AppSunbird);
    if (Contains(entry, "Flock"))
        pick(AppFlock);
    if (Contains(entry, "Netscape Messenger"))
        pick(AppNetscapeMessenger);
    else if (Contains(entry, "Netscape"))
        pick(AppNetscape);
    if (Contains(entry, "Spicebird"))
        pick(AppSpicebird);
    if (Contains(entry, "Songbird"))
        pick(AppSongbird);
    if (Contains(entry, Text("Tessarin14", "LANG_PORTABLE_APPS")))
        pick(AppPortable);
    if (Contains(entry, "PostBox"))
        pick(AppPostBox);
    if (Contains(entry, "Wyzo"))
        pick(AppWyzo);
}

} // namespace tessarin
