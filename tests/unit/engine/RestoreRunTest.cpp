#include "engine/BackupFileCheck.h"
#include "engine/BackupFormat.h"
#include "engine/BackupRun.h"
#include "engine/Components.h"
#include "engine/OutsideMail.h"
#include "engine/PrefsParser.h"
#include "engine/RestoreRun.h"
#include "platform/IniFile.h"
#include "profiles/Catalogue.h"
#include "profiles/RunningCheck.h"

#include "BackupRunTestSupport.h"

#include <gmock/gmock.h>

#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tessarin;
using namespace tessarin::test;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

void Choose(TSharedState& state, std::initializer_list<int> boxes)
{
    ResetComponentBoxes(state);
    for (int n : boxes)
        state.Boxes[n].Checked = true;
}

std::vector<std::string> FilesBelow(const fs::path& folder)
{
    std::vector<std::string> out;
    if (!fs::exists(folder))
        return out;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file())
            out.push_back(e.path().lexically_relative(folder).string());
    std::sort(out.begin(), out.end());
    return out;
}

zip_t* NewZip(const fs::path& path)
{
    int err = 0;
    return zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
}

void AddText(zip_t* za, const std::string& name, const std::string& text)
{
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    std::memcpy(copy, text.data(), text.size());
    zip_source_t* src = zip_source_buffer(za, copy, text.size(), 1);
    ASSERT_GE(zip_file_add(za, name.c_str(), src, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE), 0) << name;
}

} // namespace

class RestoreRunTest : public BackupRunTest {
protected:
    // Backs the fixture profile up with the given components; returns the archive.
    std::string Backup(const std::string& app, int appNumber, std::initializer_list<int> boxes,
                       const std::string& password = {})
    {
        const TRealProfile p = CopyRealProfile(app, temp.Path() / ("source-" + app));
        source = p;
        TSharedState s(env.Env);
        s.AppNumber = static_cast<std::uint8_t>(appNumber);
        s.Operation = TOperation::Backup;
        s.ProfileDir = p.Folder();
        s.BackupFile = documents + app + ".pcv";
        s.Password = password;
        Choose(s, boxes);
        TFakeUserInterface backupUi;
        RunBackup(s, backupUi, true);
        EXPECT_FALSE(s.BackupFailed);
        return s.BackupFile;
    }

    // Reads the backup as the Profile selection page does, then restores the chosen
    // components into target as application appNumber.
    void Restore(const std::string& archive, int appNumber, const fs::path& target,
                 std::initializer_list<int> boxes)
    {
        state.Operation = TOperation::Restore;
        state.AppNumber = static_cast<std::uint8_t>(appNumber);
        ASSERT_TRUE(CheckBackupFile(archive, state, ui));
        state.BackupFile = archive;
        ReadBackupIndex(state, ui); // any application: the skips are under test
        Choose(state, boxes);
        state.ExternalProfileDir = target.string();
        RunRestore(state, ui);
    }

    std::string Target(const std::string& name = "target") const
    {
        return (temp.Path() / name).string();
    }

    TRealProfile source;
};

TEST_F(RestoreRunTest, FirefoxRoundTripGivesEveryStoredFileBackByteForByte)
{
    const std::string archive = Backup("firefox", 2, {1, 4, 5, 8, 9, 10, 11, 13, 14});
    const fs::path target = Target("new.profile");
    Restore(archive, 2, target, {1, 4, 5, 8, 9, 10, 11, 13, 14});

    EXPECT_FALSE(state.BackupFailed);
    EXPECT_EQ(ui.ReportText, Text("TForm1", "LANG_BACKUP_RESTOR"));
    EXPECT_EQ(ui.ProgressMaximum, 100);
    EXPECT_EQ(ui.Positions.back(), 100);
    // Rebuilt by Firefox; stale copies would carry the old profile's paths.
    const std::set<std::string> dropped = {"indexfile.txt", "prefs.js", "addonStartup.json.lz4"};
    int compared = 0;
    for (const std::string& name : EntryNames(archive)) {
        if (dropped.count(name) || name.back() == '/')
            continue;
        EXPECT_EQ(ReadFile(target / name), EntryText(archive, name)) << name;
        ++compared;
    }
    EXPECT_GT(compared, 20);
    EXPECT_FALSE(fs::exists(target / "addonStartup.json.lz4"));
    EXPECT_FALSE(fs::exists(target / "indexfile.txt"));

    const std::string prefs = ReadFile(target / "prefs.js");
    EXPECT_THAT(prefs, HasSubstr("user_pref(\"browser.download.dir\""));
    EXPECT_THAT(prefs, Not(HasSubstr("\n\r\n"))) << "no empty lines";
    EXPECT_THAT(prefs, Not(HasSubstr("user_pref(\"mail."))) << "a browser holds no mail settings";
}

TEST_F(RestoreRunTest, EachComponentRestoresOnlyItsFiles)
{
    const std::string archive = Backup("firefox", 2, {1, 4, 5, 8, 9, 10, 11, 13, 14});
    struct Case {
        int Component;
        std::vector<std::string> Present;
        std::vector<std::string> Absent;
    };
    const Case cases[] = {
        {4, {"places.sqlite", "bookmarkbackups"}, {"prefs.js", "cookies.sqlite", "key4.db"}},
        {9, {"logins.json", "key4.db"}, {"places.sqlite", "cert9.db", "prefs.js"}},
        {10, {"cookies.sqlite", "storage/default/https+++example.com/ls/data.sqlite"},
         {"places.sqlite", "logins.json"}},
        {13, {"cert9.db", "pkcs11.txt", "cert_override.txt"}, {"logins.json"}},
    };
    for (const Case& c : cases) {
        const fs::path target = Target("only-" + std::to_string(c.Component));
        ui = TFakeUserInterface();
        Restore(archive, 2, target, {c.Component});
        for (const std::string& name : c.Present)
            EXPECT_TRUE(fs::exists(target / name)) << c.Component << ": " << name;
        for (const std::string& name : c.Absent)
            EXPECT_FALSE(fs::exists(target / name)) << c.Component << ": " << name;
        EXPECT_EQ(ui.TaskLines, std::vector<std::string>{ComponentReportLine(c.Component)});
    }
}

TEST_F(RestoreRunTest, ComponentsOfAnotherKindOfApplicationAreSkippedSilently)
{
    // A Firefox backup into Thunderbird, and a Thunderbird backup into Firefox.
    const std::string firefox = Backup("firefox", 2, {1, 4, 5, 10, 11});
    Restore(firefox, 3, Target("tb"), {1, 4, 5, 10, 11});
    EXPECT_EQ(ui.TaskLines, std::vector<std::string>{ComponentReportLine(1)});
    EXPECT_FALSE(fs::exists(fs::path(Target("tb")) / "places.sqlite"));
    EXPECT_THAT(ReadFile(fs::path(Target("tb")) / "prefs.js"),
                Not(HasSubstr("user_pref(\"browser.")));

    ui = TFakeUserInterface();
    const std::string thunderbird = Backup("thunderbird", 3, {1, 2, 3, 9});
    Restore(thunderbird, 2, Target("ff"), {1, 2, 3, 9});
    EXPECT_EQ(ui.TaskLines,
              (std::vector<std::string>{ComponentReportLine(1), ComponentReportLine(9)}));
    EXPECT_FALSE(fs::exists(fs::path(Target("ff")) / "Mail"));
    EXPECT_FALSE(fs::exists(fs::path(Target("ff")) / "abook.sqlite"));
    EXPECT_EQ(ui.Positions.back(), 100);
}

TEST_F(RestoreRunTest, RestoreIntoAUsedProfileClearsWhatWouldBeReplayedOrIsStale)
{
    const std::string archive = Backup("firefox", 2, {1, 4, 14});
    const fs::path target = Target("used.default");
    // What the target's own Firefox left: a journal of its own places.sqlite, a
    // startup cache, a user style the backup does not restore, a live lock.
    for (const char* name : {"places.sqlite-shm", "places.sqlite-journal", "favicons.sqlite-wal",
                             "startupCache/startupCache.8.little", "chrome/userContent.css",
                             "addonStartup.json.lz4"})
        temp.Write("used.default/" + std::string(name), "stale");
    temp.Write("used.default/prefs.js", "user_pref(\"mine\", true);\n");
    const fs::path cache = fs::path(home) / ".cache/mozilla/firefox/used.default/startupCache";
    fs::create_directories(cache);
    // A profile below the standard root has its startup cache in ~/.cache as well.
    const fs::path root = fs::path(home) / ".mozilla/firefox";
    fs::create_directories(root);
    fs::create_symlink(target, root / "used.default");
    state.ProfileRecords = {{"used", (root / "used.default").string()}};
    state.SelectedProfile = "used";

    Restore(archive, 2, target, {1, 4, 14});

    for (const char* name : {"places.sqlite-shm", "places.sqlite-journal", "favicons.sqlite-wal",
                             "startupCache", "chrome/userContent.css", "addonStartup.json.lz4",
                             "lock"})
        EXPECT_FALSE(fs::exists(target / name)) << name;
    EXPECT_FALSE(fs::exists(cache));
    EXPECT_EQ(ReadFile(target / "places.sqlite-wal"),
              ReadFile(source.Profile / "places.sqlite-wal"))
        << "the backup's own journal is written after the stale one went";
    EXPECT_FALSE(fs::exists(target / "chrome/userChrome.css")) << "styles are component 8's";
}

TEST_F(RestoreRunTest, PrefsOfTheTargetStayWholeWhenTheRestoreDidNotWriteThem)
{
    const std::string archive = Backup("thunderbird", 3, {1, 2, 3});
    const std::string mine = "user_pref(\"mail.server.server1.hostname\", \"mine\");\r\n\r\n";
    temp.Write("tb-used/prefs.js", mine);
    Restore(archive, 3, Target("tb-used"), {3});
    EXPECT_EQ(ReadFile(fs::path(Target("tb-used")) / "prefs.js"), mine);
    EXPECT_TRUE(fs::exists(fs::path(Target("tb-used")) / "abook.sqlite"));

    // Emails alone bring prefs.js back too: the backup's lines of the unchosen
    // components go, as after General settings.
    ui = TFakeUserInterface();
    Restore(archive, 3, Target("tb-mail"), {2});
    const std::string restored = ReadFile(fs::path(Target("tb-mail")) / "prefs.js");
    EXPECT_THAT(restored, HasSubstr("user_pref(\"mail.server."));
    EXPECT_THAT(restored, Not(HasSubstr("user_pref(\"ldap_2."))) << "address books were not chosen";
}

TEST_F(RestoreRunTest, HostileArchiveWritesNothingOutsideAndNamesWhatItSkipped)
{
    const fs::path archive = temp.Path() / "hostile.pcv";
    zip_t* za = NewZip(archive);
    AddText(za, "indexfile.txt",
            "Tessarin Vault\r\nRevize: 2\r\nVerze: \r\n****////\\\\\\\\****\r\nYNNNNNNNNNNNNN\r\n"
            "****////\\\\\\\\****\r\n****////\\\\\\\\****\r\nfile\r\n../escape.txt\r\n"
            "file\r\nlock\r\n****////\\\\\\\\****\r\n");
    AddText(za, "../escape.txt", "x");
    AddText(za, "prefs.js", "user_pref(\"a\", 1);\n");
    AddText(za, "weave/../../escape2.txt", "x");
    AddText(za, "/tmp/absolute.txt", "x");
    AddText(za, "user.js", "x"); // a folder of that name waits in the target
    AddText(za, "lock", "x");
    ASSERT_EQ(zip_close(za), 0);
    const fs::path target = Target("victim/profile");
    fs::create_directories(target / "user.js");
    state.ChosenUnknownItems = {"../escape.txt", "lock"};

    Restore(archive.string(), 2, target, {1});

    EXPECT_EQ(FilesBelow(fs::path(Target("victim"))), std::vector<std::string>{"profile/prefs.js"});
    EXPECT_FALSE(fs::exists(temp.Path() / "escape.txt"));
    EXPECT_FALSE(fs::exists("/tmp/absolute.txt"));
    EXPECT_TRUE(state.BackupFailed);
    EXPECT_EQ(ui.ReportText, Text("Tessarin15", "LANG_RESTORE_FAILED"));
    const std::string notRestored = Text("Tessarin15", "LANG_NOT_RESTORED");
    EXPECT_THAT(ui.TaskLines, Contains(HasSubstr(notRestored + "user.js")));
    EXPECT_THAT(ui.TaskLines, Contains(HasSubstr(notRestored + "weave/../../escape2.txt")));
}

TEST_F(RestoreRunTest, WrongPasswordThenCancelReportsFailureAndWritesNothing)
{
    const std::string archive = Backup("firefox", 2, {1, 4}, "secret");
    ui.Passwords = {std::string("secret")}; // the index read asks once
    state.Operation = TOperation::Restore;
    state.AppNumber = 2;
    ASSERT_TRUE(CheckBackupFile(archive, state, ui));
    state.BackupFile = archive;
    ReadBackupIndex(state, ui);
    state.Password = "wrong";
    ui = TFakeUserInterface();
    ui.Passwords = {std::nullopt};
    state.ExternalProfileDir = Target("locked-out");
    RunRestore(state, ui);

    EXPECT_TRUE(FilesBelow(Target("locked-out")).empty());
    EXPECT_TRUE(state.BackupFailed);
    EXPECT_EQ(ui.ReportText, Text("Tessarin15", "LANG_RESTORE_FAILED"));
    EXPECT_EQ(std::count(ui.Calls.begin(), ui.Calls.end(), "AskPassword"), 1)
        << "a cancel stops the run instead of asking again for every component";
}

TEST_F(RestoreRunTest, ArchiveCutShortIsReportedAsNotRestored)
{
    const std::string archive = Backup("firefox", 2, {1, 4});
    fs::resize_file(archive, fs::file_size(archive) / 2);
    state.Operation = TOperation::Restore;
    state.AppNumber = 2;
    state.BackupFile = archive;
    state.BackupFormat = 2;
    Choose(state, {1, 4});
    state.ExternalProfileDir = Target("cut");
    RunRestore(state, ui);
    EXPECT_TRUE(state.BackupFailed);
    EXPECT_EQ(ui.ReportText, Text("Tessarin15", "LANG_RESTORE_FAILED"));
    EXPECT_EQ(ui.TaskLines.size(), 1u) << "one line, not one per component";
    EXPECT_THAT(ui.TaskLines, Contains(HasSubstr(Text("Tessarin15", "LANG_NOT_RESTORED"))));
    EXPECT_TRUE(FilesBelow(Target("cut")).empty());
}

TEST_F(RestoreRunTest, ProfileHeldByALiveProcessIsTreatedAsRunning)
{
    const std::string archive = Backup("firefox", 2, {4});
    const fs::path target = Target("busy");
    fs::create_directories(target);
    fs::create_symlink("127.0.1.1:+" + std::to_string(::getppid()), target / "lock");
    ui.RetryAnswers = {false};
    EXPECT_THROW(Restore(archive, 2, target, {4}), TProgramExit);
    EXPECT_EQ(ui.CallsOf("RetryCancel").size(), 1u);
    EXPECT_FALSE(fs::exists(target / "places.sqlite"));

    // A lock left by a process that is gone is no obstacle.
    fs::remove(target / "lock");
    fs::create_symlink("127.0.1.1:+999999999", target / "lock");
    ui = TFakeUserInterface();
    Restore(archive, 2, target, {4});
    EXPECT_TRUE(fs::exists(target / "places.sqlite"));

    // Another instance with no lock link but its .parentlock held, as Firefox holds it.
    fs::remove(target / "lock");
    fs::remove(target / "places.sqlite");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        const int fd = ::open((target / ".parentlock").c_str(), O_RDWR | O_CREAT, 0600);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        const char ok = ::fcntl(fd, F_SETLK, &lock) == 0 ? '1' : '0';
        (void)::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, '1');
    EXPECT_TRUE(ProfileInUse(target.string()));
    ui = TFakeUserInterface();
    ui.RetryAnswers = {false};
    EXPECT_THROW(Restore(archive, 2, target, {4}), TProgramExit);
    EXPECT_FALSE(fs::exists(target / "places.sqlite"));
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_FALSE(ProfileInUse(target.string())) << "the lock of a process that is gone";
}

TEST_F(RestoreRunTest, LegacyBackupIsCopiedSectionBySection)
{
    const std::string sep = "****////\\\\\\\\****";
    const std::string header =
        "Tessarin Vault\r\nRevize: 1\r\nVerze: \r\n" + sep + "\r\nYYNNNNYNNNN\r\n" + sep + "\r\n";
    const std::string text =
        header + "Nastaveni\r\nprefs.js\r\n-\r\nuser_pref(\"a\", 1);\r\n\r\nuser_pref(\"b\", 2);\r\n" +
        sep + "\r\n" +
        // An unchosen section: a line naming a chosen one starts that one.
        "Kontakty\r\nabook.mab\r\n-\r\n  Mail  \r\nMail\\Local Folders\\Inbox\r\n-\r\n" +
        "From a@b\r\nKontakty\r\n" + sep + "\r\n" +
        "Uzivatelske styly\r\n..\\..\\evil.css\r\n-\r\nbody{}\r\n" + sep + "\r\n";
    const fs::path backup = temp.Write("old-backup.txt", text);
    const fs::path target = Target("legacy");
    state.BackupFile = backup.string();
    state.BackupFormat = 1;
    state.Operation = TOperation::Restore;
    state.AppNumber = 1;
    state.ExternalProfileDir = target.string();
    Choose(state, {1, 2, 8});
    RunRestore(state, ui);

    EXPECT_EQ(FilesBelow(target), (std::vector<std::string>{"Mail/Local Folders/Inbox", "prefs.js"}));
    // Mail and settings are the person's own: no one else on the machine reads them.
    const fs::perms own = fs::perms::owner_read | fs::perms::owner_write;
    for (const std::string& name : FilesBelow(target))
        EXPECT_EQ(fs::status(target / name).permissions(), own) << name;
    EXPECT_EQ(ReadFile(target / "Mail/Local Folders/Inbox"), "From a@b\r\nKontakty\r\n");
    EXPECT_EQ(ReadFile(target / "prefs.js"), "user_pref(\"a\", 1);\r\nuser_pref(\"b\", 2);\r\n");
    EXPECT_THAT(ui.TaskLines, Contains(Text("TForm1", "LANG_SOUBOR") + "Mail\\Local Folders\\Inbox"));
    EXPECT_THAT(ui.TaskLines, Contains(HasSubstr("..\\..\\evil.css")));
    EXPECT_FALSE(fs::exists(temp.Path() / "evil.css"));

    // Cut inside a section: the file it was writing is not left half-written.
    temp.Write("legacy/prefs.js", "complete\n");
    temp.Write("cut.txt", header + "Nastaveni\r\nprefs.js\r\n-\r\nuser_pref(\"a\", 1);\r\n");
    state.BackupFile = (temp.Path() / "cut.txt").string();
    ui = TFakeUserInterface();
    EXPECT_THROW(RunRestore(state, ui), TProgramExit);
    EXPECT_THAT(ui.CallsOf("Warning"), Contains(HasSubstr(Text("TForm1", "LANG_END_FILE"))));
    EXPECT_EQ(ReadFile(target / "prefs.js"), "complete\n");
}

TEST_F(RestoreRunTest, BackupRecordsItsVersionAndANewerOneIsQuestioned)
{
    const std::string archive = Backup("firefox", 2, {4});
    const std::string lastVersion = TIniFile::FromFile(source.Profile / "compatibility.ini")
                                        .ReadString("Compatibility", "LastVersion");
    const std::string version = lastVersion.substr(0, lastVersion.find('_'));
    ASSERT_FALSE(version.empty());
    EXPECT_THAT(EntryText(archive, "indexfile.txt"), HasSubstr("\r\nVerze: " + version + "\r\n"));

    state.AppNumber = 2;
    state.BackupFile = archive;
    state.BackupFormat = 2;
    ReadBackupIndex(state, ui);
    EXPECT_EQ(state.BackupVersion, version);

    struct Case {
        const char* Installed;
        bool Asked;
    };
    for (const Case c : {Case{"1.0", true}, Case{"999.0esr", false}, Case{"", false}}) {
        InstallRecord(2).Version = c.Installed;
        ui = TFakeUserInterface();
        ui.QuestionAnswers = {false};
        EXPECT_EQ(ConfirmRestoreOfNewerBackup(state, ui), !c.Asked) << c.Installed;
        EXPECT_EQ(ui.CallsOf("Question").size(), c.Asked ? 1u : 0u) << c.Installed;
    }
    EXPECT_LT(CompareVersions("115.8.0esr", "153.0"), 0);
    EXPECT_GT(CompareVersions("153.0.1", "153.0"), 0);
    EXPECT_EQ(CompareVersions("153.0", "153"), 0);
}

TEST_F(RestoreRunTest, OutsideMailFoldersOfOneNameEachGoBackToTheirOwnFolder)
{
    // Two accounts share /a/Work (listed once); a third keeps its mail in /b/Work.
    const TRealProfile p = CopyRealProfile("thunderbird", temp.Path() / "tb");
    const fs::path a = temp.Path() / "a/Work";
    const fs::path b = temp.Path() / "b/Work";
    temp.Write("a/Work/Inbox", "mail of a");
    temp.Write("b/Work/Inbox", "mail of b");
    temp.Write("b/Work/Sent", "sent of b");
    std::ofstream prefs(p.Profile / "prefs.js", std::ios::app);
    for (const auto& [server, folder] : {std::pair{5, a}, std::pair{6, a}, std::pair{7, b}})
        prefs << "user_pref(\"mail.server.server" << server << ".directory\", \""
              << folder.string() << "\");\nuser_pref(\"mail.server.server" << server
              << ".type\", \"pop3\");\n";
    prefs.close();
    TSharedState s(env.Env);
    s.AppNumber = 3;
    s.ProfileDir = p.Folder();
    s.BackupFile = documents + "tb.pcv";
    Choose(s, {1, 2});
    TFakeUserInterface backupUi;
    RunBackup(s, backupUi, true);
    ASSERT_FALSE(s.BackupFailed);
    const std::string pop = (p.Outside / "pop.example.org").string();
    EXPECT_EQ(s.ExternalMailDirs, (std::vector<std::string>{pop, a.string(), b.string()}));
    EXPECT_EQ(EntryText(s.BackupFile, "Work/Inbox"), "mail of a");
    EXPECT_EQ(EntryText(s.BackupFile, "Work~2/Inbox"), "mail of b");

    fs::remove_all(temp.Path() / "a");
    fs::remove_all(temp.Path() / "b");
    Restore(s.BackupFile, 3, Target(), {1, 2});
    EXPECT_EQ(FilesBelow(a), std::vector<std::string>{"Inbox"});
    EXPECT_EQ(ReadFile(a / "Inbox"), "mail of a");
    EXPECT_EQ(FilesBelow(b), (std::vector<std::string>{"Inbox", "Sent"}));
    EXPECT_EQ(ReadFile(b / "Inbox"), "mail of b");
    // Mail folders made anew are their owner's alone.
    for (const fs::path& folder : {a, b})
        EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all) << folder;
    EXPECT_TRUE(ui.CallsOf("Error").empty());
}

namespace {

struct THostileFolder {
    const char* Label;
    std::string Folder;      // as the index and prefs.js name it
    const char* Refusal;     // language key; null: restored
};

std::string ServerValue(const fs::path& prefs, int server, const std::string& field)
{
    const std::string key = "mail.server.server" + std::to_string(server) + "." + field;
    for (const std::string& line : SplitLines(ReadFile(prefs)))
        if (const TPrefsLine pref = ParsePrefsLine(line); pref.Key == key)
            return DecodePrefsPath(pref.Value);
    return {};
}

} // namespace

// One crafted Thunderbird backup naming every kind of place a mail folder must not
// go, beside one real outside mail folder that must still come back.
class OutsideMailRestoreTest : public RestoreRunTest {
protected:
    void SetUp() override
    {
        RestoreRunTest::SetUp();
        const fs::path h(home);
        fs::create_directories(h / ".ssh");
        temp.Write("home/.ssh/authorized_keys", "ssh-ed25519 AAAA mine\n");
        fs::create_symlink(h / ".ssh", h / "link");
        fs::create_directories(h / "Mail/Work");
        temp.Write("home/Mail/Work/Inbox", "old mail"); // a program in the way keeps no x bit
        fs::permissions(h / "Mail/Work/Inbox", fs::perms::owner_all);
        target = Target("tb/q1w2e3r4.restored");
        fs::create_directories(target);
        rows = {
            {"real mail folder", home + "Mail/Work", nullptr},
            {"below a profile root", home + ".thunderbird/Archive", nullptr},
            {"home folder", home.substr(0, home.size() - 1), "LANG_OUTSIDE_HOME"},
            {"ssh keys", home + ".ssh", "LANG_OUTSIDE_HIDDEN"},
            {"autostart", home + ".config/autostart", "LANG_OUTSIDE_HIDDEN"},
            {"link into ~/.ssh", home + "link/keys", "LANG_OUTSIDE_HIDDEN"},
            {"dot-dot segments", home + "Mail/../.ssh/x", "LANG_OUTSIDE_HIDDEN"},
            {"native messaging", home + ".mozilla/native-messaging-hosts", "LANG_OUTSIDE_HIDDEN"},
            {"system folder", "/etc/cron.d", "LANG_OUTSIDE_SYSTEM"},
            {"relative path", "Mail/Rel", "LANG_OUTSIDE_NOT_ABSOLUTE"},
            {"ancestor", temp.Path().string(), "LANG_OUTSIDE_HOLDS_PROFILE"},
            {"the profile itself", target.string(), "LANG_OUTSIDE_IN_PROFILE"},
        };
        if (::geteuid() == 0) {
            fs::create_directories(temp.Path() / "other");
            EXPECT_EQ(::chown((temp.Path() / "other").c_str(), 65534, 65534), 0);
            rows.push_back({"another user's", (temp.Path() / "other").string(),
                            "LANG_OUTSIDE_OTHER_OWNER"});
        }
    }

    void TearDown() override
    {
        // Run as root, a broken rule would have planted this; never leave it behind.
        if (ReadFile("/etc/cron.d/Inbox").starts_with("planted "))
            fs::remove("/etc/cron.d/Inbox");
        RestoreRunTest::TearDown();
    }

    // The backup: each row's folder in the index and as server N+1's directory
    // (the real one written with a trailing "/"), a planted executable in each, an
    // index folder no account names, and unknown items that are masks.
    fs::path MakeBackup(bool encryptOutside)
    {
        std::vector<std::string> folders;
        std::string index = "Tessarin Vault\r\nRevize: 3\r\nVerze: \r\n" + std::string(IndexSeparator) +
                            "\r\nYYNNNNNNNNNNNN\r\n" + std::string(IndexSeparator) + "\r\n";
        std::string prefs;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            folders.push_back(rows[i].Folder);
            const std::string n = std::to_string(i + 1);
            prefs += "user_pref(\"mail.server.server" + n + ".directory\", \"" +
                     EncodePrefsPath(rows[i].Folder + (i == 0 ? "/" : "")) + "\");\n" +
                     "user_pref(\"mail.server.server" + n + ".directory-rel\", \"[ProfD]../../x" +
                     n + "\");\nuser_pref(\"mail.server.server" + n + ".type\", \"none\");\n";
        }
        folders.push_back(home + "Mail/Orphan");
        for (const std::string& folder : folders)
            index += folder + "\r\n";
        index += std::string(IndexSeparator) + "\r\nfile\r\n*\r\nfile\r\na*\r\n" +
                 std::string(IndexSeparator) + "\r\n";
        const fs::path archive = temp.Path() / "crafted.pcv";
        zip_t* za = NewZip(archive);
        AddText(za, "indexfile.txt", index);
        AddText(za, "prefs.js", prefs);
        AddText(za, "places.sqlite", "not for Thunderbird");
        AddText(za, "abc.txt", "unknown");
        AddText(za, "Mail/Local Folders/filter.sh", "#!/bin/sh\n");
        const std::vector<std::string> stored = OutsideMailArchiveNames(folders);
        for (const std::string& name : stored) {
            AddText(za, name + "/Inbox", "planted " + name);
            if (encryptOutside)
                zip_file_set_encryption(za, zip_name_locate(za, (name + "/Inbox").c_str(), 0),
                                        ZIP_EM_AES_256, "secret");
        }
        for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i)
            zip_file_set_external_attributes(za, static_cast<zip_uint64_t>(i), 0, ZIP_OPSYS_UNIX,
                                             (S_IFREG | 06755u) << 16);
        EXPECT_EQ(zip_close(za), 0);
        state.ChosenUnknownItems = {"*", "a*"};
        return archive;
    }

    // The Profile selection page with the crafted backup: a restore of Thunderbird's
    // General settings and Emails into target.
    void ChooseBackup(bool encryptOutside)
    {
        const fs::path archive = MakeBackup(encryptOutside);
        state.Operation = TOperation::Restore;
        state.AppNumber = 3;
        ASSERT_TRUE(CheckBackupFile(archive.string(), state, ui));
        state.BackupFile = archive.string();
        ReadBackupIndex(state, ui);
        Choose(state, {1, 2});
        state.ExternalProfileDir = target.string();
    }

    std::string NotRestoredLine(const THostileFolder& row) const
    {
        return Text("Tessarin15", "LANG_NOT_RESTORED") + row.Folder + ": " +
               Language().GetTextWithArgs("Messages", "LANG_OUTSIDE_NOW_IN_PROFILE",
                                          Text("Messages", row.Refusal), "");
    }

    fs::path target;
    std::vector<THostileFolder> rows;
};

TEST_F(OutsideMailRestoreTest, OnlyAPlausibleMailFolderIsWrittenAndTheQuestionSaysWhere)
{
    const auto sshBefore = FilesBelow(fs::path(home) / ".ssh");
    ASSERT_NO_FATAL_FAILURE(ChooseBackup(false));

    ui.QuestionAnswers = {true};
    ASSERT_TRUE(ConfirmOutsideMailFolders(state, ui));
    const std::string question = ui.CallsOf("Question").at(0);
    const std::size_t refusedPart = question.find(Text("Tessarin15", "LANG_OUTSIDE_MAIL_REFUSED"));
    ASSERT_NE(refusedPart, std::string::npos);
    RunRestore(state, ui);

    EXPECT_TRUE(state.BackupFailed);
    EXPECT_EQ(ui.ReportText, Text("Tessarin15", "LANG_RESTORE_FAILED"));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const THostileFolder& row = rows[i];
        SCOPED_TRACE(row.Label);
        const int server = static_cast<int>(i) + 1;
        const fs::path prefs = target / "prefs.js";
        const std::size_t listed = question.find("\n" + row.Folder + (row.Refusal ? " (" : "\n"));
        ASSERT_NE(listed, std::string::npos);
        if (!row.Refusal) {
            EXPECT_LT(listed, refusedPart);
            const fs::path inbox = fs::path(row.Folder) / "Inbox";
            EXPECT_EQ(ReadFile(inbox).rfind("planted ", 0), 0u);
            EXPECT_EQ(fs::status(inbox).permissions() &
                          (fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec |
                           fs::perms::set_uid | fs::perms::set_gid),
                      fs::perms::none);
            EXPECT_EQ(ServerValue(prefs, server, "directory"), row.Folder);
            continue;
        }
        EXPECT_GT(listed, refusedPart);
        EXPECT_THAT(question, HasSubstr(row.Folder + " (" + Text("Messages", row.Refusal) + ")"));
        EXPECT_THAT(ui.TaskLines, Contains(HasSubstr(NotRestoredLine(row)))) << row.Folder;
        // The account gets an empty folder of its own in the profile.
        const std::string now = ServerValue(prefs, server, "directory");
        EXPECT_TRUE(now.starts_with(target.string() + "/Mail/")) << now;
        EXPECT_TRUE(fs::is_directory(now) && fs::is_empty(now)) << now;
        EXPECT_EQ(ServerValue(prefs, server, "directory-rel"),
                  "[ProfD]" + fs::path(now).lexically_relative(target).string());
    }
    EXPECT_EQ(FilesBelow(fs::path(home) / ".ssh"), sshBefore);
    EXPECT_EQ(ReadFile(fs::path(home) / ".ssh/authorized_keys"), "ssh-ed25519 AAAA mine\n");
    EXPECT_FALSE(fs::exists(fs::path(home) / "Inbox"));
    EXPECT_FALSE(fs::exists(fs::path(home) / ".config"));
    EXPECT_FALSE(fs::exists("/etc/cron.d/Inbox"));
    EXPECT_FALSE(fs::exists(temp.Path() / "Inbox"));
    EXPECT_THAT(ui.TaskLines, Contains(HasSubstr(home + "Mail/Orphan: " +
                                                 Text("Messages", "LANG_OUTSIDE_NO_ACCOUNT"))));
    // Masks as unknown items extract nothing past the component choice.
    EXPECT_FALSE(fs::exists(target / "places.sqlite"));
    EXPECT_FALSE(fs::exists(target / "abc.txt"));
    EXPECT_THAT(ui.TaskLines, Contains(HasSubstr("a*: " + Text("Messages", "LANG_NOT_PLAIN_ITEM"))));
    // Inside the profile a stored set-uid bit is never applied.
    EXPECT_EQ(fs::status(target / "Mail/Local Folders/filter.sh").permissions(),
              static_cast<fs::perms>(0755));
}

TEST_F(OutsideMailRestoreTest, CancelOnThePasswordOfAnOutsideFolderStopsTheRun)
{
    ASSERT_NO_FATAL_FAILURE(ChooseBackup(true));
    ui.Passwords = {std::nullopt};
    RunRestore(state, ui);

    EXPECT_TRUE(state.BackupFailed);
    EXPECT_EQ(ReadFile(fs::path(home) / "Mail/Work/Inbox"), "old mail");
    EXPECT_EQ(std::count(ui.Calls.begin(), ui.Calls.end(), "AskPassword"), 1);
    EXPECT_THAT(ui.TaskLines, Contains(HasSubstr(Text("Messages", "LANG_PASSWORD_STOPPED"))));
    EXPECT_THAT(ui.TaskLines, Not(Contains(Text("Tessarin14", "LANG_AKCE_MAIL_R_OK"))));
    EXPECT_THAT(ui.TaskLines, Not(Contains(HasSubstr("a*: "))));
}
