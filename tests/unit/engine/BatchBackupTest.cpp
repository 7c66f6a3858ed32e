#include "config/ErrorLog.h"
#include "engine/BatchBackup.h"
#include "profiles/MozManager.h"

#include "BackupRunTestSupport.h"

#include <gmock/gmock.h>

namespace fs = std::filesystem;
using namespace tessarin;
using namespace tessarin::test;
using ::testing::Contains;
using ::testing::Not;

namespace {

class BatchBackupTest : public BackupRunTest {
protected:
    void SetUp() override
    {
        BackupRunTest::SetUp();
        SetMachineRegistry(std::make_shared<TMemoryRegistry>(TMemoryRegistry::FromText(R"(
[SOFTWARE\mozilla\Mozilla Firefox]
CurrentVersion=128.5.1esr
[SOFTWARE\mozilla\Mozilla Firefox\128.5.1esr\Main]
Install Directory=/usr/lib/firefox-esr
)")));
        ResetInstallationTable();
        profile = CopyRealProfile("firefox", fs::path(home) / ".mozilla/firefox", "x7k2m9qa.default-esr");
        CopyRealProfile("firefox", fs::path(home) / ".mozilla/firefox", "ab12cd34.Work Default");
        temp.Write("home/.mozilla/firefox/profiles.ini",
                   "[Install3B6073811A6ABF12]\nDefault=x7k2m9qa.default-esr\nLocked=1\n\n"
                   "[Profile1]\nName=Work Default\nIsRelative=1\nPath=ab12cd34.Work Default\n\n"
                   "[Profile0]\nName=default-esr\nIsRelative=1\nPath=x7k2m9qa.default-esr\nDefault=1\n\n"
                   "[General]\nStartWithLastProfile=1\nVersion=2\n");
    }

    std::string Log() const { return ReadFile(ErrorLogPath()); }

    int Run(const std::string& argument)
    {
        TBatchBackup batch(state, ui);
        return batch.BackupAction(argument);
    }

    TRealProfile profile;
};

} // namespace

TEST_F(BatchBackupTest, WholeBackupWithEveryUnknownItemAndNoCache)
{
    temp.Write("task.ini", "[General]\naction= Backup \napplication=fox\nprofile=DEFAULT-ESR\n"
                           "output=" + documents + "<application> <profile>.pcv\npassword=\n");
    EXPECT_EQ(Run((temp.Path() / "task.ini").string()), 0);
    const std::string out = documents + "Firefox default-esr.pcv";
    ASSERT_TRUE(fs::exists(out)) << Log();
    const auto names = EntryNames(out);
    EXPECT_THAT(names, Contains("notes-from-user.txt"));
    EXPECT_THAT(names, Contains("my-scripts/greasy.user.js"));
    EXPECT_THAT(names, Contains("logins.json"));
    EXPECT_THAT(names, Not(Contains("cache2/index")));
    EXPECT_EQ(state.AppNumber, 2);
    EXPECT_EQ(ui.RequestedExit, 0);
    EXPECT_FALSE(fs::exists(ErrorLogPath()));
}

TEST_F(BatchBackupTest, TaskFileWithoutFolderIsLookedForInTheProgramFolder)
{
    EXPECT_EQ(Run("task.ini"), 1);
    EXPECT_EQ(Log(), "Cannot find config file task.ini.\r\n");
    temp.Write("program/task.ini", "[General]\naction=restore\n");
    EXPECT_EQ(Run("task.ini"), 1);
    EXPECT_EQ(Log(), "Cannot find config file task.ini.\r\nBad action defined in config file.\r\n");
}

TEST_F(BatchBackupTest, EachCheckLogsItsOwnLineAndMakesNoBackup)
{
    struct Case {
        std::string task;
        std::string line;
    };
    const std::string good = "[General]\naction=backup\napplication=firefox\nprofile=default\n";
    const std::vector<Case> cases = {
        {"[General]\naction=\n", "Bad action defined in config file."},
        {"[General]\naction=backup\napplication=flock\n", "Bad application defined in config file."},
        {"[General]\naction=backup\napplication=thunderbird\n", "Bad application defined in config file."},
        {"[General]\naction=backup\napplication=\n", "Bad application defined in config file."},
        {"[General]\naction=backup\napplication=firefox\nprofile=nosuch\n",
         "Cannot find profile with this name."},
        {good + "output=nofolder.pcv\n", "Cannot create directory for output file."},
        {good + "output=" + documents + "a/b/x.pcv\n", "Cannot create directory for output file."},
    };
    for (const Case& c : cases) {
        fs::remove(ErrorLogPath());
        temp.Write("task.ini", c.task);
        TSharedState fresh;
        TFakeUserInterface quiet;
        TBatchBackup batch(fresh, quiet);
        EXPECT_EQ(batch.BackupAction((temp.Path() / "task.ini").string()), 1) << c.task;
        EXPECT_EQ(Log(), c.line + "\r\n") << c.task;
        EXPECT_TRUE(quiet.Calls.empty()) << c.task;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(documents), fs::directory_iterator()), 0);
}

TEST_F(BatchBackupTest, ProfileMatchTakesTheLastListedAndOutputFolderIsCreatedOneLevel)
{
    temp.Write("task.ini", "[General]\naction=backup\napplication=firefox\nprofile=default\n"
                           "output=" + documents + "new/<profile>.pcv\npassword=x\n");
    TBatchBackup batch(state, ui);
    ASSERT_TRUE(batch.InitBatchTask(std::make_shared<TMozManager>(), (temp.Path() / "task.ini").string()));
    // Both match; the later in the list (Profile1, whatever the file's order) wins.
    EXPECT_EQ(batch.Task().FoundProfile->GetName(), "Work Default");
    EXPECT_EQ(batch.Task().Output, documents + "new/Work Default.pcv");
    EXPECT_TRUE(fs::is_directory(documents + "new"));
    EXPECT_EQ(batch.Task().Password, "x");
    EXPECT_EQ(batch.BatchProfileFolder(), home + ".mozilla/firefox/ab12cd34.Work Default/");
}

TEST_F(BatchBackupTest, ProfileWithoutPrefsIsRefusedWithItsWarning)
{
    fs::remove(profile.Profile / "prefs.js");
    temp.Write("task.ini", "[General]\naction=backup\napplication=firefox\nprofile=esr\n"
                           "output=" + documents + "x.pcv\n");
    EXPECT_THROW(Run((temp.Path() / "task.ini").string()), TProgramExit);
    ASSERT_EQ(ui.CallsOf("Warning").size(), 1u);
    EXPECT_NE(ui.CallsOf("Warning")[0].find("The selected user profile is corrupted."), std::string::npos);
    EXPECT_FALSE(fs::exists(documents + "x.pcv"));
}
