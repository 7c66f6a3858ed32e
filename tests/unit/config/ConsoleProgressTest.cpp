// The console's progress as a cron mail or the journal shows it: each file named once,
// a percentage only for work really done, and not more often than every few seconds.

#include "config/ConsoleUserInterface.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace tessarin;
using namespace std::chrono_literals;

namespace {

class ConsoleProgress : public ::testing::Test {
protected:
    void SetUp() override
    {
        out_ = std::tmpfile();
        ASSERT_NE(out_, nullptr);
    }
    void TearDown() override { std::fclose(out_); }

    TConsoleUserInterface MakeUi()
    {
        return TConsoleUserInterface(out_, 5s, [this] { return now_; });
    }
    std::string Printed()
    {
        std::fflush(out_);
        std::rewind(out_);
        std::string text;
        char buf[256];
        while (std::fgets(buf, sizeof buf, out_))
            text += buf;
        return text;
    }

    std::FILE* out_ = nullptr;
    std::chrono::steady_clock::time_point now_{};
};

// The archive names a file at each step of it and counts the whole file at its start.
TEST_F(ConsoleProgress, BigFileIsNamedOnceAndNotDoneBeforeItIs)
{
    TConsoleUserInterface ui = MakeUi();
    ui.SetProgressRange(100);
    for (int step = 0; step < 47; ++step) {
        ui.SetTaskText("File: Mail/Local Folders/Inbox");
        ui.SetProgressPosition(100);
        now_ += 10s;
    }
    EXPECT_EQ(Printed(), "File: Mail/Local Folders/Inbox\n");
    ui.SetReport("The backup was made.", false, false);
    EXPECT_EQ(Printed(), "File: Mail/Local Folders/Inbox\n100%\nThe backup was made.\n");
}

TEST_F(ConsoleProgress, PercentagesFollowTheWorkAtMostEveryFewSeconds)
{
    TConsoleUserInterface ui = MakeUi();
    ui.SetProgressRange(100);
    // Ten files of 10% each, one second apart.
    for (int n = 0; n < 10; ++n) {
        ui.SetTaskText("File: f" + std::to_string(n));
        ui.SetProgressPosition((n + 1) * 10);
        now_ += 1s;
    }
    ui.SetReport("done", false, false);
    EXPECT_EQ(Printed(), "File: f0\n"
                         "10%\nFile: f1\n" // the first real progress shows at once
                         "File: f2\nFile: f3\nFile: f4\nFile: f5\n"
                         "60%\nFile: f6\n" // five seconds later
                         "File: f7\nFile: f8\nFile: f9\n"
                         "100%\ndone\n");
}

TEST_F(ConsoleProgress, FailedRunClaimsNoMoreThanWasDone)
{
    TConsoleUserInterface ui = MakeUi();
    ui.SetProgressRange(100);
    ui.SetTaskText("File: a");
    ui.SetProgressPosition(40);
    ui.SetTaskText("File: b");
    ui.SetProgressPosition(100);
    ui.SetReport("Backup wasn't successfully created.", true, false);
    EXPECT_EQ(Printed(), "File: a\n40%\nFile: b\nBackup wasn't successfully created.\n");
}

} // namespace
