#include "engine/UnknowFilesBL.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <ios>

namespace tessarin::test {
namespace {

namespace fs = std::filesystem;

class UnknowFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::copy_file(fs::path(TESSARIN_TEST_DATA) / "unknown" / "Profilefiles.txt",
                      env_.ProgramFile("Profilefiles.txt"));
    }

    // A profile's top level: names ending in '/' are folders.
    std::string Profile(const std::vector<std::string>& names)
    {
        for (const auto& name : names) {
            if (name.back() == '/')
                fs::create_directories(dir_.Path() / "profile" / name);
            else
                dir_.Write("profile/" + name, "x");
        }
        fs::create_directories(dir_.Path() / "profile");
        return dir_.Folder() + "profile/";
    }

    TTestEnvironment env_;
    const TTempDir& dir_ = env_.Dir();
};

TEST_F(UnknowFiles, KnownFileListIsReadLineByLine)
{
    const TUnknowFilesBL known(env_.Env.Folders);
    const auto& items = known.KnownItems();
    ASSERT_EQ(items.size(), 16u);
    EXPECT_EQ(items[0], TUnknowItem("prefs.js", false)); // CR of the Windows line end dropped
    EXPECT_EQ(items[6], TUnknowItem("*.mab", false));
    EXPECT_EQ(items[8], TUnknowItem("Mail", true));
    EXPECT_EQ(items[12], TUnknowItem("*cache", true));
    EXPECT_EQ(items[15], TUnknowItem("sessionstore-backups", true)); // blanks after "\*.*"
}

TEST_F(UnknowFiles, MatchingRules)
{
    const TUnknowFilesBL known(env_.Env.Folders);
    struct TCase {
        const char* Name;
        bool Folder;
        bool Known;
    };
    const TCase cases[] = {
        {"prefs.js", false, true},
        {"prefs.js", true, false},  // a folder is not covered by a file entry
        {"Prefs.js", false, false}, // nor a name in another case: it is another file here
        {"abook.mab", false, true}, // "*.mab"
        {"history.mab", true, false},
        {"places.sqlite-wal", false, true},
        {"Mail", true, true},
        {"Mail", false, false},
        {"mail", true, false},
        {"cache", true, true},        // "*cache\*.*"
        {"startupcache", true, true}, // ends in "cache"
        {"OfflineCache", true, false},
        {"Cache", true, true}, // its own entry
        {"cache", false, false},
        {"sessionstore-backups", true, true},
        {"notes.txt", false, false},
        {"", false, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(known.IsKnown(c.Name, c.Folder), c.Known) << c.Name << (c.Folder ? "/" : "");
}

TEST_F(UnknowFiles, TopLevelScanFindsWhatTheListDoesNotCover)
{
    const std::string profile =
        Profile({"prefs.js", "Prefs.js", "abook.mab", "notes.txt", "Mail/", "cache2/",
                 "backup_old/", "OfflineCache/", "ImapMail/", "deep/", "places.sqlite"});
    dir_.Write("profile/backup_old/inside.txt", "not looked at");
    dir_.Write("profile/deep/notes.txt", "not looked at");
    fs::create_symlink(dir_.Path() / "profile/notes.txt", dir_.Path() / "profile/link.txt");
    fs::create_symlink("127.0.1.1:+4242", dir_.Path() / "profile/lock"); // Firefox's lock link
    ASSERT_EQ(::mkfifo((profile + "fifo").c_str(), 0600), 0);

    const TUnknowFilesBL known(env_.Env.Folders);
    const std::vector<TUnknowItem> expected = {{"backup_old", true},   {"deep", true},
                                               {"link.txt", false},    {"notes.txt", false},
                                               {"OfflineCache", true}, {"Prefs.js", false}};
    EXPECT_EQ(known.FindUnknownItems(profile), expected);
    EXPECT_EQ(known.FindUnknownItems(profile), expected); // same positions on a second scan
    EXPECT_TRUE(known.FindUnknownItems(dir_.Folder() + "missing/").empty());
}

TEST_F(UnknowFiles, ListIsFoundWhateverTheCaseOfItsName)
{
    fs::rename(dir_.Path() / "program/Profilefiles.txt", dir_.Path() / "program/PROFILEFILES.TXT");
    EXPECT_EQ(KnownFileListPath(env_.Env.Folders), dir_.Path() / "program/PROFILEFILES.TXT");
    EXPECT_EQ(TUnknowFilesBL(env_.Env.Folders).KnownItems().size(), 16u);
    fs::remove(dir_.Path() / "program/PROFILEFILES.TXT");
    EXPECT_THROW(TUnknowFilesBL(env_.Env.Folders), std::ios_base::failure);
}

TEST_F(UnknowFiles, DialogItemsForBackupAndRestore)
{
    const std::string profile = Profile({"prefs.js", "notes.txt", "backup_old/"});
    const auto items = FillUnknownFilesForBackup(env_.Env.Folders, profile);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(UnknownItemLine(items[0]), "backup_old (directory)");
    EXPECT_EQ(UnknownItemLine(items[1]), "notes.txt");

    // The list is read again each time the Components page is entered.
    dir_.Write("program/Profilefiles.txt", "prefs.js\nnotes.txt\n");
    EXPECT_EQ(FillUnknownFilesForBackup(env_.Env.Folders, profile),
              (std::vector<TUnknowItem>{{"backup_old", true}}));

    TSharedState state(env_.Env);
    EXPECT_TRUE(FillUnknownFilesForRestore(state).empty());
    state.UnknownItems = {{"a.txt", false}, {"old", true}, {"b.txt", false}};
    EXPECT_EQ(FillUnknownFilesForRestore(state), state.UnknownItems);
}

TEST_F(UnknowFiles, ShippedListLeavesOnlyTheUsersOwnItemsOfARealFirefoxProfile)
{
    dir_.Write("program/Profilefiles.txt",
               ReadFile(fs::path(TESSARIN_SOURCE_DIR) / "data" / "Profilefiles.txt"));
    const std::string profile =
        (fs::path(TESSARIN_TEST_DATA) / "profiles-real" / "firefox" / "profile").string() + "/";
    const auto items = TUnknowFilesBL(env_.Env.Folders).FindUnknownItems(profile);
    auto has = [&](const TUnknowItem& item) {
        return std::find(items.begin(), items.end(), item) != items.end();
    };
    EXPECT_TRUE(has({"notes-from-user.txt", false}));
    EXPECT_TRUE(has({"my-scripts", true}));
    for (const char* covered : {"prefs.js", "places.sqlite", "key4.db", "logins.json"})
        EXPECT_FALSE(has({covered, false})) << covered;
    for (const char* covered : {"extensions", "bookmarkbackups", "cache2"})
        EXPECT_FALSE(has({covered, true})) << covered;
}

} // namespace
} // namespace tessarin::test
