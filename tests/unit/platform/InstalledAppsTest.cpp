#include "platform/InstalledApps.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace tessarin;
using tessarin::test::TTempDir;

namespace {

const std::string FixtureRoot = std::string(TESSARIN_TEST_DATA) + "/profiles/install-tree";

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

} // namespace
