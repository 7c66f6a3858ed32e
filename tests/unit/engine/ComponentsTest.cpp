#include "engine/Components.h"

#include "archive/ArchiveNames.h"
#include "config/L10n.h"
#include "engine/PrefsParser.h"
#include "support/FakeUserInterface.h"
#include "support/ProfileFixture.h"
#include "support/TestEnvironment.h"
#include "support/Unprivileged.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tessarin;
using tessarin::test::CopyRealProfile;
using tessarin::test::RerunUnprivileged;
using tessarin::test::TFakeUserInterface;
using tessarin::test::TTempDir;
using tessarin::test::TTestEnvironment;

namespace {

class ComponentsTest : public ::testing::Test {
protected:
    // The boxes as "C" (checked), "E" (enabled, unchecked), "-" (disabled), "h" for a hint.
    static std::string Boxes(const TSharedState& s)
    {
        std::string out;
        for (int n = 1; n <= ComponentCount; ++n) {
            const TComponentBox& b = s.Boxes[n];
            out += b.Checked ? 'C' : (b.Enabled ? 'E' : '-');
            if (b.Hint)
                out += 'h';
        }
        return out;
    }

    TSharedState WizardState(const std::string& folder, const std::string& name = "default")
    {
        TSharedState s(env.Env);
        s.Operation = TOperation::Backup;
        s.ProfileRecords = {{"other", (dir.Path() / "other").string()}, {name, folder}};
        s.ProfileList = {"other", name};
        s.SelectedProfile = name;
        return s;
    }

    TTestEnvironment env;
    const TTempDir& dir = env.Dir();
    TFakeUserInterface ui;
};

std::vector<std::string> Names(const std::vector<TFileSetMember>& members, TMemberKind kind)
{
    std::vector<std::string> out;
    for (const auto& m : members)
        if (m.Kind == kind)
            out.emplace_back(m.Name);
    return out;
}

std::vector<std::string> Names(std::span<const TFileSetMember> members, TMemberKind kind)
{
    return Names(std::vector<TFileSetMember>(members.begin(), members.end()), kind);
}

bool Has(const std::vector<std::string>& names, std::string_view name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

TEST_F(ComponentsTest, TextsComeFromTheLanguage)
{
    EXPECT_EQ(ComponentLabel(1), "General settings");
    EXPECT_EQ(ComponentLabel(7), "Accounts settings only");
    EXPECT_EQ(ComponentLabel(13), "Certificates");
    EXPECT_EQ(ComponentTaskLine(9), "Task: Restoring saved passwords");
    EXPECT_EQ(ComponentReportLine(9), "Password restore ... OK");
    EXPECT_EQ(ComponentTaskLine(7), "");
    EXPECT_EQ(ComponentReportLine(7), "");
    EXPECT_EQ(Component(14).HintKey, "LANG_CHECKBOX14_HINT");
    for (int n = 1; n <= ComponentCount; ++n)
        EXPECT_EQ(Component(n).Number, n);
    EXPECT_THROW(Component(0), std::out_of_range);
    EXPECT_THROW(Component(16), std::out_of_range);
}

TEST(ComponentSets, TodaysNamesJoinEveryOldOneOnBothSides)
{
    struct Addition {
        int Number;
        std::vector<std::string> Files;
        std::vector<std::string> Folders;
        std::vector<std::string> Masks;
    };
    const std::vector<Addition> additions = {
        {1,
         {"xulstore.json", "containers.json", "handlers.json", "search.json.mozlz4",
          "sessionstore.jsonlz4", "protections.sqlite", "permissions.sqlite-wal",
          "content-prefs.sqlite-wal", "credentialstate.sqlite"},
         {"sessionstore-backups"},
         {}},
        {3, {"abook.sqlite", "history.sqlite"}, {}, {"abook-*.sqlite"}},
        {4, {"favicons.sqlite", "places.sqlite-wal", "favicons.sqlite-wal"}, {}, {}},
        {5, {"favicons.sqlite", "places.sqlite-wal", "favicons.sqlite-wal"}, {}, {}},
        {9, {"logins.json", "logins-backup.json", "logins.db", "key4.db"}, {}, {}},
        {10, {"cookies.sqlite-wal"}, {}, {}},
        {11, {"autofill-profiles.json", "formhistory.sqlite-wal"}, {}, {}},
        {13,
         {"cert9.db", "key4.db", "pkcs11.txt", "ClientAuthRememberList.txt",
          "ClientAuthRememberList.bin"},
         {},
         {}},
        {14,
         {"extensions.json", "extension-preferences.json", "extension-settings.json",
          "addonStartup.json.lz4", "storage-sync-v2.sqlite", "storage-sync-v2.sqlite-wal"},
         {"browser-extension-data", "extension-store", "extension-store-permissions",
          "extension-store-menus", "extension-store-userscripts", "extension-dnr"},
         {}},
        {15, {}, {"cache2"}, {}},
    };
    for (const Addition& a : additions) {
        for (const auto& set : {Component(a.Number).BackupSet, Component(a.Number).RestoreSet}) {
            for (const auto& f : a.Files)
                EXPECT_TRUE(Has(Names(set, TMemberKind::File), f)) << a.Number << " " << f;
            for (const auto& f : a.Folders)
                EXPECT_TRUE(Has(Names(set, TMemberKind::Folder), f)) << a.Number << " " << f;
            for (const auto& f : a.Masks)
                EXPECT_TRUE(Has(Names(set, TMemberKind::Mask), f)) << a.Number << " " << f;
        }
    }

    // The old sets stay whole and keep their order in front.
    const auto b9 = Names(BackupMembers(9), TMemberKind::File);
    EXPECT_EQ(
        std::vector<std::string>(b9.begin(), b9.begin() + 7),
        (std::vector<std::string>{"signons.txt", "signons2.txt", "signons3.txt", "signons4.txt",
                                  "signons5.txt", "signons.sqlite", "key3.db"}));
    EXPECT_EQ(Names(BackupMembers(9), TMemberKind::Mask), (std::vector<std::string>{"*.s"}));
    EXPECT_EQ(BackupMembers(3),
              (std::vector<TFileSetMember>{{TMemberKind::File, "abook.sqlite"},
                                           {TMemberKind::File, "history.sqlite"},
                                           {TMemberKind::Folder, "Photos"},
                                           {TMemberKind::Mask, "*.mab"},
                                           {TMemberKind::Mask, "abook-*.sqlite"}}));
    EXPECT_EQ(Names(BackupMembers(1), TMemberKind::File).size(), 39u);
    EXPECT_EQ(Names(BackupMembers(1), TMemberKind::File).front(), "prefs.js");
    EXPECT_EQ(Names(BackupMembers(8), TMemberKind::File),
              (std::vector<std::string>{"chrome/userContent.css", "chrome/userChrome.css"}));
}

TEST(ComponentSets, AsymmetriesBetweenBackupAndRestore)
{
    const auto b2 = Names(BackupMembers(2), TMemberKind::File);
    const auto r2 = Names(Component(2).RestoreSet, TMemberKind::File);
    EXPECT_TRUE(Has(b2, "mailsessionstore.js") && Has(b2, "msgfti.sqlite"));
    EXPECT_FALSE(Has(r2, "mailsessionstore.js") || Has(r2, "msgfti.sqlite"));
    EXPECT_TRUE(Has(Names(BackupMembers(14), TMemberKind::File), "extensions.rdf"));
    EXPECT_FALSE(Has(Names(Component(14).RestoreSet, TMemberKind::File), "extensions.rdf"));
    EXPECT_FALSE(Has(Names(BackupMembers(5), TMemberKind::File), "places.sqlite-journal"));
    EXPECT_TRUE(Has(Names(Component(5).RestoreSet, TMemberKind::File), "places.sqlite-journal"));
    EXPECT_TRUE(Has(Names(Component(10).RestoreSet, TMemberKind::File), "cookies.sqlite-journal"));
    // Another profile's startup cache stops the built-in add-ons from loading.
    EXPECT_TRUE(Has(Names(BackupMembers(15), TMemberKind::Folder), "startupCache"));
    EXPECT_FALSE(Has(Names(Component(15).RestoreSet, TMemberKind::Folder), "startupCache"));
}

TEST(ComponentSets, MailAndAccountsOnly)
{
    EXPECT_TRUE(Has(Names(BackupMembers(2), TMemberKind::File), "global-messages-db.sqlite"));
    const auto narrow = BackupMembers(2, true);
    EXPECT_FALSE(Has(Names(narrow, TMemberKind::File), "global-messages-db.sqlite"));
    EXPECT_EQ(narrow.size(), BackupMembers(2).size() - 1);

    const std::vector<TFolderWalk> all(MailFolderWalks(false).begin(),
                                       MailFolderWalks(false).end());
    EXPECT_EQ(all,
              (std::vector<TFolderWalk>{{"ImapMail", "*.*"}, {"Mail", "*.*"}, {"News", "*.*"}}));
    const std::vector<TFolderWalk> settings(MailFolderWalks(true).begin(),
                                            MailFolderWalks(true).end());
    EXPECT_EQ(settings, (std::vector<TFolderWalk>{{"Mail", "*.dat"},
                                                  {"Mail", "*.rdf"},
                                                  {"ImapMail", "*.dat"},
                                                  {"ImapMail", "*.rdf"},
                                                  {"News", "*.msf"},
                                                  {"News", "*.rc"}}));
    EXPECT_EQ(std::vector<std::string_view>(ExternalMailMasks(true).begin(),
                                            ExternalMailMasks(true).end()),
              (std::vector<std::string_view>{"*.dat", "*.rdf", "*.msf", "*.rc"}));
    EXPECT_EQ(ExternalMailMasks(false).size(), 1u);
}

TEST(ComponentSets, ExtensionDataListEndsTheExtensionsComponent)
{
    const auto b14 = BackupMembers(14);
    const auto list = ExtensionDataList();
    ASSERT_EQ(list.size(), 20u);
    EXPECT_EQ(list.front(), (TFileSetMember{TMemberKind::Folder, "adblockplus"}));
    EXPECT_EQ(list[1], (TFileSetMember{TMemberKind::File, "bookmarks.xml"}));
    EXPECT_EQ(list.back(), (TFileSetMember{TMemberKind::File, "viewSource.xml"}));
    ASSERT_GT(b14.size(), list.size());
    EXPECT_TRUE(std::equal(list.begin(), list.end(), b14.end() - list.size()));
    // The restore steps leave the list to the run, after the user-style rule.
    for (const TRestoreStep& step : RestoreSteps(14))
        for (const TFileSetMember& m : list)
            EXPECT_FALSE(Has(step.Names, m.Name)) << m.Name;
}

TEST(ComponentSets, RestoreStepsKeepTheExtractionOrder)
{
    using Kd = TRestoreStep::TKind;
    const auto s9 = RestoreSteps(9);
    ASSERT_EQ(s9.size(), 2u);
    EXPECT_EQ(s9[0], (TRestoreStep{Kd::Mask, {"*.s"}})); // passwords of old: first
    EXPECT_EQ(s9[1].Kind, Kd::Files);
    EXPECT_EQ(s9[1].Names.front(), "signons.txt");
    EXPECT_EQ(s9[1].Names.back(), "key4.db");

    const auto s11 = RestoreSteps(11);
    ASSERT_EQ(s11.size(), 2u);
    EXPECT_EQ(s11[0], (TRestoreStep{Kd::Files,
                                    {"formhistory.dat", "formhistory.sqlite", "URL.tbl",
                                     "autofill-profiles.json", "formhistory.sqlite-wal"}}));
    EXPECT_EQ(s11[1], (TRestoreStep{Kd::Mask, {"*.w"}})); // last

    EXPECT_EQ(RestoreSteps(3),
              (std::vector<TRestoreStep>{{Kd::Files, {"abook.sqlite", "history.sqlite"}},
                                         {Kd::Folder, {"Photos"}},
                                         {Kd::Mask, {"*.mab"}},
                                         {Kd::Mask, {"abook-*.sqlite"}}}));
    EXPECT_EQ(RestoreSteps(10),
              (std::vector<TRestoreStep>{{Kd::Files,
                                          {"cookies.txt", "cookies.sqlite",
                                           "cookies.sqlite-journal", "cookies.sqlite-wal"}},
                                         {Kd::SubFolders, {"storage/default/http+++*"}},
                                         {Kd::SubFolders, {"storage/default/https+++*"}},
                                         {Kd::SubFolders, {"storage/default/file++*"}}}));
    EXPECT_EQ(RestoreSteps(15), (std::vector<TRestoreStep>{{Kd::Folder, {"cache"}},
                                                           {Kd::Folder, {"OfflineCache"}},
                                                           {Kd::Folder, {"cache2"}}}));
    EXPECT_TRUE(RestoreSteps(7).empty());
}

// Which components take a folder below storage/, on each side. Folder names are as
// Firefox writes them: site origins (with container and partition suffixes), pages
// from disk, add-ons' storage.local and pages, and the application's own caches.
TEST(ComponentSets, StorageFoldersGoToSiteDataOrAddOnDataOrNowhere)
{
    const std::pair<std::string_view, std::vector<int>> folders[] = {
        {"storage/default/https+++example.com", {10}},
        {"storage/default/https+++example.com^userContextId=2", {10}},
        {"storage/default/https+++cdn.example^partitionKey=%28https%2Cexample.com%29", {10}},
        {"storage/default/http+++localhost+8080", {10}},
        {"storage/default/file++++home+user+notes.html", {10}},
        {"storage/default/moz-extension+++3b9a5d1e-7c2f-4e8a-b1d6-5f0c9e2a4b7d"
         "^userContextId=4294967295",
         {14}},
        {"storage/default/moz-extension+++3b9a5d1e-7c2f-4e8a-b1d6-5f0c9e2a4b7d", {14}},
        {"storage/permanent/moz-extension+++3b9a5d1e-7c2f-4e8a-b1d6-5f0c9e2a4b7d", {14}},
        {"storage/temporary/https+++example.com", {}},
        {"storage/permanent/chrome", {}},
        {"storage/permanent/indexeddb+++fx-devtools", {}},
        {"storage/default/moz-safe-about+home", {}},
        {"storage/to-be-removed", {}},
    };
    auto takers = [](std::string_view folder, bool restore) {
        const std::size_t slash = folder.rfind('/');
        std::vector<int> out;
        for (const TComponent& c : AllComponents())
            for (const TFileSetMember& m : restore ? c.RestoreSet : c.BackupSet) {
                if (m.Kind != TMemberKind::SubfolderMask)
                    continue;
                const std::size_t cut = m.Name.rfind('/');
                if (m.Name.substr(0, cut) == folder.substr(0, slash) &&
                    NameMatchesMask(folder.substr(slash + 1), m.Name.substr(cut + 1)))
                    out.push_back(c.Number);
            }
        return out;
    };
    for (const auto& [folder, components] : folders) {
        EXPECT_EQ(takers(folder, false), components) << "backup " << folder;
        EXPECT_EQ(takers(folder, true), components) << "restore " << folder;
    }
}

TEST(ComponentSets, ApplicationsARestoreLeavesOut)
{
    std::string skipped;
    for (const int app : {1, 2, 3, 10}) {
        skipped += std::to_string(app) + ":";
        for (const int n : RestoreComponentOrder())
            if (RestoreSkips(n, app))
                skipped += std::to_string(n) + ",";
        skipped += " ";
    }
    EXPECT_EQ(skipped, "1:14,15, 2:2,3, 3:4,5,6,10,11,12, 10: ");
    EXPECT_EQ(std::vector<int>(BackupComponentOrder().begin(), BackupComponentOrder().end()),
              (std::vector<int>{1, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15}));
}

TEST_F(ComponentsTest, FirefoxProfileOffersNoMail)
{
    const auto ff = CopyRealProfile("firefox", dir.Path(), "q1w2e3r4.default-release");
    TSharedState s = WizardState(ff.Profile.string(), "default-release");
    s.Boxes[2].Checked = true; // left over from an earlier visit
    EXPECT_EQ(DetectAvailableComponents(s, ui), ff.Folder());
    //                 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5
    EXPECT_EQ(Boxes(s), "C--CC--CCCC-CCE");
    EXPECT_EQ(s.ProfileDir, ff.Folder());
    EXPECT_TRUE(ui.Calls.empty());
}

TEST_F(ComponentsTest, ThunderbirdProfileOffersMail)
{
    const auto tb = CopyRealProfile("thunderbird", dir.Path());
    TSharedState s = WizardState(tb.Profile.string());
    DetectAvailableComponents(s, ui);
    //                 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5
    EXPECT_EQ(Boxes(s), "CCCCC-E-CCC-CC-");
    EXPECT_TRUE(s.Boxes[7].Visible);
    EXPECT_FALSE(s.Boxes[14].Hint);
}

TEST_F(ComponentsTest, OldProfileMarkers)
{
    // A profile as SeaMonkey 1.x left it: every marker of the first sets, none of today's.
    for (const char* f : {"prefs.js", "abook.mab", "bookmarks.html", "history.dat", "panels.rdf",
                          "chrome/userContent.css", "6a7b8c9d.s", "cookies.txt", "0f1e2d3c.w",
                          "downloads.rdf", "secmod.db", "Extensions/x.txt", "Cache/_CACHE_MAP_"})
        dir.Write(std::string("old/") + f, "x");
    dir.Write("old/prefs.js", "user_pref(\"mail.identity.id1.useremail\", \"a@b.c\");\n");
    TSharedState s(env.Env);
    s.ExternalProfileDir = dir.Folder() + "old"; // a folder chosen by hand
    DetectAvailableComponents(s, ui);
    EXPECT_EQ(Boxes(s), "CCCCCCECCCCCCCE");
    EXPECT_EQ(s.ProfileDir, dir.Folder() + "old/");
}

TEST_F(ComponentsTest, MarkersThatDoNotCount)
{
    dir.Write("p/prefs.js", "user_pref(\"browser.startup.page\", 3);\n");
    dir.Write("p/signons5.txt", "stored, but no marker");
    dir.Write("p/extensions", "a file, not the folder");
    dir.Write("p/chrome/userChrome.css.bak", "x");
    dir.Write("p/sub/key3.db", "below the top level");
    dir.Write("p/sub/x.s", "below the top level");
    TSharedState s(env.Env);
    DetectAvailableComponents(s, ui, dir.Folder() + "p");
    //                 1 2 3 4 5 6 7 8 9 0 1 2 3 4  5
    EXPECT_EQ(Boxes(s), "C------------"
                        "-h-");
    // Batch mode only checks the folder.
    EXPECT_EQ(s.ProfileDir, "");
}

TEST_F(ComponentsTest, FolderMarkersIgnoreLetterCase)
{
    dir.Write("p/prefs.js", "\n");
    dir.Write("p/EXTENSIONS/a.xpi", "x");
    dir.Write("p/cache/_CACHE_001_", "x");
    TSharedState s(env.Env);
    DetectAvailableComponents(s, ui, dir.Folder() + "p/");
    EXPECT_TRUE(s.Boxes[14].Checked);
    EXPECT_FALSE(s.Boxes[14].Hint);
    EXPECT_TRUE(s.Boxes[15].Enabled);
    EXPECT_FALSE(s.Boxes[15].Checked); // Cache is never chosen by itself
}

TEST_F(ComponentsTest, AccountsSettingsOnlyExcludesEmails)
{
    const auto tb = CopyRealProfile("thunderbird", dir.Path());
    TSharedState s = WizardState(tb.Profile.string());
    DetectAvailableComponents(s, ui);
    s.Boxes[2].Checked = false; // the person unticked Emails first
    EXPECT_FALSE(BackupIncludesMail(s));
    SetAccountsSettingsOnly(s, true);
    EXPECT_FALSE(s.Boxes[2].Checked);
    EXPECT_FALSE(s.Boxes[2].Enabled);
    EXPECT_TRUE(BackupIncludesMail(s));
    SetAccountsSettingsOnly(s, false);
    EXPECT_TRUE(s.Boxes[2].Checked);
    EXPECT_TRUE(s.Boxes[2].Enabled);
    EXPECT_FALSE(s.Boxes[7].Checked);
}

TEST_F(ComponentsTest, ProfileRecordIsFoundByNameAndTrimmed)
{
    dir.Write("a/prefs.js", "\n");
    dir.Write("b/prefs.js", "\n");
    TSharedState s(env.Env);
    s.ProfileRecords = {{"a", "  " + dir.Folder() + "a  "}, {"b", dir.Folder() + "b/"}};
    s.SelectedProfile = "b";
    EXPECT_EQ(DetectAvailableComponents(s, ui), dir.Folder() + "b/");
    s.SelectedProfile = "a";
    EXPECT_EQ(DetectAvailableComponents(s, ui), dir.Folder() + "a/");
    EXPECT_EQ(s.ProfileDir, dir.Folder() + "a/");
}

TEST_F(ComponentsTest, ProfileWithoutReadablePrefsIsRefused)
{
    if (RerunUnprivileged())
        return;
    auto expectRefused = [this](TSharedState s, std::optional<std::string> batch) {
        ui.Calls.clear();
        try {
            DetectAvailableComponents(s, ui, batch);
            ADD_FAILURE() << "profile accepted";
        } catch (const TProgramExit& e) {
            EXPECT_EQ(e.Code, 1);
        }
        EXPECT_EQ(ui.Calls, (std::vector<std::string>{
                                "Warning|Warning|The selected user profile is corrupted. The "
                                "program will exit."}));
    };
    fs::create_directories(dir.Path() / "empty");
    dir.Write("dirprefs/prefs.js/x", "prefs.js is a folder");

    // Never used is no damage: the page stays, the program goes on.
    ui.Calls.clear();
    TSharedState unused = WizardState(dir.Folder() + "empty");
    EXPECT_EQ(DetectAvailableComponents(unused, ui), std::nullopt);
    EXPECT_THAT(ui.CallsOf("Warning"),
                ::testing::ElementsAre(::testing::HasSubstr("has not been used yet")));
    expectRefused(WizardState(dir.Folder() + "missing"), std::nullopt);
    expectRefused(TSharedState(env.Env), std::nullopt); // no record, no folder chosen by hand
    TSharedState unselected = WizardState(dir.Folder() + "missing");
    unselected.SelectedProfile.clear();
    expectRefused(unselected, std::nullopt);
    expectRefused(TSharedState(env.Env), dir.Folder() + "dirprefs");
    expectRefused(TSharedState(env.Env), std::string());

    dir.Write("locked/prefs.js", "user_pref(\"mail.identity.id1.valid\", true);\n");
    fs::permissions(dir.Path() / "locked/prefs.js", fs::perms::none);
    expectRefused(TSharedState(env.Env), dir.Folder() + "locked");
}
