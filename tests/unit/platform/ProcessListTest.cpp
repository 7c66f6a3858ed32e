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

TEST(PosixLauncher, StartsTheProgramWithEachArgumentWhole)
{
    TTempDir temp;
    const std::string out = temp.Folder() + "out.txt";
    TPosixLauncher launcher;
    ASSERT_TRUE(launcher.Start("/bin/sh", {"-c",
                                           "printf '%s|%s' \"$1\" \"$2\" > \"$3.tmp\" && mv "
                                           "\"$3.tmp\" \"$3\"",
                                           "sh", "-CreateProfile", "my profile /home/u/p", out}));
    // The launcher does not wait; the child finishes on its own.
    for (int i = 0; i < 500 && !fs::exists(out); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(tessarin::test::ReadFile(out), "-CreateProfile|my profile /home/u/p");
}

TEST(PosixLauncher, ReportsAProgramThatCannotBeStarted)
{
    TTempDir temp;
    TPosixLauncher launcher;
    EXPECT_FALSE(launcher.Start(temp.Folder() + "no-such-program", {"-CreateProfile", "x"}));
    EXPECT_FALSE(launcher.Start("", {}));
    temp.Write("not-executable", "#!/bin/sh\n");
    EXPECT_FALSE(launcher.Start(temp.Folder() + "not-executable", {}));
}

TEST(Launcher, TestLauncherRecordsRequests)
{
    auto recording = std::make_shared<TRecordingLauncher>();
    SetLauncher(recording);
    EXPECT_TRUE(Launcher().Start("/opt/app/app", {"-a", "b c"}));
    recording->Result = false;
    EXPECT_FALSE(Launcher().Start("/opt/app/app", {}));
    SetLauncher(nullptr);
    ASSERT_EQ(recording->Requests.size(), 2u);
    EXPECT_EQ(recording->Requests[0].Executable, "/opt/app/app");
    EXPECT_EQ(recording->Requests[0].Arguments, (std::vector<std::string>{"-a", "b c"}));
}

} // namespace
