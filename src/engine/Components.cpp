#include "engine/Components.h"

#include "archive/ArchiveNames.h"
#include "config/L10n.h"
#include "engine/PrefsParser.h"
#include "platform/Folders.h"
#include "platform/IniFile.h"

#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

using K = TMemberKind;
using M = TMarkerKind;

// clang-format off
// Tables read best one group per line.
constexpr TFileSetMember F(std::string_view n) { return {K::File, n}; }
constexpr TFileSetMember D(std::string_view n) { return {K::Folder, n}; }
constexpr TFileSetMember Mk(std::string_view n) { return {K::Mask, n}; }
constexpr TFileSetMember Sub(std::string_view n) { return {K::SubfolderMask, n}; }

// The sets were drawn up when passwords lived in signons.sqlite/key3.db and address
// books in abook.mab; the names of today's Firefox and Thunderbird follow the old
// ones in each group, so every old name and the index stay as they were.

// --- Backup sets: named files, folders, masks ---

constexpr TFileSetMember Backup1[] = {
    F("prefs.js"), F("user.js"), F("cookperm.txt"), F("hostperm.1"), F("permissions.sqlite"),
    F("mimeTypes.rdf"), F("ac-weights.txt"), F("localstore.rdf"), F("localstore-safe.rdf"),
    F("persdict.dat"), F("search.rdf"), F("search.json"), F("search.sqlite"),
    F("listing-downloaded.xml"), F("listing-uploaded.xml"), F("sessionstore.js"),
    F("sessionstore.json"), F("urlclassifier.sqlite"), F("urlclassifier2.sqlite"),
    F("urlclassifier3.sqlite"), F("urlclassifierkey3.txt"), F("urlclassifierkey4.txt"),
    F("kf.txt"), F("webappsstore.sqlite"), F("blocklist.xml"), F("metrics.xml"),
    F("metrics-config.xml"), F("content-prefs.sqlite"), F("session.json"),
    F("chromeappsstore.sqlite"),
    F("xulstore.json"), F("containers.json"), F("handlers.json"), F("search.json.mozlz4"),
    F("sessionstore.jsonlz4"), F("protections.sqlite"), F("permissions.sqlite-wal"),
    F("content-prefs.sqlite-wal"), F("credentialstate.sqlite"),
    D("microsummary-generators"), D("weave"), D("sessionstore-backups")};

constexpr TFileSetMember Backup2[] = {
    F("prefs.js"), F("mailViews.dat"), F("panacea.dat"), F("training.dat"),
    F("virtualFolders.dat"), F("folderTree.json"), F("traits.dat"), F("mailsessionstore.js"),
    F("msgfti.sqlite"), F("junklog.html"), F("global-messages-db.sqlite")};

constexpr TFileSetMember Backup3[] = {F("abook.sqlite"), F("history.sqlite"), D("Photos"),
                                      Mk("*.mab"), Mk("abook-*.sqlite")};

constexpr TFileSetMember Backup4[] = {
    F("bookmarks.html"), F("bookmarks.bak"), F("bookmarks_history.sqlite"), F("places.sqlite"),
    F("places.sqlite-journal"), F("bookmarks.postplaces.html"), F("bookmarks.preplaces.html"),
    F("favicons.sqlite"), F("places.sqlite-wal"), F("favicons.sqlite-wal"),
    D("bookmarkbackups")};

constexpr TFileSetMember Backup5[] = {
    F("history.dat"), F("bookmarks_history.sqlite"), F("places.sqlite"), F("url-data.txt"),
    F("urlbarhistory.sqlite"), F("favicons.sqlite"), F("places.sqlite-wal"),
    F("favicons.sqlite-wal")};

constexpr TFileSetMember Backup6[] = {F("panels.rdf")};

constexpr TFileSetMember Backup8[] = {F("chrome/userContent.css"), F("chrome/userChrome.css")};

constexpr TFileSetMember Backup9[] = {
    F("signons.txt"), F("signons2.txt"), F("signons3.txt"), F("signons4.txt"), F("signons5.txt"),
    F("signons.sqlite"), F("key3.db"), F("logins.json"), F("logins-backup.json"), F("logins.db"),
    F("key4.db"), Mk("*.s")};

// Sites' local storage, IndexedDB and Cache API data: Firefox clears them together
// with the cookies. "file++" covers pages opened from disk.
constexpr TFileSetMember Backup10[] = {
    F("cookies.txt"), F("cookies.sqlite"), F("cookies.sqlite-wal"),
    Sub("storage/default/http+++*"), Sub("storage/default/https+++*"),
    Sub("storage/default/file++*")};

constexpr TFileSetMember Backup11[] = {F("formhistory.dat"), F("URL.tbl"), F("formhistory.sqlite"),
                                       F("autofill-profiles.json"), F("formhistory.sqlite-wal"),
                                       Mk("*.w")};

constexpr TFileSetMember Backup12[] = {F("downloads.sqlite"), F("downloads.rdf")};

constexpr TFileSetMember Backup13[] = {
    F("cert7.db"), F("cert8.db"), F("key3.db"), F("secmod.db"), F("cert_override.txt"),
    F("cert9.db"), F("key4.db"), F("pkcs11.txt"), F("ClientAuthRememberList.txt"),
    F("ClientAuthRememberList.bin"), D("cert7.dir"), D("cert8.dir")};

// The add-ons' own data: storage.sync, granted permissions, registered scripts, menus
// and rules, and storage.local with the IndexedDB of their pages.
constexpr TFileSetMember Backup14[] = {
    F("extensions.rdf"), F("extensions.sqlite"), F("extensions.log"), F("addons.sqlite"),
    F("lightweighttheme-footer"), F("lightweighttheme-header"), F("extensions.json"),
    F("extension-preferences.json"), F("extension-settings.json"), F("addonStartup.json.lz4"),
    F("storage-sync-v2.sqlite"), F("storage-sync-v2.sqlite-wal"),
    D("extensions"), D("chrome"), D("searchplugins"), D("browser-extension-data"),
    D("extension-store"), D("extension-store-permissions"), D("extension-store-menus"),
    D("extension-store-userscripts"), D("extension-dnr"),
    Sub("storage/default/moz-extension+++*"), Sub("storage/permanent/moz-extension+++*")};

constexpr TFileSetMember Backup15[] = {D("cache"), D("OfflineCache"), D("cache2"),
                                       D("startupCache")};

// --- Restore sets, in extraction order ---

constexpr TFileSetMember Restore1[] = {
    F("prefs.js"), F("cookperm.txt"), F("hostperm.1"), F("permissions.sqlite"),
    F("mimeTypes.rdf"), F("user.js"), F("ac-weights.txt"), F("localstore.rdf"),
    F("localstore-safe.rdf"), F("persdict.dat"), F("search.rdf"), F("search.json"),
    F("search.sqlite"), F("listing-downloaded.xml"), F("listing-uploaded.xml"),
    F("sessionstore.js"), F("sessionstore.json"), F("urlclassifier.sqlite"),
    F("urlclassifier2.sqlite"), F("urlclassifier3.sqlite"), F("kf.txt"),
    F("webappsstore.sqlite"), F("blocklist.xml"), F("metrics.xml"), F("metrics-config.xml"),
    F("content-prefs.sqlite"), F("session.json"), F("chromeappsstore.sqlite"),
    F("urlclassifierkey3.txt"), F("urlclassifierkey4.txt"),
    F("xulstore.json"), F("containers.json"), F("handlers.json"), F("search.json.mozlz4"),
    F("sessionstore.jsonlz4"), F("protections.sqlite"), F("permissions.sqlite-wal"),
    F("content-prefs.sqlite-wal"), F("credentialstate.sqlite"),
    D("microsummary-generators"), D("weave"), D("sessionstore-backups")};

constexpr TFileSetMember Restore2[] = {
    F("prefs.js"), F("mailViews.dat"), F("panacea.dat"), F("training.dat"),
    F("virtualFolders.dat"), F("global-messages-db.sqlite"), F("folderTree.json"),
    F("traits.dat"), F("junklog.html")};

constexpr TFileSetMember Restore3[] = {F("abook.sqlite"), F("history.sqlite"), D("Photos"),
                                       Mk("*.mab"), Mk("abook-*.sqlite")};

constexpr TFileSetMember Restore4[] = {
    F("bookmarks.html"), F("bookmarks.bak"), F("bookmarks_history.sqlite"), F("places.sqlite"),
    F("places.sqlite-journal"), F("bookmarks.postplaces.html"), F("bookmarks.preplaces.html"),
    F("favicons.sqlite"), F("places.sqlite-wal"), F("favicons.sqlite-wal"),
    D("bookmarkbackups")};

constexpr TFileSetMember Restore5[] = {
    F("history.dat"), F("bookmarks_history.sqlite"), F("places.sqlite"),
    F("places.sqlite-journal"), F("url-data.txt"), F("urlbarhistory.sqlite"),
    F("favicons.sqlite"), F("places.sqlite-wal"), F("favicons.sqlite-wal")};

constexpr TFileSetMember Restore6[] = {F("panels.rdf")};

constexpr TFileSetMember Restore8[] = {F("chrome/userContent.css"), F("chrome/userChrome.css")};

constexpr TFileSetMember Restore9[] = {
    Mk("*.s"), F("signons.txt"), F("signons2.txt"), F("signons3.txt"), F("signons4.txt"),
    F("signons5.txt"), F("signons.sqlite"), F("key3.db"), F("logins.json"),
    F("logins-backup.json"), F("logins.db"), F("key4.db")};

constexpr TFileSetMember Restore10[] = {
    F("cookies.txt"), F("cookies.sqlite"), F("cookies.sqlite-journal"), F("cookies.sqlite-wal"),
    Sub("storage/default/http+++*"), Sub("storage/default/https+++*"),
    Sub("storage/default/file++*")};

constexpr TFileSetMember Restore11[] = {F("formhistory.dat"), F("formhistory.sqlite"),
                                        F("URL.tbl"), F("autofill-profiles.json"),
                                        F("formhistory.sqlite-wal"), Mk("*.w")};

constexpr TFileSetMember Restore12[] = {F("downloads.rdf"), F("downloads.sqlite")};

constexpr TFileSetMember Restore13[] = {
    F("cert7.db"), F("cert8.db"), F("key3.db"), F("secmod.db"), F("cert_override.txt"),
    F("cert9.db"), F("key4.db"), F("pkcs11.txt"), F("ClientAuthRememberList.txt"),
    F("ClientAuthRememberList.bin"), D("cert7.dir"), D("cert8.dir")};

constexpr TFileSetMember Restore14[] = {
    F("extensions.log"), F("extensions.sqlite"), F("addons.sqlite"),
    F("lightweighttheme-footer"), F("lightweighttheme-header"), F("extensions.json"),
    F("extension-preferences.json"), F("extension-settings.json"), F("addonStartup.json.lz4"),
    F("storage-sync-v2.sqlite"), F("storage-sync-v2.sqlite-wal"),
    D("extensions"), D("chrome"), D("searchplugins"), D("browser-extension-data"),
    D("extension-store"), D("extension-store-permissions"), D("extension-store-menus"),
    D("extension-store-userscripts"), D("extension-dnr"),
    Sub("storage/default/moz-extension+++*"), Sub("storage/permanent/moz-extension+++*")};

// No startupCache: another profile's breaks the built-in add-ons, and the restore
// removes the target's own.
constexpr TFileSetMember Restore15[] = {D("cache"), D("OfflineCache"), D("cache2")};

constexpr TFileSetMember ExtensionData[] = {
    D("adblockplus"),   F("bookmarks.xml"),     F("clipdat.rdf"),       D("colorzilla"),
    F("crashrecovery.dat"), D("GoogleToolbarData"), D("gm_scripts"),    D("forecastfox"),
    D("ChatZilla"),     F("storage.sdb"),       D("calendar-data"),     F("menuedit.rdf"),
    F("mousegestures.rdf"), F("prefbar.rdf"),   D("ScrapBook"),         F("stylish.rdf"),
    F("session.rdf"),   F("tabextensions.js"),  F("tabextensions.rdf"), F("viewSource.xml")};

// --- Applications a restore leaves a component out for ---

constexpr std::uint8_t SkipFirefox[] = {2};
constexpr std::uint8_t SkipThunderbird[] = {3};
constexpr std::uint8_t SkipSeaMonkey[] = {1};

// --- Markers ---

constexpr TMarker Markers1[] = {{M::File, "prefs.js"}};
constexpr TMarker Markers2[] = {{M::Mail, ""}};
constexpr TMarker Markers3[] = {{M::File, "abook.mab"}, {M::File, "abook.sqlite"}};
constexpr TMarker Markers4[] = {
    {M::File, "bookmarks.html"}, {M::File, "bookmarks_history.sqlite"}, {M::File, "places.sqlite"}};
constexpr TMarker Markers5[] = {
    {M::File, "history.dat"}, {M::File, "bookmarks_history.sqlite"}, {M::File, "places.sqlite"}};
constexpr TMarker Markers6[] = {{M::File, "panels.rdf"}};
constexpr TMarker Markers8[] = {{M::File, "chrome/userChrome.css"},
                                {M::File, "chrome/userContent.css"}};
// "signons5.txt" is stored but is no marker.
constexpr TMarker Markers9[] = {
    {M::Mask, "*.s"},          {M::File, "signons.txt"},    {M::File, "signons2.txt"},
    {M::File, "signons3.txt"}, {M::File, "signons4.txt"},   {M::File, "signons.sqlite"},
    {M::File, "logins.json"},  {M::File, "logins.db"}};
constexpr TMarker Markers10[] = {{M::File, "cookies.txt"}, {M::File, "cookies.sqlite"}};
constexpr TMarker Markers11[] = {
    {M::Mask, "*.w"}, {M::File, "formhistory.dat"}, {M::File, "formhistory.sqlite"}};
constexpr TMarker Markers12[] = {{M::File, "downloads.rdf"}, {M::File, "downloads.sqlite"}};
constexpr TMarker Markers13[] = {{M::File, "key3.db"},  {M::File, "cert7.db"},
                                 {M::File, "cert8.db"}, {M::File, "secmod.db"},
                                 {M::File, "cert9.db"}, {M::File, "key4.db"}};
// Linux folders are "extensions" and "cache2"; Windows compared "Extensions" and
// "Cache" without regard to case, and so do we.
constexpr TMarker Markers14[] = {{M::FolderNoCase, "Extensions"}, {M::File, "extensions.json"}};
constexpr TMarker Markers15[] = {{M::FolderNoCase, "Cache"}, {M::FolderNoCase, "cache2"}};

using R = TDefaultRule;

const TComponent Components[] = {
    {1, "LANG_CHECKBOX1", "", "LANG_AKCE_OBECNE1", "LANG_AKCE_OBECNE_R_OK", Backup1, Restore1, {},
     Markers1, R::Checked},
    {2, "LANG_CHECKBOX2", "", "LANG_AKCE_MAIL1", "LANG_AKCE_MAIL_R_OK", Backup2, Restore2,
     SkipFirefox, Markers2, R::Checked},
    {3, "LANG_CHECKBOX3", "", "LANG_KONTATKY1", "LANG_AKCE_KONTAKTY_R_OK", Backup3, Restore3,
     SkipFirefox, Markers3, R::Checked},
    {4, "LANG_CHECKBOX4", "", "LANG_FAVORITES1", "LANG_AKCE_FAVORITES_R_OK", Backup4, Restore4,
     SkipThunderbird, Markers4, R::Checked},
    {5, "LANG_CHECKBOX5", "", "LANG_HISTORIE1", "LANG_AKCE_HISTORIE_R_OK", Backup5, Restore5,
     SkipThunderbird, Markers5, R::Checked},
    {6, "LANG_CHECKBOX6", "", "LANG_PANELY1", "LANG_AKCE_PANELY_R_OK", Backup6, Restore6,
     SkipThunderbird, Markers6, R::Checked},
    {7, "LANG_CHECKBOX7", "", "", "", {}, {}, {}, {}, R::FollowsEmails},
    {8, "LANG_CHECKBOX8", "", "LANG_STYLY1", "LANG_AKCE_STYLY_R_OK", Backup8, Restore8, {},
     Markers8, R::Checked},
    {9, "LANG_CHECKBOX9", "", "LANG_HESLA1", "LANG_AKCE_HESLA_R_OK", Backup9, Restore9, {},
     Markers9, R::Checked},
    {10, "LANG_CHECKBOX10", "", "LANG_COOKIES1", "LANG_AKCE_COOKIES_R_OK", Backup10, Restore10,
     SkipThunderbird, Markers10, R::Checked},
    {11, "LANG_CHECKBOX11", "", "LANG_FORMULAR1", "LANG_AKCE_FORMULARE_R_OK", Backup11, Restore11,
     SkipThunderbird, Markers11, R::Checked},
    {12, "LANG_CHECKBOX12", "", "LANG_DOWNLOAD1", "LANG_AKCE_SOUBORY_R_OK", Backup12, Restore12,
     SkipThunderbird, Markers12, R::Checked},
    {13, "LANG_CHECKBOX13", "", "LANG_CERTIF1", "LANG_CERTIF_R_OK", Backup13, Restore13, {},
     Markers13, R::Checked},
    {14, "LANG_CHECKBOX14", "LANG_CHECKBOX14_HINT", "LANG_EXTENSIONS1",
     "LANG_AKCE_EXTENSIONS_R_OK", Backup14, Restore14, SkipSeaMonkey, Markers14,
     R::CheckedWithHint},
    {15, "LANG_CHECKBOX15", "", "LANG_CACHE1", "LANG_AKCE_CACHE_R_OK", Backup15, Restore15,
     SkipSeaMonkey, Markers15, R::EnabledUnchecked},
};
static_assert(std::size(Components) == ComponentCount);

constexpr int BackupOrder[] = {1, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15};
constexpr int RestoreOrder[] = {1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15};

constexpr TFolderWalk MailWalksAll[] = {{"ImapMail", "*.*"}, {"Mail", "*.*"}, {"News", "*.*"}};
constexpr TFolderWalk MailWalksAccounts[] = {{"Mail", "*.dat"},     {"Mail", "*.rdf"},
                                             {"ImapMail", "*.dat"}, {"ImapMail", "*.rdf"},
                                             {"News", "*.msf"},     {"News", "*.rc"}};
constexpr std::string_view ExternalMasksAll[] = {"*.*"};
constexpr std::string_view ExternalMasksAccounts[] = {"*.dat", "*.rdf", "*.msf", "*.rc"};

constexpr std::string_view IndexOnlyMailFile = "global-messages-db.sqlite";

// clang-format on

// Top-level entries of a profile folder, listed once for the markers that need a listing.
struct TTopLevel {
    std::vector<std::string> Files;
    std::vector<std::string> Folders;
};

TTopLevel ListTopLevel(const std::string& folder)
{
    TTopLevel out;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeEc;
        if (it->is_directory(typeEc))
            out.Folders.push_back(it->path().filename().string());
        else if (!typeEc)
            out.Files.push_back(it->path().filename().string());
    }
    return out;
}

bool IsFile(const std::string& path)
{
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    return fs::exists(status) && !fs::is_directory(status);
}

bool MarkerPresent(const TMarker& marker, const std::string& folder, const TTopLevel& top)
{
    switch (marker.Kind) {
    case TMarkerKind::File:
        return IsFile(folder + std::string(marker.Name));
    case TMarkerKind::FolderNoCase:
        for (const std::string& name : top.Folders)
            if (EqualsNoCase(name, marker.Name))
                return true;
        return false;
    case TMarkerKind::Mask:
        for (const std::string& name : top.Files)
            if (NameMatchesMask(name, marker.Name))
                return true;
        return false;
    case TMarkerKind::Mail:
        return ProfileHasMail(folder);
    }
    return false;
}

void Refuse(IUserInterface& ui)
{
    ui.WarningBox(Text("TForm1", "LANG_WARNING"), Text("TForm1", "LANG_BAD_PROFIL"));
    throw TProgramExit{1};
}

} // namespace

const TComponent& Component(int number)
{
    if (number < 1 || number > ComponentCount)
        throw std::out_of_range("no component " + std::to_string(number));
    return Components[number - 1];
}

std::span<const TComponent> AllComponents()
{
    return Components;
}
std::span<const int> BackupComponentOrder()
{
    return BackupOrder;
}
std::span<const int> RestoreComponentOrder()
{
    return RestoreOrder;
}
// Seen in a running Firefox ESR and Thunderbird profile and gone (or stale) after they
// quit: the lock link and lock file, Windows' lock file, the port Marionette listens
// on, and the marker of a start that has not finished.
constexpr std::string_view RunTimeFiles[] = {"lock", ".parentlock", "parent.lock",
                                             "MarionetteActivePort", ".startup-incomplete"};

std::span<const std::string_view> RunTimeFileNames()
{
    return RunTimeFiles;
}

std::span<const TFileSetMember> ExtensionDataList()
{
    return ExtensionData;
}

std::string ComponentLabel(int number)
{
    return Text("TForm1", std::string(Component(number).LabelKey));
}

std::string ComponentTaskLine(int number)
{
    const TComponent& c = Component(number);
    return c.TaskKey.empty() ? std::string() : Text("TForm1", std::string(c.TaskKey));
}

std::string ComponentReportLine(int number)
{
    const TComponent& c = Component(number);
    return c.ReportKey.empty() ? std::string() : Text("Tessarin14", std::string(c.ReportKey));
}

std::vector<TFileSetMember> BackupMembers(int number, bool accountsOnly)
{
    const TComponent& c = Component(number);
    std::vector<TFileSetMember> out;
    for (const TFileSetMember& m : c.BackupSet) {
        if (number == 2 && accountsOnly && m.Name == IndexOnlyMailFile)
            continue;
        out.push_back(m);
    }
    if (number == 14)
        out.insert(out.end(), std::begin(ExtensionData), std::end(ExtensionData));
    return out;
}

std::span<const TFolderWalk> MailFolderWalks(bool accountsOnly)
{
    if (accountsOnly)
        return MailWalksAccounts;
    return MailWalksAll;
}

std::span<const std::string_view> ExternalMailMasks(bool accountsOnly)
{
    if (accountsOnly)
        return ExternalMasksAccounts;
    return ExternalMasksAll;
}

bool RestoreSkips(int number, int appNumber)
{
    for (const std::uint8_t app : Component(number).SkippedForApps)
        if (app == appNumber)
            return true;
    return false;
}

std::vector<TRestoreStep> RestoreSteps(int number)
{
    std::vector<TRestoreStep> out;
    for (const TFileSetMember& m : Component(number).RestoreSet) {
        switch (m.Kind) {
        case TMemberKind::File:
            if (out.empty() || out.back().Kind != TRestoreStep::TKind::Files)
                out.push_back({TRestoreStep::TKind::Files, {}});
            out.back().Names.emplace_back(m.Name);
            break;
        case TMemberKind::Folder:
            out.push_back({TRestoreStep::TKind::Folder, {std::string(m.Name)}});
            break;
        case TMemberKind::Mask:
            out.push_back({TRestoreStep::TKind::Mask, {std::string(m.Name)}});
            break;
        case TMemberKind::SubfolderMask:
            out.push_back({TRestoreStep::TKind::SubFolders, {std::string(m.Name)}});
            break;
        }
    }
    return out;
}

void ResetComponentBoxes(TSharedState& state)
{
    for (int n = 1; n <= ComponentCount; ++n) {
        state.Boxes[n].Checked = false;
        state.Boxes[n].Enabled = true;
        state.Boxes[n].Hint = false;
    }
}

void ApplyBackupDefaults(TSharedState& state, const std::string& folder)
{
    std::string base = folder;
    if (!base.empty() && base.back() != '/')
        base += '/';
    if (base.empty() || !IsFile(base + "prefs.js"))
        throw TPrefsError(Text("LANG_DIRECTORY", "LANG_PREFS_JS_NOT_FOUND"));

    ResetComponentBoxes(state);
    const TTopLevel top = ListTopLevel(base);
    for (const TComponent& c : Components) {
        TComponentBox& box = state.Boxes[c.Number];
        if (c.Rule == TDefaultRule::FollowsEmails) {
            box.Checked = false;
            box.Enabled = state.Boxes[ComponentEmails].Enabled;
            box.Visible = true; // shown on the backup side
            continue;
        }
        bool found = false;
        for (const TMarker& marker : c.Markers)
            if (MarkerPresent(marker, base, top)) {
                found = true;
                break;
            }
        box.Enabled = found;
        box.Checked = found && c.Rule != TDefaultRule::EnabledUnchecked;
        box.Hint = !found && c.Rule == TDefaultRule::CheckedWithHint;
    }
}

std::string SelectedProfileFolder(const TSharedState& state)
{
    for (const TProfileRecord& record : state.ProfileRecords)
        if (!state.SelectedProfile.empty() && record.Name == state.SelectedProfile)
            if (std::string folder = Trim(record.Folder); !folder.empty())
                return folder;
    return state.ExternalProfileDir;
}

bool ProfileNeverUsed(const std::string& folder)
{
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec))
        return false;
    if (fs::directory_iterator(folder, ec); ec)
        return false; // unreadable: that is a damaged profile
    return !fs::exists(fs::symlink_status(WithTrailingSeparator(folder) + "prefs.js", ec));
}

std::optional<std::string> DetectAvailableComponents(TSharedState& state, IUserInterface& ui,
                                                     const std::optional<std::string>& batchProfileFolder)
{
    std::string folder = batchProfileFolder ? *batchProfileFolder : SelectedProfileFolder(state);
    if (folder.empty())
        Refuse(ui);
    if (folder.back() != '/')
        folder += '/';
    if (ProfileNeverUsed(folder)) {
        ui.WarningBox(Text("TForm1", "LANG_WARNING"), Text("Tessarin15", "LANG_PROFILE_NOT_USED"));
        return std::nullopt;
    }

    try {
        ApplyBackupDefaults(state, folder);
    } catch (const TPrefsError&) {
        Refuse(ui);
    }
    if (!batchProfileFolder)
        state.ProfileDir = folder;
    return folder;
}

void SetAccountsSettingsOnly(TSharedState& state, bool checked)
{
    state.Boxes[ComponentAccountsOnly].Checked = checked;
    state.Boxes[ComponentEmails].Checked = !checked;
    state.Boxes[ComponentEmails].Enabled = !checked;
}

bool BackupIncludesMail(const TSharedState& state)
{
    return state.Boxes[ComponentEmails].Checked || state.Boxes[ComponentAccountsOnly].Checked;
}

} // namespace tessarin
