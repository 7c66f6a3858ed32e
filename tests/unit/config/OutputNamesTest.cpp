#include "config/OutputNames.h"

#include "config/Settings.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace fs = std::filesystem;
using namespace tessarin;
using tessarin::test::ReadFile;
using tessarin::test::TTempDir;

namespace {

// 7 March 2009, a Saturday, 09:05:04.007.
TLocalTime March7()
{
    TLocalTime t;
    t.Year = 2009;
    t.Month = 3;
    t.Day = 7;
    t.Hour = 9;
    t.Minute = 5;
    t.Second = 4;
    t.Millisecond = 7;
    t.DayOfWeek = 6;
    return t;
}

const TApplicationNames Firefox{"Firefox", "3.0.5"};
const TApplicationNames Thunderbird{"Thunderbird", "2.0.0.19"};

// Expanding a name asks nothing of the system.
const TEnvironment NoSystem;

TSharedState State(int app, int operation = 1, const TEnvironment& env = NoSystem)
{
    TSharedState s(env);
    s.AppNumber = static_cast<std::uint8_t>(app);
    s.Operation = static_cast<TOperation>(operation);
    s.FolderSettings[FolderPattern] = DefaultFileNamePattern;
    return s;
}

std::string Expand(std::string_view text, const TSharedState& s,
                   const TApplicationNames& app = Firefox, const TLocalTime& t = March7())
{
    return ExpandFileNamePattern(text, s, app, t, std::locale::classic());
}

class OutputNamesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        env.Env.Folders.Documents = dir.Folder() + "Documents/";
        fs::create_directories(env.Env.Folders.Documents);
        env.Env.KeyStore = store;
    }

    std::string Folder(const std::string& name)
    {
        fs::create_directories(dir.Path() / name);
        return (dir.Path() / name).string();
    }
    TSharedState State(int app) const { return ::State(app, 1, env.Env); }
    std::string Build(TSharedState& s, const TApplicationNames& app = Firefox)
    {
        return BuildDefaultBackupPath(s, app, March7(), std::locale::classic());
    }

    test::TTestEnvironment env;
    const TTempDir& dir = env.Dir();
    std::shared_ptr<TMemoryKeyStore> store = std::make_shared<TMemoryKeyStore>();
};

} // namespace

TEST(OutputNames, TwoDigits)
{
    EXPECT_EQ(TwoDigits(0), "00");
    EXPECT_EQ(TwoDigits(7), "07");
    EXPECT_EQ(TwoDigits(12), "12");
    EXPECT_EQ(TwoDigits(250), "250");
    EXPECT_EQ(TwoDigits(65535), "65535");
}

TEST(OutputNames, EveryPlaceholder)
{
    const TSharedState s = State(2);
    EXPECT_EQ(Expand(DefaultFileNamePattern, s), "Firefox 3.0.5 - 2009-03-07.pcv");
    EXPECT_EQ(Expand("<year><month><day>-<hour><minute><second>.<millisecond> <dayOfWeek>", s),
              "20090307-090504.07 Saturday");
    TLocalTime t = March7();
    t.Millisecond = 250;
    EXPECT_EQ(Expand("<millisecond>", s, Firefox, t), "250");
    t.Hour = 23;
    EXPECT_EQ(Expand("<hour>", s, Firefox, t), "23");
    EXPECT_EQ(Expand("<application>_<hour>h<minute>.pcv", State(3), Thunderbird),
              "Thunderbird_09h05.pcv");
    // Matching is exact and with case; every occurrence is replaced.
    EXPECT_EQ(Expand("<Year> <year> <year>", s), "<Year> 2009 2009");
    EXPECT_EQ(Expand("<dayOfweek>", s), "<dayOfweek>");
}

TEST(OutputNames, VersionOnlyForCatalogueApplications)
{
    EXPECT_EQ(Expand("<application> <version>", State(10), {"Portable", "9.9"}), "Portable ");
    EXPECT_EQ(Expand("[<version>]", State(0), {"", "9.9"}), "[]");
    EXPECT_EQ(Expand("<version>", State(11), {"PostBox", "1.0"}), "1.0");
}

TEST(OutputNames, ProfilePlaceholder)
{
    TSharedState backup = State(2, 1);
    EXPECT_EQ(Expand("<profile>.pcv", backup), "<profile>.pcv"); // nothing selected: stays
    backup.SelectedProfile = "default";
    EXPECT_EQ(Expand("<profile>-<profile>.pcv", backup), "default-default.pcv");

    TSharedState restore = State(2, 2);
    EXPECT_EQ(Expand("<application> <profile>.pcv", restore), "Firefox .pcv");
    restore.SelectedProfile = "work";
    EXPECT_EQ(Expand("<application> <profile>.pcv", restore), "Firefox work.pcv");

    // Text brought in by a value is subject to the later placeholders.
    backup.SelectedProfile = "x<year>";
    EXPECT_EQ(Expand("<profile>", backup), "x2009");
}

TEST(OutputNames, SlashesOfValuesBecomeDashesFolderSeparatorsStay)
{
    TSharedState s = State(2);
    s.SelectedProfile = "a/b";
    EXPECT_EQ(Expand("/home/u/Backups/<profile>.pcv", s), "/home/u/Backups/a-b.pcv");
    EXPECT_EQ(Expand("/home/u/<application>/<year>.pcv", s, {"Fire/fox", "3/0"}),
              "/home/u/Fire-fox/2009.pcv");
    EXPECT_EQ(Expand("<version>", s, {"Firefox", "115.8.0esr/1"}), "115.8.0esr-1");
}

TEST(OutputNames, WeekdayFromTheLocale)
{
    EXPECT_EQ(LongDayName(0, std::locale::classic()), "Sunday");
    EXPECT_EQ(LongDayName(6, std::locale::classic()), "Saturday");
    EXPECT_FALSE(LongDayName(3).empty());
    const TLocalTime now = CurrentLocalTime();
    EXPECT_GE(now.Month, 1);
    EXPECT_LE(now.Month, 12);
    EXPECT_LT(now.Millisecond, 1000);
}

TEST_F(OutputNamesTest, FolderOrderOfPreference)
{
    const std::string backupdir = Folder("all");
    const std::string firefoxdir = Folder("ff");
    TSharedState s = State(2);
    s.FolderSettings[FolderBackupDir] = backupdir;
    s.FolderSettings[3] = "  " + firefoxdir + "  "; // firefoxdir, trimmed
    EXPECT_EQ(Build(s), firefoxdir + "/Firefox 3.0.5 - 2009-03-07.pcv");

    // Postbox has no folder key of its own: "backupdir".
    TSharedState postbox = State(11);
    postbox.FolderSettings = s.FolderSettings;
    EXPECT_EQ(Build(postbox, {"PostBox", "1.0"}), backupdir + "/PostBox 1.0 - 2009-03-07.pcv");

    // A folder deleted since start-up falls to the next choice.
    fs::remove(firefoxdir);
    EXPECT_EQ(Build(s), backupdir + "/Firefox 3.0.5 - 2009-03-07.pcv");
    fs::remove(backupdir);
    EXPECT_EQ(Build(s), dir.Folder() + "Documents/Firefox 3.0.5 - 2009-03-07.pcv");

    const std::string remembered = Folder("remembered");
    ASSERT_TRUE(WriteRememberedFolder(*env.Env.KeyStore, remembered + "/ff.pcv", 2));
    EXPECT_EQ(Build(s), remembered + "/Firefox 3.0.5 - 2009-03-07.pcv");
    // Thunderbird keeps its own (here none).
    TSharedState tb = State(3);
    EXPECT_EQ(Build(tb, Thunderbird),
              dir.Folder() + "Documents/Thunderbird 2.0.0.19 - 2009-03-07.pcv");
    // A remembered folder that is gone is ignored.
    fs::remove(remembered);
    EXPECT_EQ(Build(s), dir.Folder() + "Documents/Firefox 3.0.5 - 2009-03-07.pcv");
}

TEST_F(OutputNamesTest, PatternIsAFileName)
{
    TSharedState s = State(2);
    s.FolderSettings[FolderBackupDir] = Folder("b");
    s.FolderSettings[FolderPattern] = "<year>/<month>.pcv";
    EXPECT_EQ(Build(s), dir.Folder() + "b/2009-03.pcv");
    EXPECT_FALSE(s.PatternHasProfile);

    s.FolderSettings[FolderPattern] = "<application> <profile>.pcv";
    s.SelectedProfile = "a/b";
    EXPECT_EQ(Build(s), dir.Folder() + "b/Firefox a-b.pcv");
    EXPECT_TRUE(s.PatternHasProfile);

    s.FolderSettings[FolderPattern].clear();
    EXPECT_EQ(Build(s), dir.Folder() + "b/Firefox 3.0.5 - 2009-03-07.pcv");
}

TEST_F(OutputNamesTest, RememberedFoldersPerApplication)
{
    EXPECT_EQ(ReadRememberedFolder(*env.Env.KeyStore, 2), "");
    EXPECT_TRUE(WriteRememberedFolder(*env.Env.KeyStore, "/media/usb/Backups/ff.pcv", 2));
    EXPECT_TRUE(WriteRememberedFolder(*env.Env.KeyStore, "/old/tb.pcv", 3));
    EXPECT_EQ(ReadRememberedFolder(*env.Env.KeyStore, 2), "/media/usb/Backups/");
    EXPECT_EQ(ReadRememberedFolder(*env.Env.KeyStore, 3), "/old/");
    EXPECT_EQ(store->ReadString("Software\\Tessarin Vault", "Directory2"), "/media/usb/Backups/");

    // Portable profiles and "none" store nothing.
    EXPECT_TRUE(WriteRememberedFolder(*env.Env.KeyStore, "/x/p.pcv", 10));
    EXPECT_TRUE(WriteRememberedFolder(*env.Env.KeyStore, "/x/p.pcv", 0));
    EXPECT_EQ(store->ReadString("Software\\Tessarin Vault", "Directory10"), std::nullopt);
    EXPECT_EQ(store->ReadString("Software\\Tessarin Vault", "Directory0"), std::nullopt);
    // A name without a folder stores the empty text.
    EXPECT_TRUE(WriteRememberedFolder(*env.Env.KeyStore, "ff.pcv", 12));
    EXPECT_EQ(store->ReadString("Software\\Tessarin Vault", "Directory12"), "");

    // Values written by someone else are read trimmed, whatever the number.
    store->WriteString("Software\\Tessarin Vault", "Directory10", "  /by/hand/  ");
    EXPECT_EQ(ReadRememberedFolder(*env.Env.KeyStore, 10), "/by/hand/");
}

TEST_F(OutputNamesTest, RememberedFoldersSurviveInTheIniStore)
{
    const fs::path file = dir.Path() / "config/tessarin/registry.ini";
    env.Env.KeyStore = std::make_shared<TIniKeyStore>(file);
    EXPECT_TRUE(WriteRememberedFolder(*env.Env.KeyStore, "/home/jana/Záloha/ff.pcv", 2));
    EXPECT_TRUE(WriteRememberedFolder(*env.Env.KeyStore, "/srv/backup/tb.pcv", 3));
    EXPECT_TRUE(WriteRememberedFolder(*env.Env.KeyStore, "/home/jana/Nové/ff.pcv", 2));

    env.Env.KeyStore = std::make_shared<TIniKeyStore>(file); // as the next start of the program
    EXPECT_EQ(ReadRememberedFolder(*env.Env.KeyStore, 2), "/home/jana/Nové/");
    EXPECT_EQ(ReadRememberedFolder(*env.Env.KeyStore, 3), "/srv/backup/");
    EXPECT_EQ(ReadRememberedFolder(*env.Env.KeyStore, 4), "");
    const std::string text = ReadFile(file);
    EXPECT_NE(text.find("[Software\\Tessarin Vault]"), std::string::npos);
    EXPECT_NE(text.find("Directory2="), std::string::npos);

    // A store that cannot be written: nothing remembered, no crash, the old value stays.
    fs::permissions(file.parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
    const bool writable = ::access(file.parent_path().c_str(), W_OK) == 0;
    if (!writable) {
        EXPECT_FALSE(WriteRememberedFolder(*env.Env.KeyStore, "/elsewhere/ff.pcv", 2));
        EXPECT_EQ(ReadRememberedFolder(*env.Env.KeyStore, 2), "/home/jana/Nové/");
    }
    fs::permissions(file.parent_path(), fs::perms::owner_all);

    // A store whose folder is a file.
    dir.Write("blocked", "a file");
    env.Env.KeyStore = std::make_shared<TIniKeyStore>(dir.Path() / "blocked/registry.ini");
    EXPECT_FALSE(WriteRememberedFolder(*env.Env.KeyStore, "/x/ff.pcv", 2));
    EXPECT_EQ(ReadRememberedFolder(*env.Env.KeyStore, 2), "");
}
