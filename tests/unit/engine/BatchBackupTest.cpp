#include "config/ErrorLog.h"
#include "engine/BatchBackup.h"
#include "engine/BackupRun.h"
#include "platform/ProcessList.h"
#include "profiles/MozManager.h"
#include "support/ZipDamage.h"

#include "BackupRunTestSupport.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <regex>
#include <unistd.h>

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
        env.UseRegistry(R"(
[SOFTWARE\mozilla\Mozilla Firefox]
CurrentVersion=128.5.1esr
[SOFTWARE\mozilla\Mozilla Firefox\128.5.1esr\Main]
Install Directory=/usr/lib/firefox-esr
)");
        ResetInstallationTable();
        profile = CopyRealProfile("firefox", fs::path(home) / ".mozilla/firefox", "x7k2m9qa.default-esr");
        CopyRealProfile("firefox", fs::path(home) / ".mozilla/firefox", "ab12cd34.Work Default");
        temp.Write("home/.mozilla/firefox/profiles.ini",
                   "[Install3B6073811A6ABF12]\nDefault=x7k2m9qa.default-esr\nLocked=1\n\n"
                   "[Profile1]\nName=Work Default\nIsRelative=1\nPath=ab12cd34.Work Default\n\n"
                   "[Profile0]\nName=default-esr\nIsRelative=1\nPath=x7k2m9qa.default-esr\nDefault=1\n\n"
                   "[General]\nStartWithLastProfile=1\nVersion=2\n");
    }

    std::string Log() const { return env.Log(); }

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
    EXPECT_FALSE(fs::exists(env.LogPath()));
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
        fs::remove(env.LogPath());
        temp.Write("task.ini", c.task);
        TSharedState fresh(env.Env);
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
    ASSERT_TRUE(batch.InitBatchTask(std::make_shared<TMozManager>(env.Env),
                                    (temp.Path() / "task.ini").string()));
    // Both match; the later in the list (Profile1, whatever the file's order) wins.
    EXPECT_EQ(batch.Task().FoundProfile->GetName(), "Work Default");
    EXPECT_EQ(batch.Task().Output, documents + "new/Work Default.pcv");
    EXPECT_TRUE(fs::is_directory(documents + "new"));
    EXPECT_EQ(batch.Task().Password, "x");
    EXPECT_EQ(batch.BatchProfileFolder(), home + ".mozilla/firefox/ab12cd34.Work Default/");
}

TEST_F(BatchBackupTest, FirstRunLayoutBacksUpTheProfileInUseNotTheUnusedDefault)
{
    // As firefox-esr leaves it after its first start: an unused "default" marked
    // Default=1 that holds only times.json, and the profile it really uses.
    temp.Write("home/.mozilla/firefox/d83xf7av.default/times.json", "{\"created\":1765000000000}\n");
    temp.Write("home/.mozilla/firefox/profiles.ini",
               "[Profile1]\nName=default\nIsRelative=1\nPath=d83xf7av.default\nDefault=1\n\n"
               "[Profile0]\nName=default-esr\nIsRelative=1\nPath=x7k2m9qa.default-esr\n\n"
               "[General]\nStartWithLastProfile=1\nVersion=2\n\n"
               "[Install3B6073811A6ABF12]\nDefault=x7k2m9qa.default-esr\nLocked=1\n\n");
    temp.Write("home/.mozilla/firefox/installs.ini",
               "[3B6073811A6ABF12]\nDefault=x7k2m9qa.default-esr\nLocked=1\n\n");
    const std::string task = (temp.Path() / "task.ini").string();
    temp.Write("task.ini", "[General]\naction=backup\napplication=firefox\nprofile=default\n"
                           "output=" + documents + "<profile>.pcv\n");
    EXPECT_EQ(Run(task), 0) << Log();
    EXPECT_TRUE(fs::is_regular_file(documents + "default-esr.pcv"));

    // Only the unused one matches: it is said so, and nothing is written.
    fs::remove(profile.Profile / "prefs.js");
    temp.Write("task.ini", "[General]\naction=backup\napplication=firefox\nprofile=esr\n"
                           "output=" + documents + "x.pcv\n");
    EXPECT_EQ(Run(task), 1);
    EXPECT_THAT(ui.CallsOf("Warning"),
                ::testing::ElementsAre(::testing::HasSubstr("has not been used yet")));
    EXPECT_FALSE(fs::exists(documents + "x.pcv"));
}

namespace {

std::vector<std::string> FileNames(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST_F(BatchBackupTest, KeepRemovesOnlyTheOldestBackupsThePatternMade)
{
    const std::string folder = documents + "kept/";
    const std::string task = "[General]\naction=backup\napplication=firefox\nprofile=esr\n"
                             "output=" + folder + "<application> <profile> <year>-<month>-<day>.pcv\n"
                             "password=secret\n";
    temp.Write("task.ini", task);
    ASSERT_EQ(Run((temp.Path() / "task.ini").string()), 0) << Log();
    ASSERT_EQ(FileNames(folder).size(), 1u);
    const std::string first = folder + FileNames(folder)[0];

    // Three older backups, and what must survive any keep: a file with a backup's name
    // that is no backup, backups of another application or profile, a foreign file.
    const auto now = fs::file_time_type::clock::now();
    auto place = [&](const std::string& name, int daysAgo, bool backup) {
        if (backup)
            fs::copy_file(first, folder + name);
        else
            temp.Write("home/Documents/kept/" + name, "not a backup");
        fs::last_write_time(folder + name, now - std::chrono::hours(24 * daysAgo));
    };
    place("Firefox default-esr 2020-01-01.pcv", 30, true);
    place("Firefox default-esr 2020-01-02.pcv", 20, true);
    place("Firefox default-esr 2020-01-03.pcv", 10, true);
    place("Firefox default-esr 2019-12-31.pcv", 40, false);
    place("Thunderbird default-esr 2019-01-01.pcv", 50, true);
    place("Firefox Work Default 2019-01-01.pcv", 50, true);
    place("Firefox default-esr 2019-01-01.pcv.bak", 50, true);
    place("notes.txt", 60, false);
    fs::last_write_time(first, now);

    temp.Write("task.ini", task + "keep=3\n");
    ASSERT_EQ(Run((temp.Path() / "task.ini").string()), 0) << Log();
    std::vector<std::string> names = FileNames(folder);
    EXPECT_THAT(names, Not(Contains("Firefox default-esr 2020-01-01.pcv")));
    EXPECT_THAT(names, Contains("Firefox default-esr 2020-01-02.pcv"));
    EXPECT_THAT(names, Contains("Firefox default-esr 2020-01-03.pcv"));
    EXPECT_THAT(names, Contains(fs::path(first).filename().string()));
    EXPECT_EQ(names.size(), 8u);

    temp.Write("task.ini", task + "keep= 1 \n");
    ASSERT_EQ(Run((temp.Path() / "task.ini").string()), 0) << Log();
    names = FileNames(folder);
    EXPECT_EQ(names, (std::vector<std::string>{
                         "Firefox Work Default 2019-01-01.pcv",
                         "Firefox default-esr 2019-01-01.pcv.bak",
                         "Firefox default-esr 2019-12-31.pcv",
                         fs::path(first).filename().string(),
                         "Thunderbird default-esr 2019-01-01.pcv",
                         "notes.txt",
                     }));
    EXPECT_EQ(ReadFile(folder + "Firefox default-esr 2019-12-31.pcv"), "not a backup");
    EXPECT_FALSE(fs::exists(env.LogPath()));
}

TEST_F(BatchBackupTest, KeepCopiesUnchangedEntriesFromTheNewestEarlierBackupAndRemovesItOnlyAfter)
{
    const std::string folder = documents + "kept/";
    const std::string task = "[General]\naction=backup\napplication=firefox\nprofile=esr\n"
                             "output=" +
                             folder +
                             "<profile> <year>-<month>-<day>.pcv\n"
                             "password=secret\n";
    // Two earlier days, each encrypted anew (no keep: nothing earlier is looked for).
    temp.Write("task.ini", task);
    const auto now = fs::file_time_type::clock::now();
    std::map<std::string, std::string> stored;
    for (const int daysAgo : {2, 1}) {
        ASSERT_EQ(Run((temp.Path() / "task.ini").string()), 0) << Log();
        const std::string name = "default-esr 2020-01-0" + std::to_string(3 - daysAgo) + ".pcv";
        fs::rename(folder + FileNames(folder).back(), folder + name); // today's sorts last
        fs::last_write_time(folder + name, now - std::chrono::hours(24 * daysAgo));
        stored[name] = StoredBytes(folder + name, "prefs.js");
    }
    ASSERT_TRUE(stored["default-esr 2020-01-01.pcv"] != stored["default-esr 2020-01-02.pcv"]);

    temp.Write("task.ini", task + "keep=1\n");
    ASSERT_EQ(Run((temp.Path() / "task.ini").string()), 0) << Log();
    const std::vector<std::string> names = FileNames(folder);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(StoredBytes(folder + names[0], "prefs.js") == stored["default-esr 2020-01-02.pcv"]);
}

TEST_F(BatchBackupTest, EveryFailureAfterTheTaskIsCheckedEndsWithStatusOneAndRemovesNothing)
{
    // Today's backup and an older one lie in the output folder; each run fails after
    // the task file passed, some only after the Report page was shown.
    const std::string folder = documents + "kept/";
    temp.Write("task.ini", "[General]\naction=backup\napplication=firefox\nprofile=esr\n"
                           "output=" + folder + "<profile> <year>-<month>-<day>.pcv\nkeep=1\n");
    const std::string task = (temp.Path() / "task.ini").string();
    ASSERT_EQ(Run(task), 0) << Log();
    const std::string today = folder + FileNames(folder).at(0);
    const std::string older = folder + "default-esr 2020-01-01.pcv";
    const std::string earlier = ReadFile(today);

    struct Case {
        const char* name;
        std::function<void()> fault; // set up before the run
        std::string logged;
    };
    const std::vector<Case> cases = {
        {"the written archive does not read back",
         [] { SetBackupWrittenHook([](const std::string& p) { FlipByteInEntry(p, "prefs.js"); }); },
         "(prefs.js: "},
        {"the backup is gone after the report",
         [&] { ui.AtReport = [&] { fs::remove(today); }; }, "Backup wasn't successfully created."},
        {"the backup no longer opens when keep checks it",
         [&] { ui.AtReport = [&] { temp.Write("home/Documents/kept/" + fs::path(today).filename().string(), "PK"); }; },
         "cannot be read back; no older backup was removed."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        temp.Write("home/Documents/kept/" + fs::path(today).filename().string(), earlier);
        temp.Write("home/Documents/kept/" + fs::path(older).filename().string(), earlier);
        fs::remove(env.LogPath());
        c.fault();
        EXPECT_EQ(Run(task), 1);
        SetBackupWrittenHook(nullptr);
        EXPECT_THAT(Log(), ::testing::HasSubstr(c.logged));
        EXPECT_EQ(ReadFile(older), earlier);
    }
}

TEST_F(BatchBackupTest, ProfileInUseIsWaitedForElseStatus75AndNothingIsWritten)
{
    const std::string out = documents + "daily.pcv";
    const std::string earlier = "earlier backup";
    const std::string running = "127.0.1.1:+" + std::to_string(::getppid());
    const std::string gone = "127.0.1.1:+999999999";
    struct Case {
        const char* name;
        int wait;
        std::string lockLink;                         // empty: none
        std::vector<std::vector<std::string>> processes; // snapshots, the last repeats
        int freeAfterSleeps;                          // the lock goes after so many; -1 never
        int status;
    };
    const std::vector<Case> cases = {
        {"a lock whose process is gone", 0, gone, {}, -1, 0},
        {"held, no wait", 0, running, {}, -1, ExitProfileInUse},
        {"held for longer than the wait", 1, running, {}, -1, ExitProfileInUse},
        {"closed within the wait", 1, running, {}, 3, 0},
        {"Firefox running, then quit", 1, "", {{"firefox-esr"}, {"firefox-esr"}, {}}, -1, 0},
        {"Firefox started during the run", 0, "", {{}, {"firefox-esr"}}, -1, ExitProfileInUse},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        temp.Write("home/Documents/daily.pcv", earlier);
        fs::remove(env.LogPath());
        fs::remove(profile.Profile / "lock");
        if (!c.lockLink.empty())
            fs::create_symlink(c.lockLink, profile.Profile / "lock");
        env.UseProcesses(c.processes);
        temp.Write("task.ini", "[General]\naction=backup\napplication=firefox\nprofile=esr\n"
                               "output=" + out + "\nwait=" + std::to_string(c.wait) + "\n");
        TBatchBackup batch(state, ui);
        auto now = std::chrono::steady_clock::time_point{};
        int sleeps = 0;
        batch.Clock.Now = [&] { return now; };
        batch.Clock.Sleep = [&](std::chrono::seconds s) {
            now += s;
            if (++sleeps == c.freeAfterSleeps)
                fs::remove(profile.Profile / "lock");
        };
        EXPECT_EQ(batch.BackupAction((temp.Path() / "task.ini").string()), c.status) << Log();
        if (c.status == 0) {
            EXPECT_NE(ReadFile(out), earlier);
            continue;
        }
        EXPECT_EQ(ReadFile(out), earlier);
        EXPECT_EQ(FileNames(documents).size(), 1u) << "no new or partial file";
        EXPECT_THAT(Log(), ::testing::HasSubstr(
                               "Firefox is using the profile default-esr; close it or set wait="));
        // A wait re-checks every few seconds until it runs out.
        if (c.wait > 0 && c.freeAfterSleeps < 0) {
            EXPECT_EQ(sleeps, 12);
        }
    }
    fs::remove(profile.Profile / "lock");
}

TEST_F(BatchBackupTest, KeepMustBeAWholeNumberOfOneOrMore)
{
    for (const char* keep : {"0", "-1", "two", "3 ; days", "1.5"}) {
        fs::remove(env.LogPath());
        temp.Write("task.ini", std::string("[General]\naction=backup\napplication=firefox\n"
                                           "profile=esr\noutput=") +
                                   documents + "x.pcv\nkeep=" + keep + "\n");
        EXPECT_EQ(Run((temp.Path() / "task.ini").string()), 1) << keep;
        EXPECT_NE(Log().find("Bad keep value defined in config file"), std::string::npos) << keep;
        EXPECT_FALSE(fs::exists(documents + "x.pcv")) << keep;
    }
}

TEST_F(BatchBackupTest, OutputMayStartAtTheHomeFolder)
{
    temp.Write("task.ini", "[General]\naction=backup\napplication=firefox\nprofile=esr\n"
                           "output=~/Backups/<profile>.pcv\n");
    TBatchBackup batch(state, ui);
    ASSERT_TRUE(batch.InitBatchTask(std::make_shared<TMozManager>(env.Env),
                                    (temp.Path() / "task.ini").string()));
    EXPECT_EQ(batch.Task().Output, home + "Backups/default-esr.pcv");
    EXPECT_TRUE(fs::is_directory(home + "Backups"));
}

TEST(BackupNameRegex, MatchesWhatThePatternCanGiveAndNothingElse)
{
    const std::regex r = BackupNameRegex(
        "<application> (<version>) <profile> <year>-<month>-<day> <hour>.<minute>.<second>.pcv",
        "Firefox", "a.b");
    EXPECT_TRUE(std::regex_match("Firefox (128.5.1esr) a.b 2024-03-09 07.05.00.pcv", r));
    EXPECT_TRUE(std::regex_match("Firefox () a.b 2024-03-09 07.05.00.pcv", r));
    EXPECT_FALSE(std::regex_match("Firefox (128) aXb 2024-03-09 07.05.00.pcv", r));
    EXPECT_FALSE(std::regex_match("Firefox (128) a.b 2024-3-9 07.05.00.pcv", r));
    EXPECT_FALSE(std::regex_match("Firefox (128) a.b 2024-03-09 07.05.00.pcv.old", r));
    EXPECT_FALSE(std::regex_match("Thunderbird (128) a.b 2024-03-09 07.05.00.pcv", r));
}
