#include "engine/BackupFileCheck.h"
#include "engine/BackupFormat.h"
#include "engine/BackupRun.h"
#include "engine/Components.h"
#include "engine/UnknowFilesBL.h"

#include "BackupRunTestSupport.h"
#include "config/ErrorLog.h"
#include "support/Unprivileged.h"
#include "support/ZipDamage.h"

#include <gmock/gmock.h>
#include <sqlite3.h>

#include <cstring>
#include <fstream>

#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tessarin;
using namespace tessarin::test;
using ::testing::ElementsAreArray;
using ::testing::IsSupersetOf;

namespace {
const std::string Sep = "****////\\\\\\\\****";

void Choose(TSharedState& state, std::initializer_list<int> boxes)
{
    ResetComponentBoxes(state);
    for (int n : boxes)
        state.Boxes[n].Checked = true;
}
} // namespace

TEST_F(BackupRunTest, FirefoxProfileGivesExactEntriesAndIndex)
{
    const TRealProfile p = CopyRealProfile("firefox", temp.Path() / "ff");
    state.AppNumber = 2;
    state.Operation = TOperation::Backup;
    state.ProfileDir = p.Folder();
    state.BackupFile = documents + "Firefox.pcv";
    Choose(state, {1, 4, 9, 10, 14});
    state.ChosenUnknownItems = {"notes-from-user.txt", "my-scripts", "gone-meanwhile"};

    RunBackup(state, ui, false);

    EXPECT_FALSE(state.BackupFailed);
    EXPECT_THAT(EntryNames(state.BackupFile),
                ElementsAreArray({
                    "addonStartup.json.lz4",
                    "bookmarkbackups/bookmarks-2024-03-01_1520_x3Vd9aQ1bq8=.jsonlz4",
                    "browser-extension-data/uBlock0@raymondhill.net/storage.js",
                    "chrome/userChrome.css",
                    "containers.json",
                    "content-prefs.sqlite",
                    "cookies.sqlite",
                    "cookies.sqlite-wal",
                    "extension-preferences.json",
                    "extension-settings.json",
                    "extensions.json",
                    "extensions/langpack-cs@firefox.mozilla.org.xpi",
                    "extensions/uBlock0@raymondhill.net.xpi",
                    "favicons.sqlite",
                    "handlers.json",
                    "indexfile.txt",
                    "key4.db",
                    "logins-backup.json",
                    "logins.json",
                    "my-scripts/greasy.user.js",
                    "notes-from-user.txt",
                    "permissions.sqlite",
                    "places.sqlite",
                    "places.sqlite-wal",
                    "prefs.js",
                    "protections.sqlite",
                    "search.json.mozlz4",
                    "sessionstore-backups/recovery.baklz4",
                    "sessionstore-backups/recovery.jsonlz4",
                    "sessionstore.jsonlz4",
                    "storage/default/file++++home+user+notes.html/ls/data.sqlite",
                    "storage/default/https+++example.com/ls/data.sqlite",
                    "storage/default/moz-extension+++3b9a5d1e-7c2f-4e8a-b1d6-5f0c9e2a4b7d"
                    "^userContextId=4294967295/.metadata-v2",
                    "storage/default/moz-extension+++3b9a5d1e-7c2f-4e8a-b1d6-5f0c9e2a4b7d"
                    "^userContextId=4294967295/idb/3647222921wleabcEoxlt-eengsairo.sqlite",
                    "webappsstore.sqlite",
                    "xulstore.json",
                }));
    EXPECT_EQ(EntryText(state.BackupFile, "indexfile.txt"),
              "Tessarin Vault\r\nRevize: 2\r\nVerze: 115.8.0\r\n" + Sep + "\r\nYNNYNNNYYNNNYN\r\n" + Sep +
                  "\r\n" + Sep + "\r\ndir\r\nmy-scripts\r\nfile\r\nnotes-from-user.txt\r\n" + Sep +
                  "\r\n");
    // The run leaves nothing of its own in the profile.
    EXPECT_FALSE(fs::exists(p.Profile / "indexfile.txt"));
    EXPECT_EQ(ui.ReportText, "The backup was created. You can read the report below:");
    EXPECT_EQ(ui.CurrentPage, TPage::Report);
}

TEST_F(BackupRunTest, ThunderbirdMailOutsideTheProfileIsStoredUnderItsFolderName)
{
    const TRealProfile p = CopyRealProfile("thunderbird", temp.Path() / "tb");
    state.AppNumber = 3;
    state.Operation = TOperation::Backup;
    state.ProfileDir = p.Folder();
    state.BackupFile = documents + "Thunderbird.pcv";
    Choose(state, {2});

    RunBackup(state, ui, false);

    const std::vector<std::string> names = EntryNames(state.BackupFile);
    EXPECT_THAT(names, IsSupersetOf({"pop.example.org/Inbox", "pop.example.org/Inbox.msf",
                                     "pop.example.org/Sent", "pop.example.org/popstate.dat",
                                     "Mail/Local Folders/Archives.sbd/2023", "ImapMail/imap.example.com/INBOX",
                                     "Mail/Feeds/feeds.json", "global-messages-db.sqlite", "prefs.js"}));
    for (const std::string& name : names)
        EXPECT_EQ(name.find(".mozmsgs"), std::string::npos) << name;
    const std::string outside = (p.Outside / "pop.example.org").string();
    ASSERT_EQ(state.ExternalMailDirs, std::vector<std::string>{outside});
    EXPECT_EQ(EntryText(state.BackupFile, "indexfile.txt"),
              "Tessarin Vault\r\nRevize: 3\r\nVerze: \r\n" + Sep + "\r\nNYNNNNNNNNNNNN\r\n" + Sep +
                  "\r\n" + outside + "\r\n" + Sep + "\r\n" + Sep + "\r\n");
}

TEST_F(BackupRunTest, AccountsSettingsOnlyKeepsSettingsAndLeavesMailboxesOut)
{
    const TRealProfile p = CopyRealProfile("thunderbird", temp.Path() / "tb");
    state.AppNumber = 3;
    state.ProfileDir = p.Folder();
    state.BackupFile = documents + "accounts.pcv";
    ResetComponentBoxes(state);
    state.Boxes[2].Checked = true;
    SetAccountsSettingsOnly(state, true);

    RunBackup(state, ui, false);

    EXPECT_THAT(EntryNames(state.BackupFile),
                ElementsAreArray({
                    "ImapMail/imap.example.com/msgFilterRules.dat",
                    "Mail/Feeds/msgFilterRules.dat",
                    "Mail/Local Folders/msgFilterRules.dat",
                    "folderTree.json",
                    "indexfile.txt",
                    "panacea.dat",
                    "pop.example.org/Inbox.msf",
                    "pop.example.org/Sent.msf",
                    "pop.example.org/msgFilterRules.dat",
                    "pop.example.org/popstate.dat",
                    "prefs.js",
                    "training.dat",
                    "traits.dat",
                    "virtualFolders.dat",
                }));
    EXPECT_NE(EntryText(state.BackupFile, "indexfile.txt").find("\r\nNNNNNNNNNNNNNN\r\n"),
              std::string::npos);
}

TEST_F(BackupRunTest, PasswordEncryptsEveryEntryAndTheIndexReadsBack)
{
    const TRealProfile p = CopyRealProfile("firefox", temp.Path() / "ff");
    state.AppNumber = 2;
    state.ProfileDir = p.Folder();
    state.BackupFile = documents + "secret.pcv";
    state.Password = "correct horse";
    Choose(state, {9, 13});

    RunBackup(state, ui, false);

    const auto entries = ArchiveEntries(state.BackupFile);
    ASSERT_FALSE(entries.empty());
    for (const auto& [name, encrypted] : entries)
        EXPECT_TRUE(encrypted) << name;

    // A later run of the program knows no password: it asks once.
    TSharedState restore(env.Env);
    restore.AppNumber = 2;
    TFakeUserInterface asking;
    asking.Passwords = {std::optional<std::string>("correct horse")};
    ASSERT_TRUE(CheckBackupFile(state.BackupFile, restore, asking));
    EXPECT_EQ(restore.BackupFormat, 2);
    EXPECT_TRUE(BackupMatchesApplication(state.BackupFile, 2, restore, asking));
    EXPECT_TRUE(restore.Boxes[9].Checked && restore.Boxes[13].Checked);
    EXPECT_FALSE(restore.Boxes[1].Enabled);
    EXPECT_EQ(std::count(asking.Calls.begin(), asking.Calls.end(), "AskPassword"), 1);
}

TEST_F(BackupRunTest, UsersOwnIndexFilesSurviveBackupAndChecks)
{
    const TRealProfile p = CopyRealProfile("firefox", temp.Path() / "ff");
    temp.Write("ff/x7k2m9qa.default-esr/indexfile.txt", "mine in the profile");
    temp.Write("home/Documents/indexfile.txt", "mine in documents");
    state.AppNumber = 2;
    state.ProfileDir = p.Folder();
    state.BackupFile = documents + "b.pcv";
    Choose(state, {10});

    RunBackup(state, ui, false);
    ASSERT_FALSE(state.BackupFailed);
    ASSERT_TRUE(CheckBackupFile(state.BackupFile, state, ui));
    ReadBackupIndex(state, ui);

    EXPECT_EQ(ReadFile(p.Profile / "indexfile.txt"), "mine in the profile");
    EXPECT_EQ(ReadFile(documents + "indexfile.txt"), "mine in documents");
    // The backup's own index is the run's, not the user's file.
    EXPECT_EQ(EntryText(state.BackupFile, "indexfile.txt").rfind("Tessarin Vault\r\n", 0), 0u);
}

TEST_F(BackupRunTest, UnknownItemWithALineBreakInItsNameCannotGarbleTheIndex)
{
    const TRealProfile p = CopyRealProfile("firefox", temp.Path() / "ff");
    // A text reader ends a line at CR LF, at LF and at a bare CR alike.
    const std::vector<std::string> odd = {"two\r\nfile\r\nlines", "bare\rcr", "bare\nlf"};
    state.ChosenUnknownItems = {"notes-from-user.txt", "my-scripts"};
    for (const std::string& name : odd) {
        std::ofstream(p.Profile / name) << "odd";
        ASSERT_TRUE(fs::is_regular_file(p.Profile / name));
        state.ChosenUnknownItems.push_back(name);
    }
    state.AppNumber = 2;
    state.ProfileDir = p.Folder();
    state.BackupFile = documents + "b.pcv";
    Choose(state, {10});
    RunBackup(state, ui, false);
    ASSERT_FALSE(state.BackupFailed);
    for (const std::string& name : odd)
        EXPECT_EQ(std::count(ui.TaskLines.begin(), ui.TaskLines.end(),
                             name + ": a line break in the name cannot be kept; left out"),
                  1);

    TSharedState restore(env.Env);
    restore.AppNumber = 2;
    ASSERT_TRUE(CheckBackupFile(state.BackupFile, restore, ui));
    restore.BackupFile = state.BackupFile;
    ReadBackupIndex(restore, ui);
    ASSERT_EQ(restore.UnknownItems.size(), 2u);
    EXPECT_EQ(restore.UnknownItems[0].GetName(), "my-scripts");
    EXPECT_TRUE(restore.UnknownItems[0].IsFolder());
    EXPECT_EQ(restore.UnknownItems[1].GetName(), "notes-from-user.txt");
    EXPECT_FALSE(restore.UnknownItems[1].IsFolder());
}

TEST_F(BackupRunTest, UnknownItemSpelledLikeTheIndexCannotHideIt)
{
    // Entry names are matched without regard to case: a second "indexfile.txt" in
    // another spelling made every later check find two indexes and refuse the backup.
    const TRealProfile p = CopyRealProfile("firefox", temp.Path() / "ff");
    temp.Write("ff/x7k2m9qa.default-esr/IndexFile.TXT", "the user's own");
    state.AppNumber = 2;
    state.ProfileDir = p.Folder();
    state.BackupFile = documents + "b.pcv";
    Choose(state, {10});
    state.ChosenUnknownItems = {"IndexFile.TXT", "notes-from-user.txt"};
    RunBackup(state, ui, false);
    ASSERT_FALSE(state.BackupFailed);
    EXPECT_EQ(std::count(ui.TaskLines.begin(), ui.TaskLines.end(),
                         "IndexFile.TXT: has the name of the backup's index; left out"),
              1);
    EXPECT_EQ(ReadFile(p.Profile / "IndexFile.TXT"), "the user's own");

    TSharedState restore(env.Env);
    restore.AppNumber = 2;
    EXPECT_TRUE(CheckBackupFile(state.BackupFile, restore, ui));
    restore.BackupFile = state.BackupFile;
    ReadBackupIndex(restore, ui);
    ASSERT_EQ(restore.UnknownItems.size(), 1u);
    EXPECT_EQ(restore.UnknownItems[0].GetName(), "notes-from-user.txt");
}

TEST_F(BackupRunTest, FailedWriteLeavesTheEarlierBackupUntouched)
{
    const TRealProfile p = CopyRealProfile("firefox", temp.Path() / "ff");
    state.AppNumber = 2;
    state.ProfileDir = p.Folder();
    Choose(state, {1});
    // The output "folder" is a file: nothing can be written there.
    temp.Write("home/Documents/blocker", "x");
    state.BackupFile = documents + "blocker/new.pcv";
    RunBackup(state, ui, false);
    EXPECT_TRUE(state.BackupFailed);
    EXPECT_EQ(ui.ReportText, "Backup wasn't successfully created.");
    EXPECT_TRUE(ui.ReportBold);
    EXPECT_EQ(ReadFile(documents + "blocker"), "x");

    // An earlier backup at the path stays as it was when the new one fails.
    const std::string earlier = "earlier backup bytes";
    temp.Write("home/Documents/old.pcv", earlier);
    state.BackupFile = documents + "old.pcv";
    fs::remove(p.Profile / "prefs.js"); // vanished since the Components page
    RunBackup(state, ui, false);
    EXPECT_TRUE(state.BackupFailed);
    EXPECT_EQ(ReadFile(documents + "old.pcv"), earlier);
    EXPECT_EQ(std::distance(fs::directory_iterator(documents), fs::directory_iterator()), 2);
}

TEST_F(BackupRunTest, SuccessfulRunReplacesAnEarlierBackup)
{
    const TRealProfile p = CopyRealProfile("firefox", temp.Path() / "ff");
    temp.Write("home/Documents/weekly.pcv", "old");
    state.AppNumber = 2;
    state.ProfileDir = p.Folder();
    state.BackupFile = documents + "weekly.pcv";
    Choose(state, {10});
    RunBackup(state, ui, false);
    EXPECT_FALSE(state.BackupFailed);
    EXPECT_THAT(EntryNames(state.BackupFile),
                ElementsAreArray({"cookies.sqlite", "cookies.sqlite-wal", "indexfile.txt",
                                  "storage/default/file++++home+user+notes.html/ls/data.sqlite",
                                  "storage/default/https+++example.com/ls/data.sqlite"}));
    // Nothing else is left behind in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(documents), fs::directory_iterator()), 1);
}

TEST_F(BackupRunTest, CloseDuringTheRunEndsWithoutLeavingFiles)
{
    const TRealProfile p = CopyRealProfile("thunderbird", temp.Path() / "tb");
    temp.Write("home/Documents/keep.pcv", "earlier");
    state.AppNumber = 3;
    state.ProfileDir = p.Folder();
    state.BackupFile = documents + "keep.pcv";
    Choose(state, {2});
    ui.ExitAfterProcessEvents = 3;
    EXPECT_THROW(RunBackup(state, ui, false), TProgramExit);
    EXPECT_EQ(ReadFile(documents + "keep.pcv"), "earlier");
    EXPECT_EQ(std::distance(fs::directory_iterator(documents), fs::directory_iterator()), 1);
}

TEST_F(BackupRunTest, BackupFileChecksRefuseWhatIsNoBackup)
{
    state.AppNumber = 2;
    EXPECT_FALSE(CheckBackupFile(documents + "missing.pcv", state, ui));
    temp.Write("home/Documents/garbage.pcv", std::string(1000, '\x7f'));
    EXPECT_FALSE(CheckBackupFile(documents + "garbage.pcv", state, ui));
    temp.Write("home/Documents/badrev.pcv", "Tessarin Vault\r\nRevize: abc\r\n");
    EXPECT_FALSE(CheckBackupFile(documents + "badrev.pcv", state, ui));
    const std::string legacy = "Tessarin Vault\r\nRevize: 2\r\nVerze: \r\n" + Sep +
                               "\r\nYNNNNNNNNNN\r\n" + Sep + "\r\nNastaveni\r\nprefs.js\r\n";
    temp.Write("home/Documents/legacy.txt", legacy);
    ASSERT_TRUE(CheckBackupFile(documents + "legacy.txt", state, ui));
    EXPECT_EQ(state.BackupFormat, 1);
    // For another application a legacy file is no backup at all.
    state.AppNumber = 3;
    EXPECT_FALSE(CheckBackupFile(documents + "legacy.txt", state, ui));
    EXPECT_TRUE(ui.CallsOf("Warning").empty());
}

TEST_F(BackupRunTest, LegacyBackupIndexIsReadFromItsHeaderAlone)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit below";
#else
    // A legacy backup carries whole mailboxes as text after its header: one of
    // 1.5 GB (sparse here) must not be loaded to read six lines.
    const std::string legacy = "Tessarin Vault\r\nRevize: 3\r\nVerze: \r\n" + Sep +
                               "\r\nYYNNNNNNNNN\r\n" + Sep + "\r\nMail\r\nInbox\r\n\r\n";
    temp.Write("home/Documents/big.txt", legacy);
    fs::resize_file(documents + "big.txt", 1536ull << 20);
    state.AppNumber = 3;
    ASSERT_TRUE(CheckBackupFile(documents + "big.txt", state, ui));
    ASSERT_EQ(state.BackupFormat, 1);
    state.BackupFile = documents + "big.txt";
    const auto readUnderLimit = [&] {
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = 512ull << 20;
        ::setrlimit(RLIMIT_AS, &limit);
        ReadBackupIndex(state, ui);
        const bool right =
            state.BackupAppNumber == 3 && state.Boxes[2].Checked && !state.Boxes[3].Checked;
        ::_exit(right ? 0 : 2);
    };
    EXPECT_EXIT(readUnderLimit(), ::testing::ExitedWithCode(0), "");
#endif
}

TEST_F(BackupRunTest, StorageIsSplitIntoSiteDataAndAddOnDataAndItsCachesStayOut)
{
    const TRealProfile p = CopyRealProfile("firefox", temp.Path() / "ff");
    const std::string addOn = "storage/default/moz-extension+++3b9a5d1e-7c2f-4e8a-b1d6-"
                              "5f0c9e2a4b7d^userContextId=4294967295/";
    struct Case {
        std::vector<int> Boxes;
        std::vector<std::string> Stored;
    };
    const Case cases[] = {
        {{10},
         {"storage/default/file++++home+user+notes.html/ls/data.sqlite",
          "storage/default/https+++example.com/ls/data.sqlite"}},
        {{14}, {addOn + ".metadata-v2", addOn + "idb/3647222921wleabcEoxlt-eengsairo.sqlite"}},
        {{1, 3, 4, 5, 6, 8, 9, 11, 12, 13, 15}, {}},
    };
    int run = 0;
    for (const Case& c : cases) {
        state.AppNumber = 2;
        state.ProfileDir = p.Folder();
        state.BackupFile = documents + "run" + std::to_string(++run) + ".pcv";
        ResetComponentBoxes(state);
        for (int n : c.Boxes)
            state.Boxes[n].Checked = true;
        RunBackup(state, ui, false);
        ASSERT_FALSE(state.BackupFailed) << run;
        std::vector<std::string> stored;
        for (const std::string& name : EntryNames(state.BackupFile))
            if (name.rfind("storage", 0) == 0) // storage/ and storage.sqlite
                stored.push_back(name);
        EXPECT_EQ(stored, c.Stored) << run;
    }
}

TEST_F(BackupRunTest, ArchiveDamagedAfterTheWriteLeavesTheEarlierBackupAndSaysWhich)
{
    const TRealProfile p = CopyRealProfile("firefox", temp.Path() / "ff");
    for (const bool batch : {false, true}) {
        SCOPED_TRACE(batch ? "batch" : "wizard");
        TFakeUserInterface runUi;
        const std::string earlier = "earlier backup bytes";
        temp.Write("home/Documents/daily.pcv", earlier);
        state.AppNumber = 2;
        state.Operation = TOperation::Backup;
        state.ProfileDir = p.Folder();
        state.BackupFile = documents + "daily.pcv";
        state.Password = batch ? "secret" : "";
        Choose(state, {1});
        SetBackupWrittenHook([](const std::string& path) { FlipByteInEntry(path, "prefs.js"); });
        RunBackup(state, runUi, batch);
        SetBackupWrittenHook(nullptr);

        EXPECT_TRUE(state.BackupFailed);
        EXPECT_EQ(ReadFile(state.BackupFile), earlier);
        EXPECT_EQ(std::distance(fs::directory_iterator(documents), fs::directory_iterator()), 1);
        EXPECT_EQ(runUi.ReportText, "Backup wasn't successfully created.");
        // The entry is named where the person looks: a box and the task list, or the
        // error log (and stderr) of a batch run.
        const auto namesEntry = ::testing::HasSubstr("(prefs.js: ");
        if (batch) {
            EXPECT_THAT(env.Log(), namesEntry);
            EXPECT_THAT(runUi.CallsOf("Warning"), ::testing::IsEmpty());
        } else {
            EXPECT_THAT(runUi.CallsOf("Warning"), ::testing::ElementsAre(namesEntry));
            EXPECT_THAT(runUi.TaskLines, ::testing::Contains(namesEntry));
        }
    }
}

TEST_F(BackupRunTest, NextBackupCopiesUnchangedEntriesAndWritesAnewWhenTheEarlierIsDamaged)
{
    const TRealProfile p = CopyRealProfile("firefox", temp.Path() / "ff");
    state.AppNumber = 2;
    state.Operation = TOperation::Backup;
    state.ProfileDir = p.Folder();
    state.BackupFile = documents + "daily.pcv";
    state.Password = "secret";
    Choose(state, {1});
    int writes = 0;
    SetBackupWrittenHook([&writes](const std::string&) { ++writes; });
    RunBackup(state, ui, false);
    ASSERT_FALSE(state.BackupFailed);
    const std::string first = StoredBytes(state.BackupFile, "prefs.js");

    RunBackup(state, ui, false);
    EXPECT_FALSE(state.BackupFailed);
    EXPECT_EQ(writes, 2);
    // Copied as stored: a file encrypted anew would have a new salt.
    EXPECT_TRUE(StoredBytes(state.BackupFile, "prefs.js") == first);

    // Damaged since; its directory still promises the right CRC.
    ASSERT_TRUE(FlipByteInEntry(state.BackupFile, "prefs.js"));
    RunBackup(state, ui, false);
    SetBackupWrittenHook(nullptr);
    EXPECT_FALSE(state.BackupFailed);
    EXPECT_EQ(writes, 4); // copied, found damaged when read back, written anew
    EXPECT_TRUE(StoredBytes(state.BackupFile, "prefs.js") != first);
    EXPECT_EQ(EntryText(state.BackupFile, "prefs.js", "secret"), ReadFile(p.Folder() + "prefs.js"));
    EXPECT_THAT(ui.CallsOf("Warning"), ::testing::IsEmpty());
    EXPECT_EQ(ui.ReportText, "The backup was created. You can read the report below:");
}

namespace {

// A real database with an index over a thousand rows; damage overwrites one of its
// later pages (index pages by then) with garbage.
void MakeDatabase(const fs::path& path, bool damage)
{
    fs::remove(path);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA page_size=1024; CREATE TABLE moz_places(url TEXT);"
                           "CREATE INDEX url_index ON moz_places(url);"
                           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<1000)"
                           " INSERT INTO moz_places SELECT 'https://example.org/' || i FROM n;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    if (!damage)
        return;
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    const auto size = static_cast<std::streamoff>(fs::file_size(path));
    f.seekp(size - 3 * 1024 + 100);
    const std::string garbage(600, '\x5a');
    f.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
}

} // namespace

TEST_F(BackupRunTest, DamagedDatabaseFailsTheBackupAndRunTimeFilesStayOut)
{
    const TRealProfile p = CopyRealProfile("firefox", temp.Path() / "ff");
    const std::string earlier = "earlier backup bytes";
    temp.Write("home/Documents/daily.pcv", earlier);
    temp.Write("ff/x7k2m9qa.default-esr/MarionetteActivePort", "2828");
    state.AppNumber = 2;
    state.Operation = TOperation::Backup;
    state.ProfileDir = p.Folder();
    state.BackupFile = documents + "daily.pcv";
    Choose(state, {1, 4});
    for (const TUnknowItem& item : TUnknowFilesBL(env.Env.Folders).FindUnknownItems(p.Folder()))
        state.ChosenUnknownItems.push_back(item.GetName());
    EXPECT_THAT(state.ChosenUnknownItems, ::testing::Not(::testing::Contains("MarionetteActivePort")));
    state.ChosenUnknownItems.push_back("MarionetteActivePort"); // even when asked for

    MakeDatabase(p.Profile / "places.sqlite", true);
    TFakeUserInterface runUi;
    RunBackup(state, runUi, false);
    EXPECT_TRUE(state.BackupFailed);
    EXPECT_EQ(ReadFile(state.BackupFile), earlier);
    EXPECT_THAT(runUi.CallsOf("Warning"), ::testing::ElementsAre(::testing::HasSubstr("(places.sqlite: ")));

    MakeDatabase(p.Profile / "places.sqlite", false);
    RunBackup(state, ui, false);
    EXPECT_FALSE(state.BackupFailed);
    const auto names = EntryNames(state.BackupFile);
    EXPECT_THAT(names, ::testing::Contains("places.sqlite"));
    EXPECT_THAT(names, ::testing::Not(::testing::Contains("MarionetteActivePort")));
}

TEST_F(BackupRunTest, OutputNameAsLongAsTheFileSystemAllowsIsWritten)
{
    const TRealProfile p = CopyRealProfile("firefox", temp.Path() / "ff");
    state.AppNumber = 2;
    state.ProfileDir = p.Folder();
    state.BackupFile = documents + std::string(255 - 4, 'n') + ".pcv";
    Choose(state, {1});
    RunBackup(state, ui, false);
    EXPECT_FALSE(state.BackupFailed) << ::testing::PrintToString(ui.Calls);
    EXPECT_THAT(EntryNames(state.BackupFile), ::testing::Contains("prefs.js"));
    EXPECT_EQ(std::distance(fs::directory_iterator(documents), fs::directory_iterator()), 1);
}

TEST_F(BackupRunTest, BackupWrittenIntoTheProfileIsNeverStoredByTheNextOne)
{
    const TRealProfile p = CopyRealProfile("firefox", temp.Path() / "ff");
    state.AppNumber = 2;
    state.ProfileDir = p.Folder();
    state.BackupFile = p.Folder() + "self.pcv";
    Choose(state, {1});
    for (const bool first : {true, false}) {
        // As batch mode does: every unknown item, the earlier backup and a link to it too.
        state.ChosenUnknownItems.clear();
        for (const TUnknowItem& item : FillUnknownFilesForBackup(env.Env.Folders, state.ProfileDir))
            state.ChosenUnknownItems.push_back(item.GetName());
        RunBackup(state, ui, true);
        ASSERT_FALSE(state.BackupFailed);
        if (first)
            fs::create_hard_link(state.BackupFile, p.Profile / "self-copy.pcv");
    }
    const std::vector<std::string> names = EntryNames(state.BackupFile);
    EXPECT_THAT(names, ::testing::Contains("notes-from-user.txt"));
    EXPECT_THAT(names, ::testing::Not(::testing::Contains(::testing::HasSubstr(".pcv"))));
    EXPECT_EQ(EntryText(state.BackupFile, "indexfile.txt").find(".pcv"), std::string::npos);
    // It holds keys and passwords: nobody else may read it.
    const fs::perms othersAccess = fs::perms::group_all | fs::perms::others_all;
    EXPECT_EQ(fs::status(state.BackupFile).permissions() & othersAccess, fs::perms::none);
}

TEST_F(BackupRunTest, IndexLargerThanAnyRealOneIsNoBackup)
{
    state.AppNumber = 2;
    for (const std::size_t size : {std::size_t{1} << 20, (std::size_t{1} << 20) + 1}) {
        std::string index = "Tessarin Vault\r\nRevize: 2\r\n";
        index.resize(size, ' ');
        const std::string path = documents + std::to_string(size) + ".pcv";
        int error = 0;
        zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        ASSERT_NE(za, nullptr);
        ASSERT_GE(zip_file_add(za, "indexfile.txt",
                               zip_source_buffer(za, index.data(), index.size(), 0), 0),
                  0);
        ASSERT_EQ(zip_close(za), 0);
        EXPECT_EQ(CheckBackupFile(path, state, ui), size <= (std::size_t{1} << 20)) << size;
    }
    EXPECT_TRUE(ui.CallsOf("Warning").empty());
}

TEST_F(BackupRunTest, UnreadableBackupIsAnInputOutputErrorAndStaysAsItWas)
{
    if (RerunUnprivileged())
        return;
    const std::string path = documents + "locked.pcv";
    temp.Write("home/Documents/locked.pcv", "PK\x03\x04 not readable");
    fs::permissions(path, fs::perms::none);
    state.AppNumber = 2;
    EXPECT_THROW(CheckBackupFile(path, state, ui), TProgramExit);
    EXPECT_EQ(ui.CallsOf("Warning"),
              std::vector<std::string>{Text("TForm1", "LANG_WARNING") + "|" +
                                       Text("TForm1", "LANG_NOT_FOUND") + "\n" + path + ": " +
                                       std::strerror(EACCES)});
    fs::permissions(path, fs::perms::owner_read);
    EXPECT_EQ(ReadFile(path), "PK\x03\x04 not readable");
}
