#include "config/ConsoleUserInterface.h"
#include "config/ErrorLog.h"
#include "platform/FileUtil.h"
#include "platform/Folders.h"
#include "platform/IniFile.h"
#include "platform/KeyStore.h"
#include "platform/UserInterface.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tessarin;
using tessarin::test::ReadFile;
using tessarin::test::TTempDir;

TEST(ProgressPercent, RoundsHalfToEvenAndCaps)
{
    EXPECT_EQ(ProgressPercent(3, 1), 33);
    EXPECT_EQ(ProgressPercent(200, 1), 0);   // 0.5 -> 0
    EXPECT_EQ(ProgressPercent(200, 3), 2);   // 1.5 -> 2
    EXPECT_EQ(ProgressPercent(200, 5), 2);   // 2.5 -> 2
    EXPECT_EQ(ProgressPercent(200, 7), 4);   // 3.5 -> 4
    EXPECT_EQ(ProgressPercent(3, 2), 67);
    EXPECT_EQ(ProgressPercent(10, 11), 100);
    EXPECT_EQ(ProgressPercent(0, 5), 0);
    EXPECT_EQ(ProgressPercent(5, 0), 0);
    // No overflow on sizes beyond 2^57 bytes.
    EXPECT_EQ(ProgressPercent(UINT64_MAX, UINT64_MAX / 2), 50);
}

TEST(FileUtil, AtomicWriteReplacesAndKeepsNoTemporaryFile)
{
    TTempDir dir;
    const fs::path target = dir.Write("prefs.js", "old");
    std::error_code ec;
    ASSERT_TRUE(WriteFileAtomically(target, "new content", ec)) << ec.message();
    EXPECT_EQ(ReadFile(target), "new content");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

TEST(FileUtil, FailedWriteLeavesTargetAndNoTemporaryFile)
{
    TTempDir dir;
    // A folder in the target's place cannot be replaced by a file.
    fs::create_directory(dir.Path() / "busy");
    dir.Write("busy/inside.txt", "keep");
    std::error_code ec;
    EXPECT_FALSE(WriteFileAtomically(dir.Path() / "busy", "data", ec));
    EXPECT_TRUE(ec);
    EXPECT_EQ(ReadFile(dir.Path() / "busy/inside.txt"), "keep");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);

    EXPECT_FALSE(WriteFileAtomically(dir.Path() / "missing/folder/file", "data", ec));
    EXPECT_TRUE(ec);
}

TEST(FileUtil, AtomicWriteRemovesOnlyTheStaleTemporariesOfDeadProcesses)
{
    // A process that has ended: its number is free (and not reused within the test).
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);
    const std::string dead = std::to_string(child);
    const std::string live = std::to_string(::getppid());
    struct Case {
        std::string Name;
        bool Removed;
    };
    const Case cases[] = {
        {".tsr-" + dead + "-0", true},
        {".tsr-" + dead + "-12.a1B2c3", true},  // libzip's temporary of ours
        {".prefs.js.tmp-" + dead + "-3", true}, // older versions' name
        {".Firefox default.pcv.tmp-" + dead + "-0.zz09AB", true},
        {".tessarin-" + dead + "-7.part", true}, // an extraction
        {".tsr-" + live + "-0", false},
        {".prefs.js.tmp-" + live + "-1", false},
        {".tsr-" + std::to_string(::getpid()) + "-99", false},
        {".tsr-" + dead + "-0.toolong7", false},
        {".tsr-" + dead + "-x", false},
        {"tsr-" + dead + "-0", false},
        {".tsr-1-0", false},
        {".tsr-0-0", false},
        {".notes.tmp-" + dead, false},
    };
    TTempDir dir;
    for (const Case& c : cases)
        dir.Write(c.Name, "x");
    fs::create_directory(dir.Path() / (".tsr-" + dead + "-5")); // a folder is never ours
    std::error_code ec;
    ASSERT_TRUE(WriteFileAtomically(dir.Path() / "prefs.js", "new", ec)) << ec.message();
    for (const Case& c : cases)
        EXPECT_EQ(fs::exists(dir.Path() / c.Name), !c.Removed) << c.Name;
    EXPECT_TRUE(fs::is_directory(dir.Path() / (".tsr-" + dead + "-5")));
}

TEST(FileUtil, AtomicWriteThroughALinkReplacesTheLinkedFileAndKeepsTheLink)
{
    // ~/.config/tessarin/registry.ini kept in a dotfiles folder and linked in.
    TTempDir dir;
    const fs::path real = dir.Write("dotfiles/registry.ini", "[Software\\Tessarin Vault]\n");
    fs::create_directories(dir.Path() / "config");
    const fs::path link = dir.Path() / "config" / "registry.ini";
    fs::create_symlink("../dotfiles/registry.ini", link);
    std::error_code ec;
    ASSERT_TRUE(WriteFileAtomically(link, "new", ec)) << ec.message();
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(real), "new");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path() / "dotfiles"),
                            fs::directory_iterator()),
              1);
}

TEST(FileUtil, ReadWholeFileReportsMissingFile)
{
    TTempDir dir;
    std::string data;
    std::error_code ec;
    EXPECT_FALSE(ReadWholeFile(dir.Path() / "nope", data, ec));
    EXPECT_TRUE(ec);
    dir.Write("bin", std::string("a\0b", 3));
    ASSERT_TRUE(ReadWholeFile(dir.Path() / "bin", data, ec));
    EXPECT_EQ(data, std::string("a\0b", 3));
}

TEST(FileUtil, ReadWholeFileReportsAFolderAsAFailure)
{
    // An archive entry "indexfile.txt/" extracts as a folder: it must not read as an
    // empty index.
    TTempDir dir;
    fs::create_directory(dir.Path() / "indexfile.txt");
    std::string data = "left over";
    std::error_code ec;
    EXPECT_FALSE(ReadWholeFile(dir.Path() / "indexfile.txt", data, ec));
    EXPECT_EQ(ec, std::errc::is_a_directory);
}

class EnvGuard {
public:
    EnvGuard(const char* name, const std::string& value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvGuard()
    {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(Folders, FollowXdgVariablesAndUserDirs)
{
    TTempDir dir;
    const std::string home = dir.Path().string();
    EnvGuard h("HOME", home);
    EnvGuard c("XDG_CONFIG_HOME", home + "/cfg");
    EnvGuard s("XDG_STATE_HOME", home + "/st");
    {
        // No Documents folder and no user-dirs: the home folder.
        const TFolders f = DetectFolders();
        EXPECT_EQ(f.Home, home + "/");
        EXPECT_EQ(f.Documents, home + "/");
        EXPECT_EQ(f.State, home + "/st/tessarin/");
        EXPECT_EQ(f.Config, home + "/cfg/tessarin/");
        EXPECT_EQ(f.Program.back(), '/');
        EXPECT_TRUE(fs::exists(f.Program));
    }
    fs::create_directories(home + "/Documents");
    EXPECT_EQ(DetectFolders().Documents, home + "/Documents/");

    fs::create_directories(home + "/Dokumente");
    dir.Write("cfg/user-dirs.dirs", "# written by xdg-user-dirs-update\n"
                                    "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                    "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    EXPECT_EQ(DetectFolders().Documents, home + "/Dokumente/");

    // A configured folder that does not exist falls back.
    dir.Write("cfg/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Gone\"\n");
    EXPECT_EQ(DetectFolders().Documents, home + "/Documents/");
}

TEST(Folders, RelativeXdgFoldersAreIgnored)
{
    // A relative XDG_*_HOME is invalid: taken as it is, the error log and the
    // remembered folders would land in whatever folder the program started in.
    TTempDir dir;
    const std::string home = dir.Path().string();
    EnvGuard h("HOME", home);
    EnvGuard c("XDG_CONFIG_HOME", "cfg");
    EnvGuard s("XDG_STATE_HOME", "./state");
    const TFolders f = DetectFolders();
    EXPECT_EQ(f.Config, home + "/.config/tessarin/");
    EXPECT_EQ(f.State, home + "/.local/state/tessarin/");
}

TEST(Folders, TrailingSeparatorIsAddedOnce)
{
    EXPECT_EQ(WithTrailingSeparator("/a/b"), "/a/b/");
    EXPECT_EQ(WithTrailingSeparator("/a/b/"), "/a/b/");
    EXPECT_EQ(WithTrailingSeparator(""), "/");
}

TEST(KeyStore, IniStoreKeepsValuesExactlyAndSurvivesRestart)
{
    TTempDir dir;
    const fs::path file = dir.Path() / "tessarin" / "registry.ini";
    {
        TIniKeyStore store(file);
        EXPECT_FALSE(store.ReadString("Software\\Tessarin Vault", "Directory2"));
        ASSERT_TRUE(store.WriteString("Software\\Tessarin Vault", "Directory2", "/home/u/Backups"));
        ASSERT_TRUE(store.WriteString("Software\\Tessarin Vault", "Directory3", " \"quoted\" path "));
        ASSERT_TRUE(store.WriteString("Software\\Tessarin Vault", "directory2", "/home/u/New"));
    }
    TIniKeyStore again(file);
    EXPECT_EQ(again.ReadString("software\\tessarin vault", "Directory2"), "/home/u/New");
    EXPECT_EQ(again.ReadString("Software\\Tessarin Vault", "Directory3"), " \"quoted\" path ");
    EXPECT_FALSE(again.ReadString("Software\\Tessarin Vault", "Directory4"));
    // A value that would break the file is refused and the old one stays.
    EXPECT_FALSE(again.WriteString("Software\\Tessarin Vault", "Directory2", "a\nb=c"));
    EXPECT_EQ(again.ReadString("Software\\Tessarin Vault", "Directory2"), "/home/u/New");
}

TEST(KeyStore, IniStoreRefusesAValueItCouldNotGiveBackWhole)
{
    // The INI reader returns at most 2047 characters: a longer folder would come back
    // cut, as a folder that does not exist, while the write said it was stored.
    TTempDir dir;
    TIniKeyStore store(dir.Path() / "registry.ini");
    ASSERT_TRUE(store.WriteString("Software\\Tessarin Vault", "Directory2", "/old/"));
    const std::string longest = "/" + std::string(TIniFile::MaxValueLength - 2, 'd') + "/";
    ASSERT_TRUE(store.WriteString("Software\\Tessarin Vault", "Directory3", longest));
    EXPECT_EQ(store.ReadString("Software\\Tessarin Vault", "Directory3"), longest);
    EXPECT_FALSE(store.WriteString("Software\\Tessarin Vault", "Directory2", longest + "x/"));
    EXPECT_EQ(store.ReadString("Software\\Tessarin Vault", "Directory2"), "/old/");
}

TEST(KeyStore, MemoryStoreIgnoresCaseOfNames)
{
    TMemoryKeyStore store;
    store.WriteString("Software\\Tessarin Vault", "Directory1", "x");
    EXPECT_EQ(store.ReadString("SOFTWARE\\tessarin vault", "DIRECTORY1"), "x");
}

TEST(ConsoleUserInterface, NeverBlocksAndLogsFailures)
{
    const test::TTestEnvironment env;

    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    TConsoleUserInterface ui(out);
    EXPECT_FALSE(ui.QuestionBox("Exit the program", "Really?"));
    EXPECT_FALSE(ui.RetryCancelBox("Warning", "Firefox is running."));
    EXPECT_FALSE(ui.AskPassword());
    ui.ErrorBox("Error", "The backup file is corrupted.");

    std::rewind(out);
    std::string printed;
    char buf[256];
    while (std::fgets(buf, sizeof buf, out))
        printed += buf;
    std::fclose(out);
    EXPECT_NE(printed.find("Error: The backup file is corrupted."), std::string::npos);
    EXPECT_EQ(env.Log(), "Firefox is running.\r\nThe backup file is corrupted.\r\n");
}
