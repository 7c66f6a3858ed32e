#include "config/Settings.h"

#include "ConfigFixture.h"
#include "config/BatchMode.h"
#include "config/ErrorLog.h"
#include "support/FakeUserInterface.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace fs = std::filesystem;
using namespace tessarin;
using tessarin::test::ReadFile;

namespace {

class Settings : public test::TConfigFixture {
protected:
    TSharedState Load(std::string_view ini)
    {
        WriteProgramFile("Backup.ini", ini);
        return LoadNow();
    }
    TSharedState LoadNow()
    {
        TSharedState state(env_.Env);
        // Values a previous run left must not survive a load.
        state.FolderSettings.fill("stale");
        state.MonitorNumber = 7;
        state.AskForPassword = false;
        LoadSettings(state);
        return state;
    }
    static void ExpectDefaults(const TSharedState& s)
    {
        EXPECT_EQ(s.FolderSettings[FolderPattern], DefaultFileNamePattern);
        for (int i = 1; i < FolderSettingsCount; ++i)
            EXPECT_EQ(s.FolderSettings[i], "") << "slot " << i;
        EXPECT_EQ(s.MonitorNumber, 1);
        EXPECT_TRUE(s.AskForPassword);
    }
    std::string MakeFolder(const std::string& name)
    {
        fs::create_directories(dir_.Path() / name);
        return (dir_.Path() / name).string();
    }
};

TEST_F(Settings, MissingFileIsCreatedEmptyAndDefaultsApply)
{
    const TSharedState s = LoadNow();
    ExpectDefaults(s);
    ASSERT_TRUE(fs::is_regular_file(ProgramPath("Backup.ini")));
    EXPECT_EQ(fs::file_size(ProgramPath("Backup.ini")), 0u);
    EXPECT_FALSE(fs::exists(LogPath()));
}

TEST_F(Settings, EmptyAndUnusableFilesGiveDefaults)
{
    ExpectDefaults(Load(""));
    ExpectDefaults(Load("[General]\n"));
    ExpectDefaults(Load("fileformat=x.pcv\nmonitor=3\naskForPassword=false\n")); // no section
    ExpectDefaults(Load("[Other]\nfileformat=x.pcv\nmonitor=3\n"));
    ExpectDefaults(Load(std::string(100000, 'x')));
    ExpectDefaults(Load("[General]\nmonitor" + std::string(100000, ' ') + "\n"));
    ExpectDefaults(Load("[General]\nmonitor=" + std::string(100000, '1') + "\n"));
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += static_cast<char>((i * 7919 + 13) & 0xFF);
    ExpectDefaults(Load("[General]\n" + garbage));
    EXPECT_FALSE(fs::exists(LogPath())); // unusable content is no read failure
}

TEST_F(Settings, FileFormatIsTrimmedAndEmptyGivesDefault)
{
    EXPECT_EQ(Load("[General]\nfileformat=\n").FolderSettings[FolderPattern],
              DefaultFileNamePattern);
    EXPECT_EQ(Load("[General]\nfileformat=   \n").FolderSettings[FolderPattern],
              DefaultFileNamePattern);
    EXPECT_EQ(Load("[General]\nfileformat=  x.pcv  \n").FolderSettings[FolderPattern], "x.pcv");
    // Quotes keep the blanks from the reader, the settings trim them all the same.
    EXPECT_EQ(Load("[General]\nfileformat=\"  x.pcv \"\n").FolderSettings[FolderPattern], "x.pcv");
    EXPECT_EQ(Load("[General]\nfileformat=\"   \"\n").FolderSettings[FolderPattern],
              DefaultFileNamePattern);
    // The reader's limit applies to an overlong pattern.
    EXPECT_EQ(Load("[General]\nfileformat=" + std::string(5000, 'p') + "\n")
                  .FolderSettings[FolderPattern]
                  .size(),
              TIniFile::MaxValueLength);
}

TEST_F(Settings, AskForPasswordIsOffOnlyForExactlyFalse)
{
    EXPECT_FALSE(Load("[General]\naskForPassword=false\n").AskForPassword);
    EXPECT_FALSE(Load("[General]\naskForPassword=  false \n").AskForPassword);
    EXPECT_FALSE(Load("[General]\nASKFORPASSWORD='false'\n").AskForPassword);
    for (const char* value : {"False", "FALSE", "no", "0", "", "true", "false!", "f alse"})
        EXPECT_TRUE(Load(std::string("[General]\naskForPassword=") + value + "\n").AskForPassword)
            << value;
    EXPECT_TRUE(Load("[General]\n").AskForPassword);
}

TEST_F(Settings, MonitorTakesOnlyIntegersAboveZero)
{
    EXPECT_EQ(Load("[General]\nmonitor=2\n").MonitorNumber, 2);
    EXPECT_EQ(Load("[General]\nmonitor=  3  \n").MonitorNumber, 3);
    EXPECT_EQ(Load("[General]\nmonitor=+4\n").MonitorNumber, 4);
    EXPECT_EQ(Load("[General]\nmonitor=2147483647\n").MonitorNumber, 2147483647);
    for (const char* value : {"0", "-1", "two", "", "2x", "2.0", "0x2", "$2", "1 2", "99999999999",
                              "-2147483648", "+", "+-1"})
        EXPECT_EQ(Load(std::string("[General]\nmonitor=") + value + "\n").MonitorNumber, 1)
            << value;
}

TEST_F(Settings, FolderKeysAreKeptOnlyForExistingFoldersInTheirSlots)
{
    const char* keys[] = {"backupdir",    "suitedir",   "firefoxdir",  "thunderbirddir",
                          "sunbirddir",   "flockdir",   "netscapedir", "netscapemessdir",
                          "spicebirddir", "songbirddir"};
    std::string ini = "[General]\n";
    std::vector<std::string> folders;
    for (const char* key : keys) {
        folders.push_back(MakeFolder(std::string("dirs/") + key));
        ini += std::string(key) + "=  " + folders.back() + "  \n";
    }
    const TSharedState all = Load(ini);
    EXPECT_EQ(all.FolderSettings[FolderPattern], DefaultFileNamePattern);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(all.FolderSettings[i + 1], folders[i]) << keys[i];
    EXPECT_EQ(all.FolderSettings[11], "");
    EXPECT_EQ(all.FolderSettings[12], "");

    const std::string file = dir_.Write("dirs/plain.txt", "not a folder").string();
    const TSharedState some =
        Load("[General]\nbackupdir=" + dir_.Folder() + "missing\nfirefoxdir=" + file +
             "\nthunderbirddir=\nsongbirddir=" + folders[9] + "\n");
    EXPECT_EQ(some.FolderSettings[FolderBackupDir], "");
    EXPECT_EQ(some.FolderSettings[3], "");
    EXPECT_EQ(some.FolderSettings[4], "");
    EXPECT_EQ(some.FolderSettings[10], folders[9]);
}

TEST_F(Settings, UserEditedFileIsReadAsItsAuthorMeantIt)
{
    std::string ini = ReadFile(fs::path(TESSARIN_TEST_DATA) / "config/user-Backup.ini");
    ASSERT_FALSE(ini.empty());
    for (std::size_t at; (at = ini.find("@FOLDER@")) != std::string::npos;)
        ini.replace(at, 8, dir_.Path().string());
    const std::string backups = MakeFolder("Backups");
    const std::string firefox = MakeFolder("Backups/Firefox");
    const std::string mail = MakeFolder("Mail backups");

    const TSharedState s = Load(ini);
    EXPECT_EQ(s.FolderSettings[FolderPattern], "<application> <profile> <year>-<month>-<day>.pcv");
    EXPECT_EQ(s.FolderSettings[FolderBackupDir], backups);
    EXPECT_EQ(s.FolderSettings[2], ""); // suitedir names a folder that does not exist
    EXPECT_EQ(s.FolderSettings[3], firefox);
    EXPECT_EQ(s.FolderSettings[4], mail);
    EXPECT_EQ(s.MonitorNumber, 2);
    EXPECT_FALSE(s.AskForPassword);
    EXPECT_EQ(ReadIntegerSetting(env_.Env, "General", "compressionLevel", 9), 5);
    EXPECT_FALSE(fs::exists(LogPath()));
}

TEST_F(Settings, CompressionLevelIsReadAtEachCallWithItsOwnFallback)
{
    WriteProgramFile("Backup.ini", "[General]\ncompressionLevel=abc\n");
    EXPECT_EQ(ReadIntegerSetting(env_.Env, "General", "compressionLevel", 9), 9);
    WriteProgramFile("Backup.ini", "[General]\ncompressionLevel= 5 \n");
    EXPECT_EQ(ReadIntegerSetting(env_.Env, "General", "compressionLevel", 9), 5);
    WriteProgramFile("Backup.ini", "[general]\nCOMPRESSIONLEVEL=\"0\"\n");
    EXPECT_EQ(ReadIntegerSetting(env_.Env, "General", "compressionLevel", 9), 0);
    // No range check here: the archive side decides what to do with it.
    WriteProgramFile("Backup.ini", "[General]\ncompressionLevel=-3\n");
    EXPECT_EQ(ReadIntegerSetting(env_.Env, "General", "compressionLevel", 9), -3);
    for (const char* value : {"", "5x", "5.5", "12345678901"}) {
        WriteProgramFile("Backup.ini", std::string("[General]\ncompressionLevel=") + value + "\n");
        EXPECT_EQ(ReadIntegerSetting(env_.Env, "General", "compressionLevel", 9), 9) << value;
    }
    WriteProgramFile("Backup.ini", "");
    EXPECT_EQ(ReadIntegerSetting(env_.Env, "General", "compressionLevel", 4), 4);
}

TEST_F(Settings, MissingFileMakesIntegerReadFailWithFixedText)
{
    try {
        ReadIntegerSetting(env_.Env, "General", "compressionLevel", 9);
        FAIL() << "no error for a missing Backup.ini";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Cannot find file Backup.ini with configuration.");
    }
    EXPECT_THROW(OpenSettingsFile(env_.Env), std::runtime_error);
    EXPECT_FALSE(fs::exists(ProgramPath("Backup.ini"))); // reading never creates it
}

TEST_F(Settings, ReadFailureIsLoggedInTheLanguageAndDefaultsStay)
{
    fs::create_directories(ProgramPath("Backup.ini")); // a folder where the file should be
    ExpectDefaults(LoadNow());
    EXPECT_EQ(Log(), "I cannot read file Backup.ini\r\n");
    EXPECT_THROW(ReadIntegerSetting(env_.Env, "General", "compressionLevel", 9),
                 std::runtime_error);

    fs::copy_file(fs::path(TESSARIN_TEST_DATA) / "config/cs.lng", ProgramPath("Default.lng"));
    ExpectDefaults(LoadNow());
    EXPECT_EQ(Log(), "I cannot read file Backup.ini\r\nNelze přečíst soubor backup.ini\r\n");
}

// An installed program folder cannot be written by its users: their own file is
// created instead, and that is no failure.
TEST_F(Settings, UnwritableProgramFolderGivesTheUserAFileOfTheirOwn)
{
    env_.Env.Folders.Program = dir_.Folder() + "no such program folder/";
    ExpectDefaults(LoadNow());
    EXPECT_FALSE(fs::exists(dir_.Path() / "no such program folder"));
    ASSERT_TRUE(fs::is_regular_file(dir_.Path() / "config/tessarin/Backup.ini"));
    EXPECT_EQ(fs::file_size(dir_.Path() / "config/tessarin/Backup.ini"), 0u);
    EXPECT_EQ(env_.Env.SettingsFile(), (dir_.Path() / "config/tessarin/Backup.ini").string());
    EXPECT_FALSE(fs::exists(LogPath()));
}

TEST_F(Settings, CreateFailureIsLoggedAndDefaultsStay)
{
    // Files in the place of both folders: nothing can be created, and no crash.
    dir_.Write("blocker", "x");
    env_.Env.Folders.Program = dir_.Folder() + "blocker/";
    env_.Env.Folders.Config = dir_.Folder() + "blocker/tessarin/";
    ExpectDefaults(LoadNow());
    EXPECT_EQ(Log(), "I cannot write to file Backup.ini\r\n");
    ExpectDefaults(LoadNow());
    EXPECT_EQ(Log(), "I cannot write to file Backup.ini\r\nI cannot write to file Backup.ini\r\n");
}

TEST_F(Settings, UserFileIsReadInsteadOfTheProgramFolders)
{
    WriteProgramFile("Backup.ini", "[General]\nmonitor=2\nfileformat=system.pcv\n");
    EXPECT_EQ(env_.Env.SettingsFile(), ProgramPath("Backup.ini").string());
    EXPECT_EQ(LoadNow().MonitorNumber, 2);
    EXPECT_EQ(ReadIntegerSetting(env_.Env, "General", "monitor", 9), 2);

    // Not merged: what the user's file leaves out has its default, not the system's value.
    dir_.Write("config/tessarin/Backup.ini", "[General]\nmonitor=3\n");
    EXPECT_EQ(env_.Env.SettingsFile(), (dir_.Path() / "config/tessarin/Backup.ini").string());
    const TSharedState s = LoadNow();
    EXPECT_EQ(s.MonitorNumber, 3);
    EXPECT_EQ(s.FolderSettings[FolderPattern], DefaultFileNamePattern);
    EXPECT_EQ(ReadIntegerSetting(env_.Env, "General", "monitor", 9), 3);
    EXPECT_EQ(ReadFile(ProgramPath("Backup.ini")), "[General]\nmonitor=2\nfileformat=system.pcv\n");
}

TEST_F(Settings, UserFileCountsForTheRequiredFilesCheck)
{
    WriteProgramFile("Default.lng", "");
    WriteProgramFile("Profilefiles.txt", "");
    test::TFakeUserInterface ui;
    EXPECT_FALSE(CheckRequiredFiles(env_.Env, ui));
    dir_.Write("config/tessarin/Backup.ini", "");
    test::TFakeUserInterface quiet;
    EXPECT_TRUE(CheckRequiredFiles(env_.Env, quiet));
    EXPECT_TRUE(quiet.Calls.empty());
}

TEST_F(Settings, CreateSettingsFileNeverEmptiesAnExistingFile)
{
    WriteProgramFile("Backup.ini", "[General]\nmonitor=2\n");
    CreateSettingsFile(env_.Env);
    EXPECT_EQ(ReadFile(ProgramPath("Backup.ini")), "[General]\nmonitor=2\n");
    EXPECT_FALSE(fs::exists(LogPath()));
}

TEST(ParseInteger, AcceptsWholeDecimalNumbersOnly)
{
    EXPECT_EQ(ParseInteger("0"), 0);
    EXPECT_EQ(ParseInteger("42"), 42);
    EXPECT_EQ(ParseInteger(" -17\t"), -17);
    EXPECT_EQ(ParseInteger("+8"), 8);
    EXPECT_EQ(ParseInteger("007"), 7);
    EXPECT_EQ(ParseInteger("2147483647"), 2147483647);
    EXPECT_EQ(ParseInteger("-2147483648"), INT32_MIN);
    for (const char* bad : {"", " ", "-", "+", "5x", "x5", "1 2", "2147483648", "-2147483649",
                            "0x10", "$10", "1e3", "1.0", "--1", "+-1", "-+1", "١٢"})
        EXPECT_FALSE(ParseInteger(bad).has_value()) << bad;
}

} // namespace
