#include "config/ErrorLog.h"

#include "ConfigFixture.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace tessarin;

namespace {

class ErrorLog : public test::TConfigFixture {};

TEST_F(ErrorLog, FirstLineCreatesFolderAndFileLaterLinesAreAppended)
{
    EXPECT_EQ(ErrorLogPath(env_.Env.Folders), (dir_.Path() / "state/tessarin/error.log").string());
    ASSERT_FALSE(fs::exists(dir_.Path() / "state"));
    WriteErrorLog("Bad action defined in config file.");
    EXPECT_TRUE(fs::is_directory(dir_.Path() / "state/tessarin"));
    EXPECT_EQ(Log(), "Bad action defined in config file.\r\n");
    WriteErrorLog("I cannot read file Backup.ini");
    WriteErrorLog("");
    EXPECT_EQ(Log(), "Bad action defined in config file.\r\nI cannot read file Backup.ini\r\n\r\n");
}

TEST_F(ErrorLog, BatchRunsHearEveryLineOnTheirEchoStream)
{
    std::FILE* echo = std::tmpfile();
    ASSERT_NE(echo, nullptr);
    env_.Env.ErrorLogEcho = echo;
    WriteErrorLog("Cannot find config file task.ini.");
    AppendErrorLog("already on the terminal");
    env_.Env.ErrorLogEcho = nullptr;
    WriteErrorLog("not echoed");
    std::rewind(echo);
    char buf[256] = {};
    const std::size_t n = std::fread(buf, 1, sizeof buf - 1, echo);
    std::fclose(echo);
    EXPECT_EQ(std::string(buf, n), "tessarin: Cannot find config file task.ini.\n");
    EXPECT_EQ(Log(), "Cannot find config file task.ini.\r\nalready on the terminal\r\nnot echoed\r\n");
}

TEST_F(ErrorLog, ExistingLogIsNeverShortened)
{
    dir_.Write("state/tessarin/error.log", "old line without end");
    WriteErrorLog("new");
    EXPECT_EQ(Log(), "old line without endnew\r\n");
}

TEST_F(ErrorLog, UnusableLogPlaceLosesTheLineQuietly)
{
    // A file where the state folder should be: the folder cannot be made.
    dir_.Write("state", "not a folder");
    WriteErrorLog("lost");
    EXPECT_EQ(tessarin::test::ReadFile(dir_.Path() / "state"), "not a folder");

    // A folder where the log file should be.
    fs::remove(dir_.Path() / "state");
    fs::create_directories(dir_.Path() / "state/tessarin/error.log");
    WriteErrorLog("lost too");
    EXPECT_TRUE(fs::is_directory(dir_.Path() / "state/tessarin/error.log"));
    EXPECT_TRUE(fs::is_empty(dir_.Path() / "state/tessarin/error.log"));
}

} // namespace
