#include "platform/ProcessList.h"
#include "platform/Launcher.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tessarin;
using tessarin::test::TTempDir;

namespace {

// A fake /proc: each process folder with an exe link and a comm file.
class FakeProc {
public:
    void Add(const std::string& pid, const std::string& exeTarget, const std::string& comm)
    {
        const fs::path folder = temp.Path() / pid;
        fs::create_directories(folder);
        if (!exeTarget.empty())
            fs::create_symlink(exeTarget, folder / "exe"); // need not exist, like a deleted file
        if (!comm.empty())
            temp.Write(pid + "/comm", comm + "\n");
    }
    TTempDir temp;
};

TEST(ProcFsProcessList, GivesExecutableBaseNameAndDifferingCommInPidOrder)
{
    FakeProc proc;
    proc.Add("1", "/usr/lib/systemd/systemd", "systemd");
    proc.Add("10", "/usr/lib/thunderbird/thunderbird-bin", "thunderbird");
    proc.Add("2", "/usr/lib/firefox-esr/firefox-esr", "firefox-esr");
    proc.Add("300", "", "kworker/0:1"); // kernel thread: no exe link
    proc.Add("301", "/usr/lib/firefox-esr/firefox-esr (deleted)", "firefox-esr"); // upgraded
    proc.Add("302", "", "Web Content"); // sandboxed child: link unreadable
    proc.Add("400", "", "");            // ended while being read: nothing left to read
    proc.Add("self", "/usr/bin/tessarin", "tessarin"); // not a process folder
    fs::create_directories(proc.temp.Path() / "sys");
    const auto names = TProcFsProcessList(proc.temp.Path()).Names();
    EXPECT_EQ(names,
              (std::vector<std::string>{"systemd", "firefox-esr", "thunderbird-bin", "thunderbird",
                                        "kworker/0:1", "firefox-esr", "Web Content"}));
}

TEST(ProcFsProcessList, MissingProcFolderGivesAnEmptyList)
{
    EXPECT_TRUE(TProcFsProcessList("/nonexistent/proc").Names().empty());
}

TEST(ProcFsProcessList, RealProcHoldsThisTestProgram)
{
    const auto names = TProcFsProcessList().Names();
    const std::string self = fs::read_symlink("/proc/self/exe").filename().string();
    EXPECT_NE(std::find(names.begin(), names.end(), self), names.end());
}

TEST(FixedProcessList, AnswersSnapshotsInTurnAndRepeatsTheLast)
{
    TFixedProcessList list({{"a"}, {"b"}});
    EXPECT_EQ(list.Names(), std::vector<std::string>{"a"});
    EXPECT_EQ(list.Names(), std::vector<std::string>{"b"});
    EXPECT_EQ(list.Names(), std::vector<std::string>{"b"});
    EXPECT_EQ(list.Calls(), 3);
    EXPECT_TRUE(TFixedProcessList({}).Names().empty());
}

TEST(PosixLauncher, WaitsForTheProgramAndPassesEachArgumentWhole)
{
    TTempDir temp;
    const std::string out = temp.Folder() + "out.txt";
    TPosixLauncher launcher;
    const TRunResult run = launcher.Run("/bin/sh",
                                        {"-c", "printf '%s|%s' \"$1\" \"$2\" > \"$3\"; exit 3",
                                         "sh", "-CreateProfile", "my profile /home/u/p", out},
                                        std::chrono::seconds(30));
    EXPECT_EQ(run.Status, TRunResult::TStatus::Exited);
    EXPECT_EQ(run.ExitCode, 3);
    // Written before Run returned: the launcher waited.
    EXPECT_EQ(tessarin::test::ReadFile(out), "-CreateProfile|my profile /home/u/p");
    EXPECT_EQ(launcher.Run("/bin/sh", {"-c", "kill -9 $$"}, std::chrono::seconds(30)).ExitCode,
              128 + 9);
}

TEST(PosixLauncher, GivesUpOnAProgramThatDoesNotEnd)
{
    TPosixLauncher launcher;
    const auto start = std::chrono::steady_clock::now();
    const TRunResult run = launcher.Run("/bin/sleep", {"3"}, std::chrono::milliseconds(200));
    EXPECT_EQ(run.Status, TRunResult::TStatus::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(PosixLauncher, ReportsAProgramThatCannotBeStarted)
{
    TTempDir temp;
    TPosixLauncher launcher;
    temp.Write("not-executable", "#!/bin/sh\n");
    for (const std::string& program :
         {temp.Folder() + "no-such-program", std::string(), temp.Folder() + "not-executable"})
        EXPECT_EQ(launcher.Run(program, {"-CreateProfile", "x"}, std::chrono::seconds(5)).Status,
                  TRunResult::TStatus::NotStarted)
            << program;
}

TEST(Launcher, TestLauncherRecordsRequestsAndPlaysTheProgram)
{
    auto recording = std::make_shared<TRecordingLauncher>();
    int played = 0;
    recording->Application = [&](const TRecordingLauncher::Request& r) {
        played += static_cast<int>(r.Arguments.size());
    };
    EXPECT_EQ(recording->Run("/opt/app/app", {"-a", "b c"}, std::chrono::seconds(7)).Status,
              TRunResult::TStatus::Exited);
    recording->Started = false;
    EXPECT_EQ(recording->Run("/opt/app/app", {}, std::chrono::seconds(7)).Status,
              TRunResult::TStatus::NotStarted);
    EXPECT_EQ(played, 2);
    ASSERT_EQ(recording->Requests.size(), 2u);
    EXPECT_EQ(recording->Requests[0].Executable, "/opt/app/app");
    EXPECT_EQ(recording->Requests[0].Arguments, (std::vector<std::string>{"-a", "b c"}));
    EXPECT_EQ(recording->Requests[0].Timeout, std::chrono::seconds(7));
}

} // namespace
