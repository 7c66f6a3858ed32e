#include "ProfilesTestSupport.h"

#include "profiles/MozApp.h"
#include "profiles/MozManager.h"

using namespace tessarin;
using tessarin::test::ProfilesTest;
using tessarin::test::TRegistryDatWriter;

namespace {

class MozApps : public ProfilesTest {
protected:
    void InstallFirefoxAndThunderbird()
    {
        UseRegistry(R"(
[SOFTWARE\mozilla\Mozilla Firefox]
CurrentVersion=153.8.0
[SOFTWARE\mozilla\Mozilla Firefox\153.8.0\Main]
Install Directory=/usr/lib/firefox-esr
[SOFTWARE\mozilla\Mozilla Thunderbird]
CurrentVersion=153.8.0
[SOFTWARE\mozilla\Mozilla Thunderbird\153.8.0\Main]
Install Directory=/usr/lib/thunderbird
)");
    }
};

TEST_F(MozApps, DefinitionsOfTheFiveClasses)
{
    const TSeaMonkeyApp seamonkey(Installations());
    const TFirefoxApp firefox(Installations());
    const TThunderbirdApp thunderbird(Installations());
    const TSunbirdApp sunbird(Installations());
    const TPostBoxApp postbox(Installations());
    EXPECT_EQ(seamonkey.GetId(), 1);
    EXPECT_EQ(seamonkey.GetShortName(), "seamonkey");
    EXPECT_EQ(seamonkey.GetProfileRoots(),
              (std::vector<std::string>{"[AppData]/.mozilla/seamonkey", "[AppData]/.mozilla"}));
    EXPECT_EQ(firefox.GetName(), "Mozilla Firefox");
    EXPECT_EQ(firefox.GetProfileRoots().size(), 5u);
    EXPECT_EQ(firefox.GetExecutables(),
              (std::vector<std::string>{"firefox", "firefox-esr", "firefox-bin"}));
    EXPECT_EQ(thunderbird.GetId(), 3);
    EXPECT_EQ(thunderbird.GetProfileRoots().front(), "[AppData]/.thunderbird");
    EXPECT_EQ(sunbird.GetName(), "Mozilla Sunbird");
    EXPECT_EQ(postbox.GetId(), 11);
    EXPECT_EQ(postbox.GetName(), "Postbox");
    EXPECT_EQ(postbox.GetShortName(), "postbox");
    EXPECT_FALSE(postbox.IsInstalled());
}

TEST_F(MozApps, ManagerKeepsTheInstalledOnesInOrder)
{
    InstallFirefoxAndThunderbird();
    const TMozManager manager(env.Env);
    ASSERT_EQ(manager.Apps().size(), 2u);
    EXPECT_EQ(manager.Apps()[0]->GetShortName(), "firefox");
    EXPECT_EQ(manager.Apps()[0]->GetVersion(), "153.8.0");
    EXPECT_EQ(manager.Apps()[0]->GetInstallFolder(), "/usr/lib/firefox-esr");
    EXPECT_EQ(manager.Apps()[1]->GetShortName(), "thunderbird");
}

TEST_F(MozApps, FindAppByShortNameFragmentInAnyCase)
{
    InstallFirefoxAndThunderbird();
    const TMozManager manager(env.Env);
    ASSERT_NE(manager.FindApp("FireFox"), nullptr);
    EXPECT_EQ(manager.FindApp("FireFox")->GetId(), 2);
    EXPECT_EQ(manager.FindApp("fire")->GetId(), 2);
    EXPECT_EQ(manager.FindApp("i")->GetId(), 3); // the last match wins
    EXPECT_EQ(manager.FindApp("Mozilla Firefox"), nullptr);
    EXPECT_EQ(manager.FindApp(""), nullptr);
    EXPECT_EQ(manager.FindApp("seamonkey"), nullptr); // not installed, not kept
}

TEST_F(MozApps, ProfilesOfCurrentFirefoxRoot)
{
    InstallFirefoxAndThunderbird();
    CopyProfileFixture("firefox-current", ".config/mozilla/firefox");
    const TFirefoxApp firefox(Installations());
    ASSERT_NE(firefox.GetProfiles(), nullptr);
    const auto& profiles = *firefox.GetProfiles();
    ASSERT_EQ(profiles.size(), 3u);
    const std::string root = home + ".config/mozilla/firefox/";
    EXPECT_EQ(profiles[0].GetName(), "tessarinA");
    EXPECT_EQ(profiles[0].GetPath(), root + "cud24is2.tessarinA/");
    EXPECT_EQ(profiles[0].GetRelativePath(), "cud24is2.tessarinA");
    EXPECT_EQ(profiles[1].GetName(), "work");
    EXPECT_EQ(profiles[1].GetPath(), home + "elsewhere/work-profile/");
    EXPECT_EQ(profiles[1].GetRelativePath(), home + "elsewhere/work-profile");
    EXPECT_EQ(profiles[2].GetPath(), root + "vyrn0wzh.default-esr/");
}

TEST_F(MozApps, FindProfileTakesTheLastNameContainingTheFragment)
{
    CopyProfileFixture("firefox-current", ".mozilla/firefox");
    const TFirefoxApp firefox(Installations());
    ASSERT_NE(firefox.FindProfile("default"), nullptr);
    EXPECT_EQ(firefox.FindProfile("default")->GetName(), "default-esr");
    EXPECT_EQ(firefox.FindProfile("tessarina")->GetName(), "tessarinA"); // name lower-cased
    EXPECT_EQ(firefox.FindProfile("e")->GetName(), "default-esr");
    EXPECT_EQ(firefox.FindProfile("tessarinA"), nullptr); // the fragment is not lower-cased
    EXPECT_EQ(firefox.FindProfile(""), nullptr);
    EXPECT_EQ(firefox.FindProfile("nothing"), nullptr);
}

TEST_F(MozApps, AbsolutePathInsideTheRootGetsARelativePath)
{
    WriteHome(".thunderbird/profiles.ini", "[Profile0]\nName=abs\nIsRelative=0\nPath=" + home +
                                               ".thunderbird/x.abs\n"
                                               "[Profile1]\nName=low\nIsRelative=257\nPath=y.low\n"
                                               "[Profile2]\nName=up\nIsRelative=1\nPath=../..\n");
    const TThunderbirdApp thunderbird(Installations());
    ASSERT_NE(thunderbird.GetProfiles(), nullptr);
    const auto& profiles = *thunderbird.GetProfiles();
    ASSERT_EQ(profiles.size(), 1u); // 257 is not relative here, "../.." leaves the root
    EXPECT_EQ(profiles[0].GetPath(), home + ".thunderbird/x.abs/");
    EXPECT_EQ(profiles[0].GetRelativePath(), "x.abs");
}

TEST_F(MozApps, NoRootWithAProfileListMeansNoProfileList)
{
    std::filesystem::create_directories(home + ".mozilla/firefox");
    const TFirefoxApp firefox(Installations());
    EXPECT_EQ(firefox.GetProfiles(), nullptr);
    EXPECT_EQ(firefox.FindProfile("default"), nullptr);

    WriteHome(".mozilla/firefox/profiles.ini", "");
    const TFirefoxApp withEmptyList(Installations());
    ASSERT_NE(withEmptyList.GetProfiles(), nullptr);
    EXPECT_TRUE(withEmptyList.GetProfiles()->empty());
}

TEST_F(MozApps, OldSuiteProfilesFromAppreg)
{
    WriteHome(".mozilla/appreg",
              TRegistryDatWriter::Suite({{"default", home + ".mozilla/default/k3j9x1ab.slt"},
                                         {"mail", home + ".mozilla/mail/notaprofile"},
                                         {"bad", "/"}})
                  .Data());
    const TSeaMonkeyApp seamonkey(Installations());
    ASSERT_NE(seamonkey.GetProfiles(), nullptr);
    const auto& profiles = *seamonkey.GetProfiles();
    ASSERT_EQ(profiles.size(), 2u); // every node but the one pointing at "/"
    EXPECT_EQ(profiles[0].GetPath(), home + ".mozilla/default/k3j9x1ab.slt");
    EXPECT_EQ(profiles[0].GetRelativePath(), "default/k3j9x1ab.slt");
    EXPECT_EQ(profiles[1].GetName(), "mail");
}

TEST_F(MozApps, DetectionUsesTheFallbackKeyAndCopiesTheTable)
{
    UseRegistry(R"(
[SOFTWARE\mozilla.org\SeaMonkey]
CurrentVersion=1.1.18
[SOFTWARE\mozilla.org\SeaMonkey\1.1.18\Main]
Install Directory=/opt/seamonkey-1.1
)");
    const TSeaMonkeyApp seamonkey(Installations());
    EXPECT_TRUE(seamonkey.IsInstalled());
    EXPECT_EQ(seamonkey.GetVersion(), "1.1.18");
    EXPECT_EQ(seamonkey.GetInstallFolder(), "/opt/seamonkey-1.1");
    EXPECT_EQ(InstallRecord(AppSeaMonkey).InstallFolder, "/opt/seamonkey-1.1");
}

} // namespace
