// Killed (SIGKILL) at random moments: a batch backup of the built program leaves the
// earlier backup byte for byte or a new one that reads back whole; a restore leaves
// prefs.js as one complete file. A later normal run clears what the killed ones left.

#include "archive/ArchiveVerify.h"
#include "engine/BackupFileCheck.h"
#include "engine/BackupFormat.h"
#include "engine/BackupRun.h"
#include "engine/Components.h"
#include "engine/RestoreRun.h"

#include "BackupRunTestSupport.h"

#include <gmock/gmock.h>

#include <chrono>
#include <csignal>
#include <random>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tessarin;
using namespace tessarin::test;

namespace {

constexpr int Runs = 20;
using TClock = std::chrono::steady_clock;

std::string RandomBytes(std::size_t size, std::mt19937& rng)
{
    std::string data(size, '\0');
    for (char& c : data)
        c = static_cast<char>(rng());
    return data;
}

std::string LogText(std::size_t size, std::mt19937& rng)
{
    std::string text;
    while (text.size() < size)
        text += "line " + std::to_string(rng() % 100000) + " of a profile file\n";
    return text;
}

// A Firefox profile of a few megabytes: stored and deflated data, and an unknown file.
void WriteProfile(const fs::path& folder, const std::string& prefs, unsigned seed)
{
    std::mt19937 rng(seed);
    fs::create_directories(folder);
    std::ofstream(folder / "prefs.js", std::ios::binary) << prefs;
    std::ofstream(folder / "places.sqlite", std::ios::binary) << RandomBytes(3 << 20, rng);
    std::ofstream(folder / "favicons.sqlite", std::ios::binary) << LogText(3 << 20, rng);
    std::ofstream(folder / "notes.txt", std::ios::binary) << LogText(1 << 20, rng);
}

// Our temporary files and libzip's, by the shapes of their names.
std::vector<std::string> Temporaries(const fs::path& folder)
{
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(".tsr-", 0) == 0 || name.rfind(".tessarin-", 0) == 0 ||
            name.find(".tmp-") != std::string::npos)
            found.push_back(name);
    }
    return found;
}

int WaitFor(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class CrashSafetyTest : public BackupRunTest {
protected:
    // Runs start() in a child Runs times, each killed after a random part of a whole run;
    // check() looks at what each left.
    void KillAtRandom(const std::function<pid_t()>& start, const std::function<void(int)>& check)
    {
        const auto begin = TClock::now();
        ASSERT_EQ(WaitFor(start()), 0) << "an uninterrupted run fails";
        const auto whole =
            std::chrono::duration_cast<std::chrono::microseconds>(TClock::now() - begin);
        const unsigned seed = std::random_device{}();
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        std::uniform_int_distribution<long> delay(0, whole.count() * 6 / 5);
        for (int run = 0; run < Runs; ++run) {
            const pid_t pid = start();
            std::this_thread::sleep_for(std::chrono::microseconds(delay(rng)));
            ::kill(pid, SIGKILL);
            WaitFor(pid);
            check(run);
        }
    }
};

TEST_F(CrashSafetyTest, KilledBatchBackupKeepsTheEarlierBackupOrLeavesAWholeNewOne)
{
    const std::string binary = std::string(TESSARIN_BIN_DIR) + "/tessarin";
    if (::access(binary.c_str(), X_OK) != 0)
        GTEST_SKIP() << "the program is not built (TESSARIN_BUILD_GUI=OFF)";
    // A per-user Flatpak installation, so the catalogue finds Firefox on any machine.
    temp.Write("home/.local/share/flatpak/app/org.mozilla.firefox/current/active/files/lib/firefox/"
               "application.ini",
               "[App]\nVendor=Mozilla\nName=Firefox\nVersion=128.5.0esr\n");
    WriteProfile(fs::path(home) / ".mozilla/firefox/crash001.default",
                 "user_pref(\"browser.startup.homepage\", \"https://example.org/\");\n", 1);
    temp.Write("home/.mozilla/firefox/profiles.ini",
               "[Profile0]\nName=default\nIsRelative=1\nPath=crash001.default\nDefault=1\n");
    const fs::path backups = fs::path(home) / "Backups";
    const fs::path output = backups / "daily.pcv";
    const std::string task =
        temp.Write("task.ini", "[General]\naction=backup\napplication=firefox\n"
                               "profile=default\npassword=secret\noutput=" +
                                   output.string() + "\n")
            .string();

    // Everything the child needs is made before fork: only exec follows it.
    // A killed run leaves its private temporary folder: in the test's, not in /tmp.
    const std::string tmp = temp.Folder() + "tmp";
    fs::create_directory(tmp);
    std::vector<std::string> environment = {"HOME=" + home, "XDG_CONFIG_HOME=" + home + ".config",
                                            "XDG_STATE_HOME=" + home + ".local/state",
                                            "PATH=/usr/bin:/bin", "LANG=C.UTF-8", "TMPDIR=" + tmp};
    std::vector<char*> envp;
    for (std::string& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    const std::string log = temp.Folder() + "batch.log";
    const auto start = [&]() -> pid_t {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            char* const argv[] = {const_cast<char*>(binary.c_str()),
                                  const_cast<char*>(task.c_str()), nullptr};
            ::execve(binary.c_str(), argv, envp.data());
            ::_exit(127);
        }
        return pid;
    };

    std::string earlier;
    int replaced = 0;
    int leftBehind = 0;
    KillAtRandom(start, [&](int run) {
        std::string now = ReadFile(output);
        if (now != earlier) {
            const auto failure = VerifyArchive(output.string(), "secret");
            ASSERT_FALSE(failure) << "run " << run << ": " << failure->Entry << ": "
                                  << failure->Reason;
            replaced += earlier.empty() ? 0 : 1;
            earlier = std::move(now);
        }
        leftBehind += Temporaries(backups).empty() ? 0 : 1;
    });
    RecordProperty("replaced", replaced);
    RecordProperty("runs_leaving_temporaries", leftBehind);

    ASSERT_EQ(WaitFor(start()), 0) << ReadFile(log);
    EXPECT_THAT(Temporaries(backups), ::testing::IsEmpty());
    EXPECT_EQ(std::distance(fs::directory_iterator(backups), fs::directory_iterator()), 1);
    EXPECT_FALSE(VerifyArchive(output.string(), "secret"));
}

TEST_F(CrashSafetyTest, KilledRestoreLeavesPrefsJsWhole)
{
    const fs::path source = temp.Path() / "source";
    WriteProfile(source,
                 "user_pref(\"browser.startup.homepage\", \"https://example.org/new\");\n"
                 "user_pref(\"browser.download.dir\", \"/tmp\");\n",
                 2);
    TSharedState backup(env.Env);
    backup.AppNumber = 2;
    backup.Operation = TOperation::Backup;
    backup.ProfileDir = source.string() + "/";
    backup.BackupFile = documents + "restore.pcv";
    ResetComponentBoxes(backup);
    backup.Boxes[1].Checked = backup.Boxes[4].Checked = true;
    RunBackup(backup, ui, true);
    ASSERT_FALSE(backup.BackupFailed);

    const std::string old = "user_pref(\"browser.startup.homepage\", \"old\");\n";
    const fs::path target = temp.Path() / "target";
    WriteProfile(target, old, 3);
    fs::copy(target, temp.Path() / "reference", fs::copy_options::recursive);
    const std::string tmp = (temp.Path() / "tmp").string();
    fs::create_directory(tmp);
    const auto restoreInto = [&](const fs::path& profile) -> pid_t {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("TMPDIR", tmp.c_str(), 1); // what a killed restore leaves stays here
            int code = 0;
            try {
                TQuietUserInterface quiet;
                TSharedState restore(env.Env);
                restore.Operation = TOperation::Restore;
                restore.AppNumber = 2;
                if (!CheckBackupFile(backup.BackupFile, restore, quiet))
                    ::_exit(2);
                restore.BackupFile = backup.BackupFile;
                ReadBackupIndex(restore, quiet);
                ResetComponentBoxes(restore);
                restore.Boxes[1].Checked = restore.Boxes[4].Checked = true;
                restore.ExternalProfileDir = profile.string();
                RunRestore(restore, quiet);
                code = restore.BackupFailed ? 3 : 0;
            } catch (...) {
                code = 4;
            }
            ::_exit(code);
        }
        return pid;
    };
    ASSERT_EQ(WaitFor(restoreInto(temp.Path() / "reference")), 0);
    const std::string restored = ReadFile(temp.Path() / "reference/prefs.js");
    ASSERT_NE(restored, old);

    // The stored file lands first and is then rewritten to fit: either is whole.
    const std::string stored = EntryText(backup.BackupFile, "prefs.js");
    // Each run starts from the old file, so each can be caught between old and new.
    const auto restoreOverOld = [&] {
        std::ofstream(target / "prefs.js", std::ios::binary | std::ios::trunc) << old;
        return restoreInto(target);
    };
    std::map<std::string, int> seen;
    KillAtRandom(restoreOverOld, [&](int run) {
        const std::string now = ReadFile(target / "prefs.js");
        EXPECT_THAT(now, ::testing::AnyOf(old, stored, restored)) << "run " << run;
        ++seen[now == old ? "old" : now == stored ? "stored" : "restored"];
    });
    for (const auto& [which, count] : seen)
        RecordProperty(which, count);

    ASSERT_EQ(WaitFor(restoreInto(target)), 0);
    EXPECT_EQ(ReadFile(target / "prefs.js"), restored);
    EXPECT_THAT(Temporaries(target), ::testing::IsEmpty());
}

} // namespace
