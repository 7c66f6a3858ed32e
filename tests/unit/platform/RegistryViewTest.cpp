#include "platform/RegistryView.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace tessarin;
using tessarin::test::TTempDir;

namespace {

const std::string FixtureRoot = std::string(TESSARIN_TEST_DATA) + "/profiles/install-tree";

TEST(MemoryRegistry, KeysAndValuesCompareWithoutCaseAndIgnoreOuterBackslashes)
{
    TMemoryRegistry r;
    r.SetValue("SOFTWARE\\mozilla\\Mozilla Firefox", "CurrentVersion", "115.0");
    EXPECT_EQ(r.ReadString("software\\MOZILLA\\mozilla firefox\\", "currentversion"), "115.0");
    EXPECT_EQ(r.ReadString("\\SOFTWARE\\mozilla\\Mozilla Firefox", "CurrentVersion"), "115.0");
    EXPECT_TRUE(r.KeyExists("SOFTWARE\\mozilla")); // parents exist too
    EXPECT_TRUE(r.KeyExists("SOFTWARE"));
    EXPECT_FALSE(r.KeyExists("SOFTWARE\\mozilla.org"));
    EXPECT_FALSE(r.KeyExists(""));
    // A doubled backslash is an empty key name, not the same key.
    EXPECT_FALSE(r.ReadString("SOFTWARE\\mozilla\\\\Mozilla Firefox", "CurrentVersion"));
    EXPECT_FALSE(r.ReadString("SOFTWARE\\mozilla\\Mozilla Firefox", "Install Directory"));
    EXPECT_FALSE(r.ReadString("SOFTWARE\\nothing", "CurrentVersion"));
}

TEST(MemoryRegistry, EmptyValueExistsAndSubKeysKeepTheirOrderAndSpelling)
{
    TMemoryRegistry r;
    r.SetValue("SOFTWARE\\mozilla\\Mozilla Thunderbird", "CurrentVersion", "");
    r.AddKey("SOFTWARE\\mozilla\\SeaMonkey");
    r.AddKey("software\\mozilla\\mozilla thunderbird\\Extra"); // same key, other case
    ASSERT_TRUE(r.ReadString("SOFTWARE\\mozilla\\Mozilla Thunderbird", "CurrentVersion"));
    EXPECT_EQ(*r.ReadString("SOFTWARE\\mozilla\\Mozilla Thunderbird", "CurrentVersion"), "");
    EXPECT_EQ(r.SubKeyNames("SOFTWARE\\MOZILLA"),
              (std::vector<std::string>{"Mozilla Thunderbird", "SeaMonkey"}));
    EXPECT_EQ(r.SubKeyNames("SOFTWARE\\mozilla\\Mozilla Thunderbird"),
              std::vector<std::string>{"Extra"});
    EXPECT_TRUE(r.SubKeyNames("SOFTWARE\\none").empty());
}

TEST(MemoryRegistry, ReadsTheTextFormFirstPairWinning)
{
    const TMemoryRegistry r = TMemoryRegistry::FromFile(std::string(TESSARIN_TEST_DATA) +
                                                        "/profiles/registry/machine.ini");
    EXPECT_EQ(r.ReadString("SOFTWARE\\mozilla\\Mozilla Firefox", "CurrentVersion"),
              "3.6.3 (en-US)");
    EXPECT_EQ(r.ReadString("SOFTWARE\\mozilla\\Mozilla Firefox\\3.6.3 (en-US)\\Main",
                           "Install Directory"),
              "C:\\Program Files\\Mozilla Firefox");

    const TMemoryRegistry twice =
        TMemoryRegistry::FromText("[K]\nV=first\nV=second\n[k]\nV=third\n");
    EXPECT_EQ(twice.ReadString("K", "V"), "first");
    EXPECT_TRUE(TMemoryRegistry::FromFile("/nonexistent/registry.ini").SubKeyNames("").empty());
}

TEST(InstalledApplications, FindsEachApplicationIniInSearchOrderAndSkipsUnusableOnes)
{
    TInstallSearch search;
    search.Folders = {FixtureRoot + "/usr/lib/firefox-esr", FixtureRoot + "/usr/lib/firefox",
                      FixtureRoot + "/usr/lib/thunderbird", FixtureRoot + "/usr/lib/missing"};
    search.ParentFolders = {FixtureRoot + "/opt"};
    const auto apps = FindInstalledApplications(search);
    ASSERT_EQ(apps.size(), 5u);
    EXPECT_EQ(apps[0].Name, "Firefox");
    EXPECT_EQ(apps[0].Version, "153.8.0");
    EXPECT_EQ(apps[0].Folder, FixtureRoot + "/usr/lib/firefox-esr");
    EXPECT_EQ(apps[1].Version, "140.5.0");
    EXPECT_EQ(apps[2].Name, "Thunderbird");
    // /opt in name order; /opt/noversion has no Version= and is left out.
    EXPECT_EQ(apps[3].Name, "SeaMonkey");
    EXPECT_EQ(apps[3].Version, "2.53.18");
    EXPECT_EQ(apps[4].Name, "Waterfox");
}

TEST(InstalledApplications, SameFolderReachedTwiceCountsOnce)
{
    TTempDir temp;
    fs::create_directories(temp.Path() / "usr/lib");
    fs::copy(FixtureRoot + "/usr/lib/thunderbird", temp.Path() / "usr/lib/thunderbird");
    fs::create_directory_symlink("lib", temp.Path() / "usr/lib64");
    TInstallSearch search;
    search.Folders = {temp.Folder() + "usr/lib/thunderbird",
                      temp.Folder() + "usr/lib64/thunderbird"};
    EXPECT_EQ(FindInstalledApplications(search).size(), 1u);
}

TEST(InstalledApplications, BinaryOrNamelessApplicationIniIsSkipped)
{
    TTempDir temp;
    temp.Write("a/application.ini", std::string("\0\x01\xff[App\x00Name=", 14));
    temp.Write("b/application.ini", "[App]\nVersion=1.0\n");
    temp.Write("c/application.ini", "[App]\nName=Firefox\nVersion=\n");
    temp.Write("d/application.ini", "[App]\nName=Firefox\nVersion=1.0\\Main\n");
    TInstallSearch search;
    search.ParentFolders = {temp.Folder()};
    EXPECT_TRUE(FindInstalledApplications(search).empty());
}

TEST(InstalledApplications, DefaultSearchCoversPackagesOptSnapAndFlatpak)
{
    TTempDir temp;
    const std::string root = temp.Folder() + "root";
    const std::string home = temp.Folder() + "home";
    fs::create_directories(root);
    fs::copy(FixtureRoot, root, fs::copy_options::recursive);
    temp.Write("root/snap/firefox/current/usr/lib/firefox/application.ini",
               "[App]\nName=Firefox\nVersion=146.0\n");
    temp.Write("home/.local/share/flatpak/app/org.mozilla.Thunderbird/current/active/files/lib/"
               "thunderbird/application.ini",
               "[App]\nName=Thunderbird\nVersion=140.6.0esr\n");
    const auto apps = FindInstalledApplications(DefaultInstallSearch(root, home));
    std::vector<std::string> seen;
    for (const auto& a : apps)
        seen.push_back(a.Name + " " + a.Version);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"Firefox 153.8.0", "Firefox 140.5.0", "Thunderbird 153.8.0",
                                        "Firefox 146.0", "Thunderbird 140.6.0esr",
                                        "SeaMonkey 2.53.18", "Waterfox 6.5.0"}));
    EXPECT_EQ(DefaultInstallSearch("/", "/home/u").Folders.front(), "/usr/lib/firefox-esr");
    EXPECT_EQ(DefaultInstallSearch("/", "/home/u").ParentFolders, std::vector<std::string>{"/opt"});
}

TEST(SynthesisedRegistry, PresentsTheKeysOfEachKnownApplication)
{
    const TMemoryRegistry r = SynthesiseRegistry({
        {"Firefox", "153.8.0", "/usr/lib/firefox-esr"},
        {"Firefox", "140.5.0", "/usr/lib/firefox"},
        {"Thunderbird", "153.8.0", "/usr/lib/thunderbird"},
        {"Iceape", "2.7.13", "/usr/lib/iceape"},
        {"Flock", "2.6", "/opt/flock"},
        {"Postbox", "7.0.60", "/opt/postbox"},
        {"Waterfox", "6.5.0", "/opt/waterfox"},
    });
    // The first installation found gives the current version; every one gets its folder.
    EXPECT_EQ(r.ReadString("SOFTWARE\\mozilla\\Mozilla Firefox", "CurrentVersion"), "153.8.0");
    EXPECT_EQ(
        r.ReadString("SOFTWARE\\mozilla\\Mozilla Firefox\\153.8.0\\Main", "Install Directory"),
        "/usr/lib/firefox-esr");
    EXPECT_EQ(
        r.ReadString("SOFTWARE\\mozilla\\Mozilla Firefox\\140.5.0\\Main", "Install Directory"),
        "/usr/lib/firefox");
    EXPECT_EQ(r.ReadString("SOFTWARE\\mozilla\\Mozilla Thunderbird", "CurrentVersion"), "153.8.0");
    EXPECT_EQ(r.ReadString("SOFTWARE\\mozilla\\SeaMonkey\\", "CurrentVersion"), "2.7.13");
    EXPECT_EQ(r.ReadString("SOFTWARE\\mozilla\\SeaMonkey\\2.7.13\\Main", "Install Directory"),
              "/usr/lib/iceape");
    // Flock keeps its version one level above its folder keys.
    EXPECT_EQ(r.ReadString("SOFTWARE\\Flock", "CurrentVersion"), "2.6");
    EXPECT_EQ(r.ReadString("SOFTWARE\\Flock\\Flock\\2.6\\Main", "Install Directory"), "/opt/flock");
    EXPECT_EQ(r.ReadString("SOFTWARE\\PostBox\\PostBox\\7.0.60\\Main", "Install Directory"),
              "/opt/postbox");
    EXPECT_FALSE(r.KeyExists("SOFTWARE\\mozilla.org"));
    EXPECT_EQ(r.SubKeyNames("SOFTWARE").size(), 3u); // mozilla, Flock, PostBox
}

TEST(SynthesisedRegistry, TestViewReplacesTheMachineView)
{
    auto view = std::make_shared<TMemoryRegistry>();
    view->SetValue("K", "V", "x");
    SetMachineRegistry(view);
    EXPECT_EQ(OpenMachineRegistry()->ReadString("K", "V"), "x");
    SetMachineRegistry(nullptr);
    EXPECT_FALSE(OpenMachineRegistry()->ReadString("K", "V"));
}

} // namespace
