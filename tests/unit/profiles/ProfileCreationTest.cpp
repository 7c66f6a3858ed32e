#include "ProfilesTestSupport.h"

#include "profiles/ProfileCreation.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace tessarin;
using tessarin::test::ProfilesTest;

namespace {

using List = std::vector<std::string>;
using Status = TRunResult::TStatus;

const std::string BadCreate = "Warning|Creation of the new profile did not succeed.";

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
        appRoot = state.ProfileDir;
        launcher->Application = [this](const TRecordingLauncher::Request& r) { Firefox(r); };
    }
    void MakeExecutable(const std::string& name, bool executable = true)
    {
        const auto path = temp.Write("usr/lib/firefox-esr/" + name, "#!/bin/sh\n");
        fs::permissions(path, executable ? fs::perms::owner_all : fs::perms::owner_read);
    }
    // Plays Firefox's -CreateProfile: the argument is split at its first blank into name
    // and folder; a folder that is not absolute makes it create nothing.
    void Firefox(const TRecordingLauncher::Request& r) const
    {
        const std::string& arg = r.Arguments.at(1);
        const std::size_t blank = arg.find(' ');
        const std::string name = arg.substr(0, blank);
        std::string where = "IsRelative=1\nPath=k3j9x1ab." + name;
        if (blank != std::string::npos) {
            const std::string folder = arg.substr(blank + 1);
            if (folder.empty() || folder.front() != '/')
                return;
            where = "IsRelative=0\nPath=" + folder;
        }
        fs::create_directories(appRoot);
        std::ifstream in(appRoot + "profiles.ini");
        const std::string old((std::istreambuf_iterator<char>(in)), {});
        std::size_t sections = 0;
        for (std::size_t at = old.find("[Profile"); at != std::string::npos;
             at = old.find("[Profile", at + 1))
            ++sections;
        std::ofstream(appRoot + "profiles.ini", std::ios::app)
            << "[Profile" << sections << "]\nName=" << name << "\n"
            << where << "\n\n";
    }
    TCreateProfileResult Create(const std::string& name, const std::string& folder = {})
    {
        ui.NewProfiles.push_back(TNewProfileAnswer{name, folder});
        return CreateNewProfile(state, ui);
    }
    bool Listed(const std::string& name) const
    {
        return std::find(state.ProfileList.begin(), state.ProfileList.end(), name) !=
               state.ProfileList.end();
    }

    std::string installFolder;
    std::string appRoot; // where the played application writes its profiles.ini
};

TEST_F(ProfileCreation, RunsTheFirstExistingExecutableAndListsTheLowerCasedProfile)
{
    EXPECT_EQ(Create("MyProfile"), TCreateProfileResult::Created);
    ASSERT_EQ(launcher->Requests.size(), 1u);
    EXPECT_EQ(launcher->Requests[0].Executable, installFolder + "/firefox-esr");
    EXPECT_EQ(launcher->Requests[0].Arguments, (List{"-CreateProfile", "myprofile"}));
    EXPECT_EQ(launcher->Requests[0].Timeout, ProfileCreationTimeout);
    EXPECT_EQ(ui.Calls, List{"AskNewProfile"});
    EXPECT_TRUE(Listed("myprofile"));
    EXPECT_EQ(Create("myprofile"), TCreateProfileResult::AlreadyExists);
}

TEST_F(ProfileCreation, ChosenFolderTravelsWithTheNameAsOneArgument)
{
    const std::string folder = home + "elsewhere/work";
    EXPECT_EQ(Create("Work", folder), TCreateProfileResult::Created);
    EXPECT_EQ(launcher->Requests.at(0).Arguments, (List{"-CreateProfile", "work " + folder}));
    EXPECT_TRUE(ui.CallsOf("Warning").empty());
    EXPECT_TRUE(Listed("work"));
}

TEST_F(ProfileCreation, FindsTheRootANewApplicationHasOnlyJustCreated)
{
    // Current Firefox puts a first profile list below .config; nothing existed before.
    fs::remove_all(state.ProfileDir);
    appRoot = home + ".config/mozilla/firefox/";
    EXPECT_EQ(Create("fresh"), TCreateProfileResult::Created);
    EXPECT_EQ(state.ProfileDir, appRoot);
}

TEST_F(ProfileCreation, InvalidNamesAreRefusedAndABlankOneIsReportedAfterTheRun)
{
    const List names{"", "a:b", "a\\b", "a/b", "a!", "why?", "<x", "x>", "a*", "\"q\""};
    for (const std::string& name : names)
        EXPECT_EQ(Create(name), TCreateProfileResult::InvalidName) << name;
    EXPECT_EQ(ui.CallsOf("Warning"), List(names.size(), "Warning|No profile name was entered."));
    EXPECT_TRUE(launcher->Requests.empty());
    // The application splits a blank name into name and folder and creates nothing: the
    // check after it ran says so instead of leaving the person without a word.
    ui.Calls.clear();
    EXPECT_EQ(Create("My Profile"), TCreateProfileResult::NotCreated);
    EXPECT_EQ(ui.CallsOf("Warning"), List{BadCreate});
    EXPECT_EQ(Create("pipe|allowed"), TCreateProfileResult::Created);
}

TEST_F(ProfileCreation, CancelledDialogDoesNothing)
{
    ui.NewProfiles.push_back(std::nullopt);
    EXPECT_EQ(CreateNewProfile(state, ui), TCreateProfileResult::NotConfirmed);
    EXPECT_EQ(ui.Calls, List{"AskNewProfile"});
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
    EXPECT_EQ(Create("other"), TCreateProfileResult::Created);
}

TEST_F(ProfileCreation, ProfileThatDoesNotAppearIsReported)
{
    struct Case {
        bool createsIt;
        TRunResult outcome;
        TCreateProfileResult want;
    };
    const Case cases[] = {
        {false, {Status::Exited, 0}, TCreateProfileResult::NotCreated},
        {false, {Status::Exited, 1}, TCreateProfileResult::NotCreated},
        {false, {Status::TimedOut, -1}, TCreateProfileResult::TimedOut},
        // Slow, but the profile is there when the wizard looks.
        {true, {Status::TimedOut, -1}, TCreateProfileResult::Created},
    };
    const auto firefox = launcher->Application;
    int n = 0;
    for (const Case& c : cases) {
        ui.Calls.clear();
        launcher->Application = c.createsIt ? firefox : nullptr;
        launcher->Outcome = c.outcome;
        EXPECT_EQ(Create("p" + std::to_string(++n)), c.want) << n;
        EXPECT_EQ(ui.CallsOf("Warning"), c.createsIt ? List{} : List{BadCreate}) << n;
    }
}

TEST_F(ProfileCreation, NothingToStartIsReported)
{
    fs::remove(installFolder + "/firefox-esr");
    MakeExecutable("firefox", false); // present but not executable
    EXPECT_EQ(Create("a"), TCreateProfileResult::Created);
    EXPECT_EQ(launcher->Requests.back().Executable, installFolder + "/firefox-bin");
    fs::remove(installFolder + "/firefox-bin");
    EXPECT_EQ(Create("b"), TCreateProfileResult::NoExecutable);
    InstallRecord(AppFirefox).InstallFolder.clear();
    EXPECT_EQ(Create("b"), TCreateProfileResult::NoExecutable);
    launcher->Started = false;
    InstallRecord(AppFirefox).InstallFolder = installFolder;
    fs::permissions(installFolder + "/firefox", fs::perms::owner_all);
    EXPECT_EQ(Create("b"), TCreateProfileResult::StartFailed);
    EXPECT_EQ(ui.CallsOf("Warning"), List(3, BadCreate));
    EXPECT_EQ(launcher->Requests.size(), 2u);
}

TEST_F(ProfileCreation, PortableHasNoExecutable)
{
    state.AppNumber = AppPortable;
    EXPECT_EQ(Create("a"), TCreateProfileResult::NoExecutable);
    EXPECT_EQ(ProfileCreationExecutable(AppNone), "");
}

} // namespace
