#include "ProfilesTestSupport.h"

#include "profiles/ProfileDiscovery.h"
#include "support/Unprivileged.h"

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tessarin;
using tessarin::test::ProfilesTest;
using tessarin::test::RerunUnprivileged;
using tessarin::test::TRegistryDatWriter;

namespace {

using List = std::vector<std::string>;

class ProfileDiscovery : public ProfilesTest {
protected:
    List RecordNames() const
    {
        List out;
        for (const auto& r : state.ProfileRecords)
            out.push_back(r.Name);
        return out;
    }
    std::string FolderOf(const std::string& name) const
    {
        for (const auto& r : state.ProfileRecords)
            if (r.Name == name)
                return r.Folder;
        return "<none>";
    }
    // The Find-profile button, with the folder dialog answering folder.
    bool FindProfile(const std::optional<std::string>& folder)
    {
        ui.Folders.push_back(folder);
        return AddPortableProfile(state, ui);
    }
};

TEST_F(ProfileDiscovery, CurrentFirefoxRootAsFirefoxWritesIt)
{
    CopyProfileFixture("firefox-current", ".config/mozilla/firefox");
    state.AppNumber = AppFirefox;
    ListProfiles(state);
    const std::string root = home + ".config/mozilla/firefox/";
    EXPECT_EQ(state.ProfileDir, root);
    // Records in file order of the profile numbers; the list sorted as the control shows it.
    EXPECT_EQ(RecordNames(), (List{"tessarinA", "work", "default-esr"}));
    EXPECT_EQ(state.ProfileList, (List{"default-esr", "tessarinA", "work"}));
    EXPECT_EQ(FolderOf("tessarinA"), root + "cud24is2.tessarinA");
    EXPECT_EQ(FolderOf("default-esr"), root + "vyrn0wzh.default-esr");
    EXPECT_EQ(FolderOf("work"), home + "elsewhere/work-profile");
    EXPECT_EQ(ResolveSelectedProfile(state, "default-esr"), root + "vyrn0wzh.default-esr/");
}

TEST_F(ProfileDiscovery, OldFirefoxAndThunderbirdRoots)
{
    CopyProfileFixture("firefox-old", ".mozilla/firefox");
    CopyProfileFixture("thunderbird", ".thunderbird");
    state.AppNumber = AppFirefox;
    ListProfiles(state);
    EXPECT_EQ(state.ProfileDir, home + ".mozilla/firefox/");
    EXPECT_EQ(state.ProfileList, List{"default"});
    EXPECT_EQ(FolderOf("default"), home + ".mozilla/firefox/k3j9x1ab.default");

    state.AppNumber = AppThunderbird;
    ListProfiles(state);
    EXPECT_EQ(state.ProfileList, (List{"default-release", "tessarinB"}));
    EXPECT_EQ(FolderOf("tessarinB"), home + ".thunderbird/ykvtoway.tessarinB");
}

TEST_F(ProfileDiscovery, OnlyTheLowByteOfIsRelativeCounts)
{
    WriteHome(".mozilla/firefox/profiles.ini",
              "[Profile0]\nName=a\nIsRelative=257\nPath=a.default\n"
              "[Profile1]\nName=b\nIsRelative=256\nPath=" +
                  home +
                  "b\n"
                  "[Profile2]\nName=c\nPath=Profiles/c.default\n");
    state.AppNumber = AppFirefox;
    ListProfiles(state);
    EXPECT_EQ(FolderOf("a"), home + ".mozilla/firefox/a.default");
    EXPECT_EQ(FolderOf("b"), home + "b");
    EXPECT_EQ(FolderOf("c"), "<none>"); // relative text stored as absolute: not a folder here
}

TEST_F(ProfileDiscovery, PathsLeavingTheRootOrAboveItAreNotOffered)
{
    WriteHome(".mozilla/firefox/profiles.ini",
              "[Profile0]\nName=escape\nIsRelative=1\nPath=../../..\n"
              "[Profile1]\nName=home\nIsRelative=0\nPath=" +
                  home +
                  "\n"
                  "[Profile2]\nName=inside\nIsRelative=1\nPath=x/../y.default\n"
                  "[Profile3]\nName=sideways\nIsRelative=1\nPath=../thunderbird/z\n");
    state.AppNumber = AppFirefox;
    ListProfiles(state);
    EXPECT_EQ(state.ProfileList, List{"inside"});
    EXPECT_EQ(FolderOf("inside"), home + ".mozilla/firefox/y.default");
}

TEST_F(ProfileDiscovery, ProfilesIniWinsOverRegistryDat)
{
    WriteHome(".mozilla/seamonkey/profiles.ini",
              "[Profile0]\nName=new\nIsRelative=1\nPath=n.default\n");
    WriteHome(".mozilla/seamonkey/registry.dat",
              TRegistryDatWriter::Suite({{"old", home + ".mozilla/seamonkey/o/x.slt"}}).Data());
    state.AppNumber = AppSeaMonkey;
    ListProfiles(state);
    EXPECT_EQ(state.ProfileList, List{"new"});
}

TEST_F(ProfileDiscovery, SeaMonkeyFallsBackToTheOldSuiteRegistry)
{
    WriteHome(".mozilla/appreg",
              TRegistryDatWriter::Suite({{"default", home + ".mozilla/default/k3j9x1ab.slt"},
                                         {"mail", home + ".mozilla/mail/notaprofile"},
                                         {"Work", home + ".mozilla/work/ab12cd34.slt"}})
                  .Data());
    state.AppNumber = AppSeaMonkey;
    ListProfiles(state);
    EXPECT_EQ(state.ProfileDir, home + ".mozilla/seamonkey/");
    // Every node is a record; only "*.slt" folders are offered.
    EXPECT_EQ(RecordNames(), (List{"default", "mail", "Work"}));
    EXPECT_EQ(state.ProfileList, (List{"default", "Work"}));
    EXPECT_EQ(ResolveSelectedProfile(state, "Work"), home + ".mozilla/work/ab12cd34.slt/");
}

TEST_F(ProfileDiscovery, RegistryWithoutProfileNodeGivesFalse)
{
    WriteHome("root/registry.dat", TRegistryDatWriter::Suite({}).Data());
    EXPECT_FALSE(ParseProfileRoot(state, home + "root/"));
    WriteHome("random/registry.dat", "\x13\x37 not a registry at all \xff\xfe");
    EXPECT_FALSE(ParseProfileRoot(state, home + "random/"));
    WriteHome("empty/registry.dat", "");
    EXPECT_FALSE(ParseProfileRoot(state, home + "empty/"));
    EXPECT_TRUE(ParseProfileRoot(state, home + "nothing/"));
    EXPECT_TRUE(state.ProfileRecords.empty());
}

TEST_F(ProfileDiscovery, ParseReplacesRecordsAndAddsToTheList)
{
    WriteHome("a/profiles.ini", "[Profile0]\nName=one\nIsRelative=1\nPath=1\n");
    WriteHome("b/profiles.ini", "[Profile0]\nName=two\nIsRelative=1\nPath=2\n");
    ParseProfileRoot(state, home + "a/");
    ParseProfileRoot(state, home + "b"); // a missing trailing separator is added
    EXPECT_EQ(RecordNames(), List{"two"});
    EXPECT_EQ(state.ProfileList, (List{"one", "two"}));
}

TEST_F(ProfileDiscovery, NewNamesJoinTheSortedListAfterEqualOnes)
{
    state.ProfileList = {"b"};
    WriteHome("r/profiles.ini", "[Profile0]\nName=B\nIsRelative=1\nPath=1\n"
                                "[Profile1]\nName=a\nIsRelative=1\nPath=2\n"
                                "[Profile2]\nName=b\nIsRelative=1\nPath=3\n");
    ParseProfileRoot(state, home + "r/");
    EXPECT_EQ(state.ProfileList, (List{"a", "b", "B", "b"}));
}

TEST_F(ProfileDiscovery, HundredThousandProfilesAreListedWithoutQuadraticWork)
{
    // Names in falling order, so that inserting them one by one into the sorted list
    // moves the whole list each time: minutes of work, caught by the test's timeout.
    std::string text;
    const int count = 100000;
    for (int i = 0; i < count; ++i) {
        const std::string name = "p" + std::to_string(2000000 - i);
        text += "[Profile" + std::to_string(i) + "]\nName=" + name + "\nIsRelative=1\nPath=x" +
                std::to_string(i) + "\n";
    }
    WriteHome("many/profiles.ini", text);
    ParseProfileRoot(state, home + "many/");
    ASSERT_EQ(state.ProfileList.size(), static_cast<std::size_t>(count));
    EXPECT_EQ(state.ProfileList.front(), "p" + std::to_string(2000000 - count + 1));
    EXPECT_EQ(state.ProfileList.back(), "p2000000");
    EXPECT_TRUE(std::is_sorted(state.ProfileList.begin(), state.ProfileList.end()));
}

TEST_F(ProfileDiscovery, PortableSelectionReadsNoProfileFile)
{
    // Lying in the working folder, these must not be picked up for a portable selection.
    const fs::path old = fs::current_path();
    fs::current_path(temp.Path());
    temp.Write("profiles.ini", "[Profile0]\nName=stray\nIsRelative=1\nPath=s\n");
    state.AppNumber = AppPortable;
    state.ExternalProfileDir = "/media/usb/profile";
    state.ProfileRecords.push_back({"left over", "/x"});
    ListProfiles(state);
    fs::current_path(old);
    EXPECT_EQ(state.ProfileList, List{"Portable profile"});
    EXPECT_TRUE(state.ProfileRecords.empty());
    EXPECT_EQ(ResolveSelectedProfile(state, "Portable profile"), "/media/usb/profile/");
}

TEST_F(ProfileDiscovery, ResolvingTheSelectedEntry)
{
    state.ProfileRecords = {{"same", "  /p/first  "}, {"same", "/p/second"}, {"slash", "/p/s/"}};
    EXPECT_EQ(ResolveSelectedProfile(state, "same"), "/p/first/");
    EXPECT_EQ(ResolveSelectedProfile(state, "slash"), "/p/s/");
    EXPECT_EQ(ResolveSelectedProfile(state, "Same"), std::nullopt); // exact, with case
    state.ExternalProfileDir = "/media/usb/p";
    EXPECT_EQ(ResolveSelectedProfile(state, "Portable profile"), "/media/usb/p/");
    EXPECT_EQ(ResolveSelectedProfile(state, "same"), "/p/first/");
}

TEST_F(ProfileDiscovery, PortableEntryStaysAcrossRefreshesAndNamesHideIt)
{
    WriteHome("usb/profile/prefs.js", "");
    CopyProfileFixture("thunderbird", ".thunderbird");
    state.AppNumber = AppThunderbird;
    ListProfiles(state);
    EXPECT_TRUE(FindProfile(home + "usb/profile"));
    EXPECT_EQ(state.ProfileList, (List{"default-release", "Portable profile", "tessarinB"}));
    ListProfiles(state);
    EXPECT_EQ(state.ProfileList, (List{"default-release", "Portable profile", "tessarinB"}));
    EXPECT_EQ(state.ExternalProfileDir, home + "usb/profile");
    EXPECT_TRUE(ui.CallsOf("Error").empty());
}

TEST_F(ProfileDiscovery, FindProfileChecksForPrefsJs)
{
    WriteHome("usb/empty/readme.txt", "");
    EXPECT_FALSE(FindProfile(std::nullopt)); // cancelled
    EXPECT_FALSE(FindProfile(home + "usb/empty"));
    const std::string ask = "ChooseFolder|Select profile of your portable Mozilla application.";
    EXPECT_EQ(ui.Calls, (List{ask, ask, "Error|Error|No profile was found."}));
    EXPECT_TRUE(state.ProfileList.empty());
    EXPECT_EQ(state.ExternalProfileDir, "");
}

TEST_F(ProfileDiscovery, ASecondPickReplacesTheFirstPortableFolder)
{
    WriteHome("usb/one/prefs.js", "");
    WriteHome("usb/two/prefs.js", "");
    EXPECT_TRUE(FindProfile(home + "usb/one"));
    EXPECT_TRUE(FindProfile(home + "usb/two"));
    EXPECT_EQ(state.ProfileList, List{"Portable profile"});
    EXPECT_EQ(state.ExternalProfileDir, home + "usb/two");
}

TEST_F(ProfileDiscovery, ProfileNamedLikeThePortableEntryKeepsIt)
{
    WriteHome("usb/one/prefs.js", "");
    WriteHome(".thunderbird/profiles.ini",
              "[Profile0]\nName=Portable profile\nIsRelative=1\nPath=p.default\n");
    state.AppNumber = AppThunderbird;
    ListProfiles(state);
    EXPECT_FALSE(FindProfile(home + "usb/one"));
    EXPECT_EQ(state.ExternalProfileDir, "");
    EXPECT_EQ(ResolveSelectedProfile(state, "Portable profile"), home + ".thunderbird/p.default/");
}

TEST_F(ProfileDiscovery, UnreadableListsYieldNothingAndUnreadableProfilesAreStillListed)
{
    if (RerunUnprivileged())
        return;
    fs::create_directories(home + ".thunderbird/profiles.ini"); // a folder, not a file
    state.AppNumber = AppThunderbird;
    ListProfiles(state);
    EXPECT_TRUE(state.ProfileList.empty());

    CopyProfileFixture("firefox-old", ".mozilla/firefox");
    const fs::path profile = home + ".mozilla/firefox/k3j9x1ab.default";
    fs::permissions(profile, fs::perms::none);
    state.AppNumber = AppFirefox;
    ListProfiles(state); // discovery never enters a profile folder
    fs::permissions(profile, fs::perms::owner_all);
    EXPECT_EQ(state.ProfileList, List{"default"});
}

TEST_F(ProfileDiscovery, ProfilesIniWithoutReadPermissionYieldsNothing)
{
    if (RerunUnprivileged())
        return;
    CopyProfileFixture("firefox-old", ".mozilla/firefox");
    state.AppNumber = AppFirefox;
    fs::permissions(home + ".mozilla/firefox/profiles.ini", fs::perms::none);
    ListProfiles(state);
    EXPECT_TRUE(state.ProfileList.empty());
}

TEST_F(ProfileDiscovery, SortedInsertComparesWithoutCaseAndKeepsArrivalOrderOfEquals)
{
    List list;
    for (const char* s : {"beta", "Alpha", "alpha", "Gamma", "ALPHA", "b"})
        InsertSorted(list, s);
    EXPECT_EQ(list, (List{"Alpha", "alpha", "ALPHA", "b", "beta", "Gamma"}));
}

} // namespace
