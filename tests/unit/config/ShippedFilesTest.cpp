// The data files shipped beside the program: Default.lng must be a complete English
// language file that agrees with the built-in table, Backup.ini must read as all
// defaults, and Profilefiles.txt must be in the format the unknown-files check reads.

#include "ConfigFixture.h"
#include "config/L10n.h"
#include "config/Settings.h"
#include "engine/Components.h"
#include "platform/IniFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using namespace tessarin;
using tessarin::test::ReadFile;

namespace {

fs::path Shipped(const char* name)
{
    return fs::path(TESSARIN_SOURCE_DIR) / "data" / name;
}

// The sections the program asks in, and the keys it asks there besides TForm1.
const std::map<std::string, std::vector<std::string>>& OtherSections()
{
    static const std::map<std::string, std::vector<std::string>> sections{
        {"TForm4",
         {"LANG_CAPTION", "LANG_ENCRYPT", "LANG_HESLO", "LANG_HESLO2", "LANG_NO_PASS",
          "LANG_NO_STEJ", "LANG_TEXT"}},
        {"TForm5", {"LANG_CAPTION", "LANG_LABEL1"}},
        {"Tessarin14",
         {"LANG_AKCE_CACHE_R_OK",
          "LANG_AKCE_COOKIES_R_OK",
          "LANG_AKCE_EXTENSIONS_R_OK",
          "LANG_AKCE_FAVORITES_R_OK",
          "LANG_AKCE_FORMULARE_R_OK",
          "LANG_AKCE_HESLA_R_OK",
          "LANG_AKCE_HISTORIE_R_OK",
          "LANG_AKCE_KONTAKTY_R_OK",
          "LANG_AKCE_MAIL_R_OK",
          "LANG_AKCE_OBECNE_R_OK",
          "LANG_AKCE_PANELY_R_OK",
          "LANG_AKCE_SOUBORY_R_OK",
          "LANG_AKCE_STYLY_R_OK",
          "LANG_AKCE_UNKNOW_R_OK",
          "LANG_BACKUP_PARTS",
          "LANG_CANNOT_RESTORE_ORIG_EXT",
          "LANG_CERTIF_R_OK",
          "LANG_CHOOSE_FILE_BACKUP",
          "LANG_CHOOSE_FILE_RESTORE",
          "LANG_DETEKCE",
          "LANG_DIRECTORY",
          "LANG_DISK_SPACE_CALCULATE",
          "LANG_ERROR",
          "LANG_FILE",
          "LANG_INVALID_OUTPUT",
          "LANG_NO_PROFIL2",
          "LANG_OVERWRITE_PROFILE",
          "LANG_PORTABLE",
          "LANG_PORTABLE_APPS",
          "LANG_PORTABLE_PROFILE",
          "LANG_PORTABLE_SELECT_PROFILE",
          "LANG_SELECT_PROFILE_FOLDER",
          "LANG_SEL_DESEL_ALL",
          "LANG_UNKNOW",
          "LANG_UNKNOW_FILES",
          "LANG_UNKNOW_FILES_DESC"}},
        {"Tessarin15",
         {"LANG_INVALID_BACKUP_VERSION", "LANG_NO_PROFILE_SELECTION", "LANG_WRITE_ERROR3",
          "LANG_RESTORE_FAILED", "LANG_NOT_RESTORED", "LANG_NEWER_BACKUP",
          "LANG_ADDON_DATA_NO_SETTINGS", "LANG_OUTSIDE_MAIL_TO", "LANG_OUTSIDE_MAIL_REFUSED",
          "LANG_OUTSIDE_MAIL_CONTINUE", "LANG_PROFILE_NOT_USED"}},
        {"LANG_SECTION_TESSARIN15",
         {"LANG_CMD_BAD_ACTION", "LANG_CMD_BAD_APPLICATION", "LANG_CMD_BAD_OUTPUT_DIR",
          "LANG_CMD_BAD_PROFILE", "LANG_CMD_CONFIG_NOT_FOUND"}},
        {"LANG_DIRECTORY", {"LANG_PREFS_JS_NOT_FOUND"}},
        {"Messages",
         {"LANG_NAME_LINE_BREAK", "LANG_NAME_OF_INDEX", "LANG_PASSWORD_STOPPED",
          "LANG_NAME_OUTSIDE", "LANG_SYMLINK_SKIPPED", "LANG_WRONG_PASSWORD",
          "LANG_NO_EXTRACT_FOLDER", "LANG_NOT_BELOW", "LANG_PLACE_OUTSIDE", "LANG_NOT_REGULAR_FILE",
          "LANG_NAME_TAKEN", "LANG_DECRYPTION_FAILED", "LANG_LINK_NOT_FOLLOWED",
          "LANG_CMD_BAD_KEEP", "LANG_CMD_BAD_WAIT", "LANG_WAITING_FOR_PROFILE",
          "LANG_PROFILE_BUSY", "LANG_NOT_PLAIN_ITEM", "LANG_OUTSIDE_NOT_ABSOLUTE",
          "LANG_OUTSIDE_UNREADABLE", "LANG_OUTSIDE_HOME", "LANG_OUTSIDE_HOLDS_PROFILE",
          "LANG_OUTSIDE_IN_PROFILE", "LANG_OUTSIDE_HIDDEN", "LANG_OUTSIDE_SYSTEM",
          "LANG_OUTSIDE_OTHER_OWNER", "LANG_OUTSIDE_NO_ACCOUNT", "LANG_OUTSIDE_NOW_IN_PROFILE",
          "LANG_BACKUP_NOT_VERIFIED", "LANG_VERIFYING_BACKUP", "LANG_BACKUP_CHECK_FAILED",
          "LANG_OLD_BACKUP_REMOVED"}},
    };
    return sections;
}

// What TForm1 holds: every table key no other section names, plus two that both name.
std::vector<std::string> MainWindowKeys()
{
    std::set<std::string> elsewhere;
    for (const auto& [section, keys] : OtherSections())
        elsewhere.insert(keys.begin(), keys.end());
    std::vector<std::string> keys;
    for (const TLanguageRow& row : DefaultLanguageTable()) {
        const std::string key(row.Key);
        if (key.rfind("LANG_", 0) != 0)
            continue;
        if ((!elsewhere.contains(key) || key == "LANG_DETEKCE" || key == "LANG_ERROR") &&
            std::find(keys.begin(), keys.end(), key) == keys.end())
            keys.push_back(key);
    }
    return keys;
}

TEST(ShippedLanguageFile, HoldsEveryKeyInItsSectionWithTheBuiltInText)
{
    const TIniFile lng = TIniFile::FromFile(Shipped("Default.lng"));
    std::map<std::string, std::vector<std::string>> expected = OtherSections();
    expected["TForm1"] = MainWindowKeys();
    expected["Common"] = {"Font", "DefaultCharset"};

    EXPECT_EQ(lng.SectionNames().size(), expected.size());
    std::set<std::string> covered;
    for (const auto& [section, keys] : expected) {
        ASSERT_TRUE(lng.SectionExists(section)) << section;
        std::vector<std::string> inFile = lng.KeyNames(section);
        std::vector<std::string> wanted = keys;
        std::sort(inFile.begin(), inFile.end());
        std::sort(wanted.begin(), wanted.end());
        EXPECT_EQ(inFile, wanted) << "keys of [" << section << "]";
        for (const std::string& key : keys) {
            covered.insert(key);
            const std::string want = (section == "TForm4" && key == "LANG_CAPTION")
                                         ? "Set password"
                                         : Tl10n::DefaultText(key);
            EXPECT_EQ(lng.ReadString(section, key), want) << section << " " << key;
        }
    }
    for (const TLanguageRow& row : DefaultLanguageTable())
        EXPECT_TRUE(covered.contains(std::string(row.Key))) << row.Key << " is in no section";
}

TEST(ShippedLanguageFile, IsPlainAsciiWithNoDuplicateKeys)
{
    const std::string text = ReadFile(Shipped("Default.lng"));
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_TRUE(std::all_of(text.begin(), text.end(),
                            [](char c) { return c == '\n' || (c >= ' ' && c <= '~'); }));
    std::istringstream in(text);
    std::string line;
    std::string section;
    std::set<std::string> seen;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            section = line;
            continue;
        }
        const std::string key = line.substr(0, line.find('='));
        EXPECT_TRUE(seen.insert(section + key).second) << section << key << " twice";
    }
}

class ShippedFiles : public test::TConfigFixture {};

TEST_F(ShippedFiles, LanguageFileGivesTheSameTextsAsTheTable)
{
    fs::copy_file(Shipped("Default.lng"), ProgramPath("Default.lng"));
    const Tl10n l(ProgramPath("Default.lng"));
    for (const std::string& key : MainWindowKeys())
        EXPECT_EQ(l.GetText("TForm1", key), Tl10n::DefaultText(key)) << key;
    EXPECT_EQ(l.GetText("TForm1", "LANG_OKNO_1"), " - Welcome");
    EXPECT_EQ(l.GetText("TForm4", "LANG_CAPTION"), "Set password");
    EXPECT_EQ(l.GetText("TForm5", "LANG_CAPTION"), "Enter ZIP Password");
    EXPECT_EQ(l.GetFontName(), "");
    EXPECT_EQ(l.GetFontCharset(), 1);
}

TEST_F(ShippedFiles, SettingsFileReadsAsAllDefaultsAndNamesEveryKey)
{
    fs::copy_file(Shipped("Backup.ini"), ProgramPath("Backup.ini"));
    TSharedState s(env_.Env);
    LoadSettings(s);
    EXPECT_EQ(s.FolderSettings[FolderPattern], DefaultFileNamePattern);
    for (int i = 1; i < FolderSettingsCount; ++i)
        EXPECT_EQ(s.FolderSettings[i], "");
    EXPECT_EQ(s.MonitorNumber, 1);
    EXPECT_TRUE(s.AskForPassword);
    EXPECT_EQ(ReadIntegerSetting(env_.Env, "General", "compressionLevel", 9), 9);
    EXPECT_FALSE(fs::exists(LogPath()));

    const TIniFile ini = TIniFile::FromFile(ProgramPath("Backup.ini"));
    for (const char* key :
         {"fileformat", "backupdir", "suitedir", "firefoxdir", "thunderbirddir", "sunbirddir",
          "flockdir", "netscapedir", "netscapemessdir", "spicebirddir", "songbirddir", "monitor",
          "askForPassword", "compressionLevel"})
        EXPECT_TRUE(ini.KeyExists("General", key)) << key;
}

std::vector<std::string> KnownFileLines()
{
    std::istringstream in(ReadFile(Shipped("Profilefiles.txt")));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(ShippedKnownFileList, IsInTheFormatTheUnknownFilesCheckReads)
{
    const std::vector<std::string> lines = KnownFileLines();
    ASSERT_GT(lines.size(), 100u);
    std::set<std::string> seen;
    for (const std::string& line : lines) {
        // Lines are read as they are: any blank or CR would become part of a name.
        EXPECT_FALSE(line.empty());
        EXPECT_EQ(Trim(line), line) << line;
        EXPECT_EQ(line.find('\r'), std::string::npos) << line;
        EXPECT_TRUE(seen.insert(line).second) << line << " twice";
        const std::size_t star = line.find("*.*");
        if (star != std::string::npos) {
            // A folder: its name, a backslash and "*.*", nothing after.
            EXPECT_GE(line.size(), 5u) << line;
            EXPECT_EQ(star, line.size() - 3) << line;
            EXPECT_EQ(line[line.size() - 4], '\\') << line;
            EXPECT_EQ(line.substr(0, line.size() - 4).find_first_of("\\/"), std::string::npos)
                << line;
        } else {
            EXPECT_EQ(line.find('/'), std::string::npos) << line;
            EXPECT_EQ(line.find('\\'), std::string::npos) << line;
            // A star only as the first character, where it makes a suffix pattern.
            EXPECT_EQ(line.find('*', 1), std::string::npos) << line;
        }
    }
}

TEST(ShippedKnownFileList, CoversTheComponentsAndTodaysProfiles)
{
    const std::vector<std::string> lines = KnownFileLines();
    const std::set<std::string> known(lines.begin(), lines.end());
    const char* files[] = {
        // What the components store.
        "prefs.js", "user.js", "cookperm.txt", "hostperm.1", "permissions.sqlite", "mimeTypes.rdf",
        "ac-weights.txt", "localstore.rdf", "localstore-safe.rdf", "persdict.dat", "search.rdf",
        "search.json", "search.sqlite", "listing-downloaded.xml", "listing-uploaded.xml",
        "sessionstore.js", "sessionstore.json", "urlclassifier.sqlite", "urlclassifier2.sqlite",
        "urlclassifier3.sqlite", "urlclassifierkey3.txt", "urlclassifierkey4.txt", "kf.txt",
        "webappsstore.sqlite", "blocklist.xml", "metrics.xml", "metrics-config.xml",
        "content-prefs.sqlite", "session.json", "chromeappsstore.sqlite", "mailViews.dat",
        "panacea.dat", "training.dat", "virtualFolders.dat", "folderTree.json", "traits.dat",
        "mailsessionstore.js", "msgfti.sqlite", "junklog.html", "global-messages-db.sqlite",
        "*.mab", "bookmarks.html", "bookmarks.bak", "bookmarks_history.sqlite", "places.sqlite",
        "places.sqlite-journal", "bookmarks.postplaces.html", "bookmarks.preplaces.html",
        "history.dat", "url-data.txt", "urlbarhistory.sqlite", "panels.rdf", "signons.txt",
        "signons2.txt", "signons3.txt", "signons4.txt", "signons5.txt", "signons.sqlite", "key3.db",
        "*.s", "cookies.txt", "cookies.sqlite", "cookies.sqlite-journal", "formhistory.dat",
        "URL.tbl", "formhistory.sqlite", "*.w", "downloads.sqlite", "downloads.rdf", "cert7.db",
        "cert8.db", "secmod.db", "cert_override.txt", "extensions.rdf", "extensions.sqlite",
        "extensions.log", "addons.sqlite", "lightweighttheme-footer", "lightweighttheme-header",
        "bookmarks.xml", "clipdat.rdf", "crashrecovery.dat", "storage.sdb", "menuedit.rdf",
        "mousegestures.rdf", "prefbar.rdf", "stylish.rdf", "session.rdf", "tabextensions.js",
        "tabextensions.rdf", "viewSource.xml",
        // Today's profiles.
        "xulstore.json", "containers.json", "handlers.json", "search.json.mozlz4",
        "sessionstore.jsonlz4", "protections.sqlite", "permissions.sqlite-wal",
        "content-prefs.sqlite-wal", "abook.sqlite", "history.sqlite", "abook-1.sqlite",
        "favicons.sqlite", "places.sqlite-wal", "favicons.sqlite-wal", "logins.json",
        "logins-backup.json", "logins.db", "key4.db", "cookies.sqlite-wal",
        "autofill-profiles.json", "formhistory.sqlite-wal", "cert9.db", "pkcs11.txt",
        "extensions.json", "extension-preferences.json", "extension-settings.json",
        "addonStartup.json.lz4", "times.json", "compatibility.ini", "lock", ".parentlock",
        "parent.lock", "sessionCheckpoints.json", "shield-preference-experiments.json",
        "SiteSecurityServiceState.bin", "SiteSecurityServiceState.txt", "storage.sqlite",
        "AlternateServices.bin", "AlternateServices.txt", "broadcast-listeners.json",
        "enumerate_devices.txt", "folderCache.json", "indexfile.txt"};
    for (const char* f : files)
        EXPECT_TRUE(known.contains(f)) << f;
    // No component saves Thunderbird's OpenPGP keys: listing them as known would
    // leave them out of every backup, so they must be offered as unknown files.
    for (const char* f : {"openpgp.sqlite", "encrypted-openpgp-passphrase.txt", "secring.gpg"})
        EXPECT_FALSE(known.contains(f)) << f;

    const char* folders[] = {"microsummary-generators",
                             "weave",
                             "ImapMail",
                             "Mail",
                             "News",
                             "Photos",
                             "bookmarkbackups",
                             "cert7.dir",
                             "cert8.dir",
                             "extensions",
                             "chrome",
                             "searchplugins",
                             "adblockplus",
                             "colorzilla",
                             "GoogleToolbarData",
                             "gm_scripts",
                             "forecastfox",
                             "ChatZilla",
                             "calendar-data",
                             "ScrapBook",
                             "cache",
                             "OfflineCache",
                             "sessionstore-backups",
                             "browser-extension-data",
                             "cache2",
                             "startupCache",
                             "storage",
                             "datareporting",
                             "minidumps",
                             "crashes",
                             "gmp-gmpopenh264",
                             "gmp",
                             "safebrowsing",
                             "security_state",
                             "settings",
                             "saved-telemetry-pings"};
    for (const char* d : folders)
        EXPECT_TRUE(known.contains(std::string(d) + "\\*.*")) << d;
}

// A name a component stores but the list lacks would be offered once more as unknown.
TEST(ShippedKnownFileList, KnowsEverythingTheComponentsStore)
{
    const std::vector<std::string> lines = KnownFileLines();
    const std::set<std::string> known(lines.begin(), lines.end());
    int checked = 0;
    for (const TComponent& c : AllComponents()) {
        std::vector<TFileSetMember> members(c.BackupSet.begin(), c.BackupSet.end());
        members.insert(members.end(), c.RestoreSet.begin(), c.RestoreSet.end());
        if (c.Number == 14)
            members.insert(members.end(), ExtensionDataList().begin(), ExtensionDataList().end());
        for (const TFileSetMember& m : members) {
            const std::string name(m.Name);
            // Files inside a folder are covered by their folder; a star inside a name
            // cannot be written as a suffix pattern.
            if (name.find('/') != std::string::npos || name.find('*', 1) != std::string::npos)
                continue;
            const std::string entry = m.Kind == TMemberKind::Folder ? name + "\\*.*" : name;
            EXPECT_TRUE(known.contains(entry)) << "component " << c.Number << ": " << entry;
            ++checked;
        }
    }
    for (const TFolderWalk& walk : MailFolderWalks(false)) {
        EXPECT_TRUE(known.contains(std::string(walk.Folder) + "\\*.*")) << walk.Folder;
        ++checked;
    }
    EXPECT_GT(checked, 150);
    // Extra address books are stored by a mask the list can only spell out.
    for (int i = 1; i <= 9; ++i)
        EXPECT_TRUE(known.contains("abook-" + std::to_string(i) + ".sqlite")) << i;
}

} // namespace
