#include "ProfilesTestSupport.h"

#include "profiles/Catalogue.h"

#include <filesystem>

namespace fs = std::filesystem;
using namespace tessarin;
using tessarin::test::ProfilesTest;

namespace {

using Catalogue = ProfilesTest;
using List = std::vector<std::string>;

TEST_F(Catalogue, EmptyMachineListsOnlyPortableApplications)
{
    state.AppNumber = 3;
    state.ProfileDir = "/somewhere/";
    ScanInstalledApplications(state);
    EXPECT_EQ(state.ApplicationList, List{"Portable applications"});
    EXPECT_EQ(state.AppNumber, 0);
    EXPECT_EQ(state.ProfileDir, "");
}

TEST_F(Catalogue, ListsInstalledApplicationsInCatalogueOrderWithVersionAndFolder)
{
    UseRegistry(R"(
[SOFTWARE\PostBox\PostBox]
CurrentVersion=7.0.60
[SOFTWARE\PostBox\PostBox\7.0.60\Main]
Install Directory=/opt/postbox
[SOFTWARE\mozilla\Mozilla Thunderbird]
CurrentVersion=153.8.0
[SOFTWARE\mozilla\Mozilla Thunderbird\153.8.0\Main]
Install Directory=/usr/lib/thunderbird
[SOFTWARE\mozilla\SeaMonkey]
CurrentVersion=2.53.18
[SOFTWARE\mozilla\SeaMonkey\2.53.18\Main]
Install Directory=/opt/seamonkey
[SOFTWARE\mozilla\Mozilla Firefox]
CurrentVersion=153.8.0
[SOFTWARE\mozilla\Mozilla Firefox\153.8.0\Main]
Install Directory=/usr/lib/firefox-esr
[SOFTWARE\Flock]
CurrentVersion=2.6.2
[SOFTWARE\Flock\Flock\2.6.2\Main]
Install Directory=/opt/flock
[SOFTWARE\mozilla\Songbird]
CurrentVersion=2.2.0
[SOFTWARE\mozilla\Netscape Messenger]
CurrentVersion=9.0.0.6
)");
    ScanInstalledApplications(state);
    // SeaMonkey's entry has no blank before its version.
    EXPECT_EQ(state.ApplicationList,
              (List{"SeaMonkey2.53.18", "Mozilla Firefox 153.8.0", "Mozilla Thunderbird 153.8.0",
                    "Flock 2.6.2", "Netscape Messenger 9.0.0.6", "Songbird 2.2.0", "PostBox 7.0.60",
                    "Portable applications"}));
    EXPECT_TRUE(InstallRecord(AppFirefox).Installed);
    EXPECT_EQ(InstallRecord(AppFirefox).Version, "153.8.0");
    EXPECT_EQ(InstallRecord(AppFirefox).InstallFolder, "/usr/lib/firefox-esr");
    EXPECT_EQ(InstallRecord(AppSeaMonkey).InstallFolder, "/opt/seamonkey");
    EXPECT_EQ(InstallRecord(AppFlock).InstallFolder, "/opt/flock"); // two-level folder key
    // A version without "Install Directory": listed, but no folder to create profiles with.
    EXPECT_TRUE(InstallRecord(AppSongbird).Installed);
    EXPECT_EQ(InstallRecord(AppSongbird).InstallFolder, "");
    EXPECT_FALSE(InstallRecord(AppSunbird).Installed);
    EXPECT_THROW(InstallRecord(AppPortable + 3), std::out_of_range);
    EXPECT_THROW(InstallRecord(AppNone), std::out_of_range);
}

TEST_F(Catalogue, WindowsRegistryFixtureIsReadAsWindowsHeldIt)
{
    env.Env.MachineRegistry = std::make_shared<TMemoryRegistry>(TMemoryRegistry::FromFile(
        std::string(TESSARIN_TEST_DATA) + "/profiles/registry/machine.ini"));
    ScanInstalledApplications(state);
    EXPECT_EQ(
        state.ApplicationList,
        (List{"SeaMonkey2.0.4 (en-US)", "Mozilla Firefox 3.6.3 (en-US)", "Portable applications"}));
    EXPECT_EQ(InstallRecord(AppFirefox).InstallFolder, "C:\\Program Files\\Mozilla Firefox");
}

TEST_F(Catalogue, FallbackKeyFindsAnApplicationRegisteredOnlyThere)
{
    UseRegistry(R"(
[SOFTWARE\mozilla.org\Mozilla Firefox]
CurrentVersion=1.0.7
[SOFTWARE\mozilla.org\Mozilla Firefox\1.0.7\Main]
Install Directory=/opt/firefox-1.0
)");
    ScanInstalledApplications(state);
    EXPECT_EQ(state.ApplicationList, (List{"Mozilla Firefox 1.0.7", "Portable applications"}));
    EXPECT_EQ(InstallRecord(AppFirefox).InstallFolder, "/opt/firefox-1.0");
}

TEST_F(Catalogue, RegisteredUnderBothKeysWithoutFolderUnderTheFirstIsListedTwice)
{
    UseRegistry(R"(
[SOFTWARE\mozilla\Mozilla Thunderbird]
CurrentVersion=2.0.0.24
[SOFTWARE\mozilla.org\Mozilla Thunderbird]
CurrentVersion=1.5.0.14
[SOFTWARE\mozilla.org\Mozilla Thunderbird\1.5.0.14\Main]
Install Directory=/opt/thunderbird-1.5
)");
    ScanInstalledApplications(state);
    EXPECT_EQ(state.ApplicationList,
              (List{"Mozilla Thunderbird 2.0.0.24", "Mozilla Thunderbird 1.5.0.14",
                    "Portable applications"}));
    EXPECT_EQ(InstallRecord(AppThunderbird).Version, "1.5.0.14");
    EXPECT_EQ(InstallRecord(AppThunderbird).InstallFolder, "/opt/thunderbird-1.5");
}

TEST_F(Catalogue, FolderUnderTheFirstKeySkipsTheFallback)
{
    UseRegistry(R"(
[SOFTWARE\mozilla\SeaMonkey\]
CurrentVersion=2.53.18
[SOFTWARE\mozilla\SeaMonkey\2.53.18\Main]
Install Directory=/opt/seamonkey
[SOFTWARE\mozilla.org\SeaMonkey]
CurrentVersion=1.1.18
)");
    ScanInstalledApplications(state);
    EXPECT_EQ(state.ApplicationList, (List{"SeaMonkey2.53.18", "Portable applications"}));
}

TEST_F(Catalogue, EmptyVersionStillCountsAsInstalledAndKeysIgnoreCase)
{
    UseRegistry("[software\\MOZILLA\\mozilla firefox]\ncurrentversion=\n");
    ScanInstalledApplications(state);
    EXPECT_EQ(state.ApplicationList, (List{"Mozilla Firefox ", "Portable applications"}));
    EXPECT_TRUE(InstallRecord(AppFirefox).Installed);
}

TEST_F(Catalogue, ProfileOnlyEntriesForProfileFoldersOfApplicationsNotInstalled)
{
    fs::create_directories(home + ".mozilla/firefox");
    fs::create_directories(home + ".mozilla/sunbird");
    fs::create_directories(home + ".wyzo");
    ScanInstalledApplications(state);
    // Firefox's first lookup is quiet; the fallback lookup adds the entry once.
    EXPECT_EQ(state.ApplicationList,
              (List{"Mozilla Firefox (profiles only)", "Mozilla Sunbird (profiles only)",
                    "Wyzo (profiles only)", "Portable applications"}));
    EXPECT_FALSE(InstallRecord(AppFirefox).Installed);
}

TEST_F(Catalogue, ProfileOnlyEntryFromAnyOfFirefoxsProfileRoots)
{
    fs::create_directories(home + ".var/app/org.mozilla.firefox/.mozilla/firefox");
    ScanInstalledApplications(state);
    EXPECT_EQ(state.ApplicationList.front(), "Mozilla Firefox (profiles only)");
}

TEST_F(Catalogue, InstalledApplicationGetsNoProfileOnlyEntry)
{
    fs::create_directories(home + ".postbox");
    UseRegistry("[SOFTWARE\\PostBox\\PostBox]\nCurrentVersion=7.0\n");
    ScanInstalledApplications(state);
    EXPECT_EQ(state.ApplicationList, (List{"PostBox 7.0", "Portable applications"}));
}

TEST_F(Catalogue, OldSuiteIsKnownByItsRegistryNotByFirefoxsFolder)
{
    fs::create_directories(home + ".mozilla/firefox");
    UseRegistry("[SOFTWARE\\mozilla\\Mozilla Firefox]\nCurrentVersion=153.8.0\n");
    ScanInstalledApplications(state);
    EXPECT_EQ(state.ApplicationList, (List{"Mozilla Firefox 153.8.0", "Portable applications"}));

    WriteHome(".mozilla/appreg", "");
    ScanInstalledApplications(state);
    EXPECT_EQ(state.ApplicationList.front(), "SeaMonkey/Mozilla (profiles only)");
}

TEST_F(Catalogue, RescanEmptiesFoldersButKeepsInstalledFlagsAndVersions)
{
    UseRegistry(R"(
[SOFTWARE\mozilla\Mozilla Firefox]
CurrentVersion=153.8.0
[SOFTWARE\mozilla\Mozilla Firefox\153.8.0\Main]
Install Directory=/usr/lib/firefox-esr
)");
    ScanInstalledApplications(state);
    UseRegistry("");
    ScanInstalledApplications(state);
    EXPECT_EQ(state.ApplicationList, List{"Portable applications"});
    EXPECT_EQ(InstallRecord(AppFirefox).InstallFolder, "");
    EXPECT_TRUE(InstallRecord(AppFirefox).Installed);
    EXPECT_EQ(InstallRecord(AppFirefox).Version, "153.8.0");
}

TEST_F(Catalogue, ScanOfTheInstallationsOfAFakeSystem)
{
    const std::string root = temp.Folder() + "root";
    fs::create_directories(root);
    fs::copy(std::string(TESSARIN_TEST_DATA) + "/profiles/install-tree", root,
             fs::copy_options::recursive);
    ScanInstalledApplications(
        state, {nullptr, FindInstalledApplications(DefaultInstallSearch(root, home)), home});
    EXPECT_EQ(state.ApplicationList,
              (List{"SeaMonkey2.53.18", "Mozilla Firefox 153.8.0", "Mozilla Thunderbird 153.8.0",
                    "Portable applications"}));
    EXPECT_EQ(InstallRecord(AppFirefox).InstallFolder, root + "/usr/lib/firefox-esr");
    EXPECT_EQ(InstallRecord(AppThunderbird).InstallFolder, root + "/usr/lib/thunderbird");
    EXPECT_EQ(InstallRecord(AppSeaMonkey).InstallFolder, root + "/opt/seamonkey");
}

TEST_F(Catalogue, InstallationsFoundAnswerWithoutARegistry)
{
    fs::create_directories(home + ".wyzo");
    ScanInstalledApplications(state, {nullptr,
                                      {{"Firefox", "153.8.0", "/usr/lib/firefox-esr"},
                                       {"Firefox", "140.5.0", "/usr/lib/firefox"},
                                       {"Waterfox", "6.5.0", "/opt/waterfox"},
                                       {"iceape", "2.7.13", "/usr/lib/iceape"},
                                       {"Flock", "2.6", "/opt/flock"},
                                       {"Postbox", "7.0.60", "/opt/postbox"}},
                                      home});
    // The first installation of a build wins; Debian's rebranded builds count, names
    // compare without case, unknown applications are left out.
    EXPECT_EQ(state.ApplicationList,
              (List{"SeaMonkey2.7.13", "Mozilla Firefox 153.8.0", "Flock 2.6", "PostBox 7.0.60",
                    "Wyzo (profiles only)", "Portable applications"}));
    EXPECT_EQ(InstallRecord(AppSeaMonkey).InstallFolder, "/usr/lib/iceape");
    EXPECT_EQ(InstallRecord(AppFirefox).InstallFolder, "/usr/lib/firefox-esr");
    EXPECT_EQ(InstallRecord(AppPostBox).Version, "7.0.60");
    EXPECT_FALSE(InstallRecord(AppThunderbird).Installed);
}

TEST_F(Catalogue, SelectionByFragmentsLaterMatchesWin)
{
    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"SeaMonkey2.53.18", 1, "Mozilla"},
        {"SeaMonkey/Mozilla (profiles only)", 1, "Mozilla"},
        {"Mozilla Firefox 153.8.0", 2, "Firefox"},
        {"Mozilla Thunderbird 153.8.0", 3, "Thunderbird"},
        {"Mozilla Firefox Thunderbird", 3, "Thunderbird"},
        {"Mozilla Sunbird 0.9", 4, "Sunbird"},
        {"Flock 2.6.2", 5, "Flock"},
        {"Netscape 9.0.0.6", 6, "Netscape"},
        {"Netscape Messenger 9.0.0.6", 7, "Netscape Messenger"},
        {"Spicebird 0.7.1", 8, "Spicebird"},
        {"Songbird 2.2.0", 9, "Songbird"},
        {"Portable applications", 10, "Portable"},
        {"PostBox 7.0.60", 11, "PostBox"},
        {"Wyzo 3.6.4.1", 12, "Wyzo"},
    };
    for (const auto& [entry, number, code] : cases) {
        TSharedState s(env.Env);
        SelectApplication(s, entry);
        EXPECT_EQ(s.AppNumber, number) << entry;
        EXPECT_EQ(s.AppCodeName, code) << entry;
    }
    TSharedState s(env.Env);
    SelectApplication(s, "Mozilla Firefox 153.8.0");
    SelectApplication(s, "Mozilla application doesn't found on your system.");
    SelectApplication(s, "");
    EXPECT_EQ(s.AppNumber, 2); // unrecognised entries change nothing
    EXPECT_EQ(s.AppCodeName, "Firefox");
    SelectApplication(s, "mozilla thunderbird 3"); // fragments match with case
    EXPECT_EQ(s.AppNumber, 2);
}

TEST_F(Catalogue, NameTables)
{
    for (std::size_t i = 0; i < Applications().size(); ++i)
        EXPECT_EQ(Applications()[i].Number, i + 1); // a row out of place would shift them all
    EXPECT_EQ(ApplicationDisplayName(7), "Netscape Messanger");
    EXPECT_EQ(ApplicationDisplayName(11), "PostBox");
    EXPECT_EQ(ApplicationDisplayName(2), "Mozilla Firefox");
    EXPECT_EQ(ApplicationDisplayName(10, "unchanged"), "unchanged");
    EXPECT_EQ(ApplicationDisplayName(0, "unchanged"), "unchanged");
    EXPECT_EQ(ApplicationDisplayName(200, "unchanged"), "unchanged");

    EXPECT_EQ(ApplicationFileWord(7, ""), "Messanger");
    EXPECT_EQ(ApplicationFileWord(1, "/p"), "SeaMonkey");
    EXPECT_EQ(ApplicationFileWord(10, "/media/usb/profile"), "Portable");
    EXPECT_EQ(ApplicationFileWord(10, ""), "");
    EXPECT_EQ(ApplicationFileWord(0, "/media/usb/profile"), "Portable");

    EXPECT_EQ(ApplicationListPrefix(1), "SeaMonkey");
    EXPECT_EQ(ApplicationProbePrefix(1), "SeaMonkey/Mozilla ");
    EXPECT_EQ(ApplicationProbePrefix(11), "PostBox ");
    EXPECT_EQ(ApplicationCodeName(10), "Portable");
    EXPECT_EQ(BackupFolderKey(7), "netscapemessdir");
    EXPECT_EQ(BackupFolderKey(11), "");
    EXPECT_STREQ(ApplicationRegistryKeys(5).VersionKey, "SOFTWARE\\Flock");
    EXPECT_STREQ(ApplicationRegistryKeys(5).FolderKeyPrefix, "SOFTWARE\\Flock\\Flock\\");
    EXPECT_STREQ(ApplicationRegistryKeys(4).FallbackVersionKey, "");
}

TEST_F(Catalogue, ProfileRootIsTheFirstCandidateHoldingAProfileList)
{
    EXPECT_EQ(ProfileRootFor(home, AppFirefox), home + ".mozilla/firefox/");
    WriteHome(".config/mozilla/firefox/profiles.ini", "[General]\n");
    EXPECT_EQ(ProfileRootFor(home, AppFirefox), home + ".config/mozilla/firefox/");
    WriteHome(".mozilla/firefox/profiles.ini", "[General]\n");
    EXPECT_EQ(ProfileRootFor(home, AppFirefox), home + ".mozilla/firefox/");
    EXPECT_EQ(ProfileRootFor(home, AppThunderbird), home + ".thunderbird/");
    EXPECT_EQ(ProfileRootFor(home, AppPortable), "");
    EXPECT_EQ(ProfileRootFor(home, AppNone), "");
    EXPECT_EQ(OldSuiteProfileRoot(home), home + ".mozilla/");
}

} // namespace
