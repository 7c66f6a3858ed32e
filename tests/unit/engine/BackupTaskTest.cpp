#include "engine/BackupTask.h"
#include "support/FakeUserInterface.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tessarin;
using tessarin::test::TFakeUserInterface;
using tessarin::test::RerunUnprivileged;
using tessarin::test::TTempDir;

namespace {
std::vector<std::string> Sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}
} // namespace

TEST(BackupTask, WholeTreeSkipsMozmsgsAndCountsDuplicatesTwice)
{
    TTempDir dir;
    dir.Write("places.sqlite", "12345");
    dir.Write("Mail/Local Folders/Inbox", "mail");
    dir.Write("Mail/Local Folders/Inbox.msf", "m");
    dir.Write("Mail/Local Folders/Inbox.mozmsgs/x.eml", "skip");
    TFakeUserInterface ui;
    TBackupTask task(dir.Folder(), ui);
    task.AddProfileFile("places.sqlite");
    task.AddProfileFile("places.sqlite");
    task.AddProfileFile("missing.sqlite");
    task.AddFolder("Mail", "*.*");
    EXPECT_EQ(Sorted(task.Files()), Sorted({"places.sqlite", "places.sqlite", "Mail/Local Folders/Inbox",
                                            "Mail/Local Folders/Inbox.msf"}));
    EXPECT_EQ(task.TotalSize(), 5u + 5u + 4u + 1u);
    EXPECT_GT(ui.ProcessEventsCalls, 0);
}

TEST(BackupTask, MaskWithoutMatchLooksOneLevelDown)
{
    // Accounts only: Mail holds no *.dat itself, its account folders do.
    TTempDir dir;
    dir.Write("Mail/pop.example.com/popstate.dat", "p");
    dir.Write("Mail/pop.example.com/Inbox", "big mailbox");
    dir.Write("Mail/Local Folders/filterlog.html", "x");
    dir.Write("Mail/Local Folders/deep/rules.dat", "r");
    TFakeUserInterface ui;
    TBackupTask task(dir.Folder(), ui);
    task.AddFolder("Mail", "*.dat");
    EXPECT_EQ(Sorted(task.Files()),
              Sorted({"Mail/pop.example.com/popstate.dat", "Mail/Local Folders/deep/rules.dat"}));
}

TEST(BackupTask, MasksMatchAsTheRestoreMatchesThem)
{
    TTempDir dir;
    dir.Write("ImapMail/imap.gmail.com/[Gmail].msf", "g");
    dir.Write("ImapMail/imap.gmail.com/G.msf", "not this one");
    TFakeUserInterface ui;
    TBackupTask task(dir.Folder(), ui);
    task.AddFolder("ImapMail/imap.gmail.com", "[Gmail]*");
    EXPECT_EQ(task.Files(), std::vector<std::string>{"ImapMail/imap.gmail.com/[Gmail].msf"});
}

TEST(BackupTask, OutsideFilesAreExternalWithTheFolderNameInFront)
{
    TTempDir profile;
    TTempDir post;
    post.Write("Work/Inbox", "in");
    post.Write("Work/Inbox.msf", "i");
    TFakeUserInterface ui;
    TBackupTask task(profile.Folder(), ui);
    task.WalkFolder("Work", "*.*", post.Folder());
    ASSERT_EQ(task.Externals().size(), 2u);
    for (const auto& e : task.Externals()) {
        EXPECT_EQ(e.Root, post.Folder());
        EXPECT_EQ(e.RelativeName.rfind("Work/", 0), 0u);
    }
    EXPECT_TRUE(task.Files().empty());
    EXPECT_EQ(task.TotalSize(), 3u);
}

TEST(BackupTask, FolderLinksAreFollowedOnceAndLoopsAreNamed)
{
    // Local Folders moved to another disk and linked back; a second link to it, a link
    // back up the tree and one to "/" must neither store it twice nor hang the walk.
    TTempDir dir;
    TTempDir disk;
    dir.Write("Mail/pop/Inbox", "pop");
    disk.Write("Local Folders/Inbox", "local");
    fs::create_directory_symlink(disk.Path() / "Local Folders", dir.Path() / "Mail/Local Folders");
    fs::create_directory_symlink(disk.Path() / "Local Folders", dir.Path() / "Mail/Twin");
    fs::create_directory_symlink(dir.Path() / "Mail", disk.Path() / "Local Folders/up");
    fs::create_directory_symlink("/", dir.Path() / "Mail/root");
    ASSERT_EQ(::mkfifo((dir.Path() / "Mail/fifo").c_str(), 0600), 0);
    TFakeUserInterface ui;
    TBackupTask task(dir.Folder(), ui);
    task.AddFolder("Mail", "*.*");
    EXPECT_EQ(Sorted(task.Files()), Sorted({"Mail/Local Folders/Inbox", "Mail/pop/Inbox"}));
    const std::string why = ": link to a folder stored already; not followed";
    EXPECT_EQ(Sorted(ui.TaskLines),
              Sorted({"Mail/Twin" + why, "Mail/root" + why, "Mail/Local Folders/up" + why}));
}

TEST(BackupTask, UnreadableFileStopsWithItsName)
{
    if (RerunUnprivileged())
        return;
    TTempDir dir;
    const auto p = dir.Write("key4.db", "secret");
    fs::permissions(p, fs::perms::none);
    TFakeUserInterface ui;
    TBackupTask task(dir.Folder(), ui);
    try {
        task.AddProfileFile("key4.db");
        FAIL() << "expected TRunError";
    } catch (const TRunError& e) {
        EXPECT_NE(std::string(e.what()).find("key4.db"), std::string::npos);
    }
}

TEST(BackupTask, CloseRequestDuringWalkPropagates)
{
    TTempDir dir;
    dir.Write("ImapMail/a/b/c", "x");
    TFakeUserInterface ui;
    ui.ExitAfterProcessEvents = 1;
    TBackupTask task(dir.Folder(), ui);
    EXPECT_THROW(task.AddFolder("ImapMail", "*.*"), TProgramExit);
}

TEST(BackupTask, SubfoldersTakeEverythingBelowTheMatchingFoldersOnly)
{
    TTempDir dir;
    TTempDir elsewhere;
    dir.Write("storage/default/https+++a.example/.metadata-v2", "m");
    dir.Write("storage/default/https+++a.example/ls/data.sqlite", "ls");
    dir.Write("storage/default/https+++b.example^userContextId=1/idb/1.files/7", "blob");
    dir.Write("storage/default/http+++c.example/ls/data.sqlite", "not https");
    dir.Write("storage/default/https+++beside", "a file, not a folder");
    dir.Write("storage/temporary/https+++a.example/idb/x.sqlite", "other parent");
    elsewhere.Write("https+++linked/secret", "outside");
    fs::create_directory_symlink(elsewhere.Path(), dir.Path() / "storage/default/https+++linked");
    TFakeUserInterface ui;
    TBackupTask task(dir.Folder(), ui);
    task.AddSubfolders("storage/default", "https+++*");
    task.AddSubfolders("storage/missing", "*");
    EXPECT_EQ(Sorted(task.Files()),
              Sorted({"storage/default/https+++a.example/.metadata-v2",
                      "storage/default/https+++a.example/ls/data.sqlite",
                      "storage/default/https+++b.example^userContextId=1/idb/1.files/7"}));
    EXPECT_EQ(task.TotalSize(), 1u + 2u + 4u);
}
