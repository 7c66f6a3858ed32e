#include "ProfilesTestSupport.h"

#include "profiles/ProfileCreation.h"

#include <filesystem>

namespace fs = std::filesystem;
using namespace tessarin;
using tessarin::test::ProfilesTest;

namespace {

using List = std::vector<std::string>;

class ProfileCreation : public ProfilesTest {
protected:
    void SetUp() override
    {
        ProfilesTest::SetUp();
        installFolder = temp.Folder() + "usr/lib/firefox-esr";
        MakeExecutable("firefox-esr");
        MakeExecutable("firefox-bin");
        InstallRecord(AppFirefox).Installed = true;
        InstallRecord(AppFirefox).InstallFolder = installFolder;
        state.AppNumber = AppFirefox;
        state.ProfileDir = home + ".mozilla/firefox/";
        fs::create_directories(state.ProfileDir);
    }
    void MakeExecutable(const std::string& name, bool executable = true)
    {
        const auto path = temp.Write("usr/lib/firefox-esr/" + name, "#!/bin/sh\n");
        fs::permissions(path, executable ? fs::perms::owner_all : fs::perms::owner_read);
    }
    TCreateProfileResult Create(const std::string& name, const std::string& folder = {},
                                bool confirmed = true)
    {
        return CreateNewProfile(state, ui, TNewProfileRequest{confirmed, name, folder});
    }

    std::string installFolder;
};

TEST_F(ProfileCreation, StartsTheFirstExistingExecutableWithTheLowerCasedName)
{
    EXPECT_EQ(Create("MyProfile"), TCreateProfileResult::Started);
    ASSERT_EQ(launcher->Requests.size(), 1u);
    EXPECT_EQ(launcher->Requests[0].Executable, installFolder + "/firefox-esr");
    EXPECT_EQ(launcher->Requests[0].Arguments, (List{"-CreateProfile", "myprofile"}));
    EXPECT_TRUE(ui.Calls.empty());
}

TEST_F(ProfileCreation, NameAndChosenFolderTravelAsOneArgument)
{
    EXPECT_EQ(Create("Work Mail", "/data/profiles/work"), TCreateProfileResult::Started);
    EXPECT_EQ(Create("Work Mail"), TCreateProfileResult::Started);
    ASSERT_EQ(launcher->Requests.size(), 2u);
    EXPECT_EQ(launcher->Requests[0].Arguments,
              (List{"-CreateProfile", "work mail /data/profiles/work"}));
    EXPECT_EQ(launcher->Requests[1].Arguments, (List{"-CreateProfile", "work mail"}));
}

TEST_F(ProfileCreation, EmptyOrInvalidNamesGetTheSameMessage)
{
    for (const std::string name :
         {"", "a:b", "a\\b", "a/b", "a!", "why?", "<x", "x>", "a*", "\"q\""})
        EXPECT_EQ(Create(name), TCreateProfileResult::InvalidName) << name;
    EXPECT_EQ(ui.CallsOf("Warning"), List(10, "Warning|No profile name was entered."));
    EXPECT_TRUE(launcher->Requests.empty());
    EXPECT_EQ(Create("pipe|allowed"), TCreateProfileResult::Started);
}

TEST_F(ProfileCreation, NotConfirmedDoesNothing)
{
    EXPECT_EQ(Create("a:b", "", false), TCreateProfileResult::NotConfirmed);
    EXPECT_TRUE(ui.Calls.empty());
    EXPECT_TRUE(launcher->Requests.empty());
}

TEST_F(ProfileCreation, ExistingProfileIsNotCreatedAgain)
{
    fs::create_directories(state.ProfileDir + "Profiles/old");
    EXPECT_EQ(Create("Old"), TCreateProfileResult::AlreadyExists);
    // Listed under that name in profiles.ini (where Firefox on Linux keeps them).
    WriteHome(".mozilla/firefox/profiles.ini",
              "[Profile0]\nName=tessarina\nIsRelative=1\nPath=cud24is2.tessarina\n");
    EXPECT_EQ(Create("TessarinA"), TCreateProfileResult::AlreadyExists);
    EXPECT_EQ(ui.CallsOf("Warning"), List(2, "Warning|A profile with this name already exists."));
    EXPECT_TRUE(launcher->Requests.empty());
    // Only that root's list counts.
    EXPECT_EQ(Create("other"), TCreateProfileResult::Started);
}

TEST_F(ProfileCreation, NothingToStartIsReported)
{
    fs::remove(installFolder + "/firefox-esr");
    MakeExecutable("firefox", false); // present but not executable
    EXPECT_EQ(Create("a"), TCreateProfileResult::Started);
    EXPECT_EQ(launcher->Requests.back().Executable, installFolder + "/firefox-bin");
    fs::remove(installFolder + "/firefox-bin");
    EXPECT_EQ(Create("a"), TCreateProfileResult::NoExecutable);
    InstallRecord(AppFirefox).InstallFolder.clear();
    EXPECT_EQ(Create("a"), TCreateProfileResult::NoExecutable);
    EXPECT_EQ(ui.CallsOf("Warning"),
              List(2, "Warning|Creation of the new profile did not succeed."));
    EXPECT_EQ(launcher->Requests.size(), 1u);
}

TEST_F(ProfileCreation, FailedStartIsReported)
{
    launcher->Result = false;
    EXPECT_EQ(Create("a"), TCreateProfileResult::StartFailed);
    EXPECT_EQ(ui.CallsOf("Warning"), List{"Warning|Creation of the new profile did not succeed."});
}

TEST_F(ProfileCreation, PortableHasNoExecutable)
{
    state.AppNumber = AppPortable;
    EXPECT_EQ(Create("a"), TCreateProfileResult::NoExecutable);
    EXPECT_EQ(ProfileCreationExecutable(AppNone), "");
}

} // namespace
