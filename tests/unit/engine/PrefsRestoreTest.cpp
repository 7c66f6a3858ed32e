#include "support/FileSizeLimit.h"
#include "engine/PrefsRestore.h"

#include "archive/ZipFactory.h"
#include "engine/ArchiveSetup.h"
#include "engine/BackupRun.h"
#include "engine/Components.h"
#include "engine/PrefsParser.h"

#include "BackupRunTestSupport.h"

#include <gmock/gmock.h>
#include <sys/resource.h>

#include <csignal>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using namespace tessarin;
using namespace tessarin::test;
using ::testing::HasSubstr;

namespace {

using PrefsRestoreTest = BackupRunTest;

void MakeArchive(const fs::path& path, const std::map<std::string, std::string>& entries)
{
    int err = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    ASSERT_NE(za, nullptr);
    for (const auto& [name, text] : entries)
        zip_file_add(za, name.c_str(), zip_source_buffer(za, text.data(), text.size(), 0), 0);
    ASSERT_EQ(zip_close(za), 0);
}

// Decoded string value of key; "-" when prefs.js has no such line.
std::string PrefValue(const std::string& text, const std::string& key)
{
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (const TPrefsLine p = ParsePrefsLine(line); p.Key == key)
            return DecodePrefsPath(p.Value);
    return "-";
}

// Every name below folder with its content ("/" for a folder).
std::map<std::string, std::string> Snapshot(const fs::path& folder)
{
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        out[fs::relative(e.path(), folder).string()] = e.is_directory() ? "/" : ReadFile(e.path());
    return out;
}

} // namespace

TEST(ReplaceValue, GivesAWellFormedLineThatReadsBackAsThePath)
{
    struct TRow {
        std::string Line, Path, Expected;
    } rows[] = {
        {R"(user_pref("mail.server.server4.directory", "/old/Work");)", "/home/jana/Pošta/Work",
         R"(user_pref("mail.server.server4.directory", "/home/jana/Pošta/Work");)"},
        // The old value's escaped quote and a trailing comment do not survive.
        {R"(user_pref("mail.server.server2.directory", "C:\\a \"b\""); // x)", R"(D:\Post "x")",
         R"(user_pref("mail.server.server2.directory", "D:\\Post \"x\"");)"},
        {R"(user_pref("mail.server.server1.port", 993);)", "/x",
         R"(user_pref("mail.server.server1.port", 993);)"},
    };
    for (const TRow& r : rows) {
        const std::string out = ReplaceValue(r.Line, EncodePrefsPath(r.Path));
        EXPECT_EQ(out, r.Expected) << r.Line;
        if (out != r.Line) {
            EXPECT_EQ(DecodePrefsPath(ParsePrefsLine(out).Value), r.Path);
        }
    }
}

TEST_F(PrefsRestoreTest, FilterDropsLinesByApplicationAndChosenComponents)
{
    const std::vector<std::string> lines = {
        R"(user_pref("mail.server.server1.name", "Local Folders");)",     // 0
        R"(user_pref("mailnews.tags.$label1.color", "#FF0000");)",        // 1
        R"(user_pref("mailnewsX.flag", 1);)",                             // 2
        R"(user_pref("ldap_2.servers.pab.filename", "abook.sqlite");)",   // 3
        R"(user_pref("ldapX.flag", 1);)",                                 // 4
        R"(user_pref("browser.startup.page", 3);)",                       // 5
        R"(  user_pref("mail.indented", true);)",                         // 6
        R"(user_pref("signon.SignonFileName", "signons.txt");)",          // 7
        R"(user_pref("signon.SignonFileName2", "x");)",                   // 8
        R"(user_pref("wallet.SchemaValueFileName", "schema.tbl");)",      // 9
        R"(user_pref("wallet.caveat", true);)",                           // 10
        R"(user_pref("browser.cache.disk.parent_directory", "/tmp/c");)", // 11
        R"(user_pref("Mail.upper", 1);)",                                 // 12
        R"(// user_pref("mail.commented", 1);)",                          // 13
        R"(user_pref("print.printer", "PDF");)",                          // 14
    };
    struct TRow {
        int App;
        bool Emails, AddressBooks, Passwords, Forms;
        const char* Kept; // K: kept, -: dropped, one per line above
    } rows[] = {
        {3, true, true, true, true, "KKKKK-KKKKK-KKK"},
        {2, true, true, true, true, "-----KKKKKK-KKK"},
        {3, false, false, false, false, "--K-K---K---K-K"},
        {1, true, false, false, false, "KKK-KKK-K---KKK"},
        {1, false, true, true, true, "--KKKK-KKKK-K-K"},
    };
    std::string input;
    for (std::size_t i = 0; i < lines.size(); ++i)
        input += lines[i] + (i % 3 == 0 ? "\r\n\n" : i % 3 == 1 ? "\n" : "\r");
    for (const TRow& r : rows) {
        ASSERT_EQ(std::string_view(r.Kept).size(), lines.size());
        const fs::path prefs = temp.Write("p/prefs.js", input);
        fs::permissions(prefs, fs::perms::owner_read | fs::perms::owner_write);
        state.AppNumber = static_cast<std::uint8_t>(r.App);
        state.Boxes[2].Checked = r.Emails;
        state.Boxes[3].Checked = r.AddressBooks;
        state.Boxes[9].Checked = r.Passwords;
        state.Boxes[11].Checked = r.Forms;
        FilterRestoredPrefs(temp.Folder() + "p/", state, ui);
        std::string expected;
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (r.Kept[i] == 'K')
                expected += lines[i] + "\r\n";
        EXPECT_EQ(ReadFile(prefs), expected) << "app " << r.App << " " << r.Kept;
        EXPECT_EQ(fs::status(prefs).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
    }
    EXPECT_EQ(Snapshot(temp.Path() / "p").size(), 1u);
    EXPECT_TRUE(ui.Calls.empty());
}

TEST_F(PrefsRestoreTest, FailedRewriteLeavesThePreviousPrefsJs)
{
    MakeArchive(temp.Path() / "b.pcv", {{"indexfile.txt", "x"}});
    state.AppNumber = 1;
    state.Boxes[2].Checked = true; // every line stays: the new file is not empty
    struct TRow {
        const char* Name;
        bool Restore;      // RestoreExternalMail, else FilterRestoredPrefs
        const char* Prefs; // what stands at prefs.js
        const char* Outcome;
    } rows[] = {
        {"filter-unreadable", false, "folder",
         "exit 1|Warning|A critical error occurred while "
         "modifying the preferences file. The program will exit."},
        {"filter-disk-full", false, "file",
         "exit 1|Warning|A critical error occurred while "
         "modifying the preferences file. The program will exit."},
        {"filter-missing", false, "none", "done"},
        {"restore-unreadable", true, "folder", "system_error"},
        {"restore-disk-full", true, "file", "system_error"},
    };
    for (const TRow& r : rows) {
        const std::string profile = temp.Folder() + r.Name + "/";
        fs::create_directories(profile);
        if (r.Prefs == std::string_view("folder"))
            temp.Write(r.Name + std::string("/prefs.js/a"), "");
        if (r.Prefs == std::string_view("file"))
            temp.Write(r.Name + std::string("/prefs.js"),
                       "user_pref(\"mail.server.server1.directory\", \"/x/Mail\");\n"
                       "user_pref(\"browser.startup.page\", 3);\n");
        const auto before = Snapshot(profile);
        ui.Calls.clear();
        std::string outcome = "done";
        try {
            TZipFactory zip((temp.Path() / "b.pcv").string(), "", profile,
                            EngineZipSetup(state, ui), ui);
            std::vector<std::string> report;
            TFileSizeLimit full(16);
            if (r.Restore)
                RestoreExternalMail(profile, zip, state, ui, report);
            else
                FilterRestoredPrefs(profile, state, ui);
        } catch (const TProgramExit& e) {
            outcome = "exit " + std::to_string(e.Code);
        } catch (const std::system_error&) {
            outcome = "system_error";
        }
        for (const std::string& box : ui.CallsOf("Warning"))
            outcome += "|" + box; // caption|text
        EXPECT_EQ(outcome, r.Outcome) << r.Name;
        EXPECT_EQ(Snapshot(profile), before) << r.Name;
    }
}

TEST_F(PrefsRestoreTest, OutsideAccountGoesBackToItsFolderAndPrefsFollowTheNewProfile)
{
    const TRealProfile old = CopyRealProfile("thunderbird", temp.Path() / "old");
    // A sibling whose name begins like the profile's must not be taken for it.
    std::ofstream(old.Profile / "prefs.js", std::ios::app)
        << "user_pref(\"mail.root.movemail\", \"" << old.Profile.string() << "-copy/Mail\");\n";
    state.AppNumber = 3;
    state.ProfileDir = old.Folder();
    state.BackupFile = documents + "tb.pcv";
    ResetComponentBoxes(state);
    state.Boxes[2].Checked = true;
    RunBackup(state, ui, false);
    const fs::path outside = old.Outside / "pop.example.org";
    ASSERT_EQ(state.ExternalMailDirs, std::vector<std::string>{outside.string()});
    fs::remove_all(old.Outside);

    const fs::path target = temp.Path() / "new" / "q1w2e3r4.restored";
    const std::string dir = target.string() + "/";
    temp.Write("new/q1w2e3r4.restored/folderCache.json", "{\"stale\":1}");
    temp.Write("new/q1w2e3r4.restored/ImapMail/imap.example.com/INBOX/in-the-way", "");
    ui.Calls.clear();
    std::vector<std::string> report;
    TZipFactory zip(state.BackupFile, "", dir, EngineZipSetup(state, ui), ui);
    ASSERT_EQ(zip.ExtractFile("prefs.js"), 1);
    RestoreExternalMail(dir, zip, state, ui, report);

    const fs::path source =
        fs::path(TESSARIN_TEST_DATA) / "profiles-real/thunderbird/outside/pop.example.org";
    auto expected = Snapshot(source);
    std::erase_if(expected, [](const auto& e) { return e.first.starts_with("Inbox.mozmsgs"); });
    EXPECT_EQ(Snapshot(outside), expected);

    const std::string prefs = ReadFile(target / "prefs.js");
    const std::pair<const char*, std::string> values[] = {
        {"mail.server.server1.directory", dir + "Mail/Local Folders"},
        {"mail.server.server1.directory-rel", "[ProfD]Mail/Local Folders"},
        {"mail.server.server2.directory", dir + "ImapMail/imap.example.com"},
        {"mail.root.imap", dir + "ImapMail"},
        {"mail.root.none", dir + "Mail"},
        {"mail.root.none-rel", "[ProfD]Mail"},
        {"mail.root.movemail", old.Profile.string() + "-copy/Mail"},
        {"mail.server.server4.directory", outside.string()},
        {"mail.server.server4.directory-rel", "[ProfD]../../old/outside/pop.example.org"},
    };
    for (const auto& [key, value] : values)
        EXPECT_EQ(PrefValue(prefs, key), value) << key;
    EXPECT_EQ(prefs.find("\n\n"), std::string::npos);

    std::set<std::string> top; // no cache, no temporary file, no prefs.zal
    for (const auto& e : fs::directory_iterator(target))
        top.insert(e.path().filename().string());
    EXPECT_EQ(top, (std::set<std::string>{"ImapMail", "Mail", "prefs.js"}));
    ASSERT_EQ(report.size(), 1u);
    EXPECT_TRUE(report[0].starts_with("ImapMail/imap.example.com/INBOX: ")) << report[0];
    EXPECT_TRUE(ui.CallsOf("Error").empty());
}

TEST_F(PrefsRestoreTest, OutsideFolderThatCannotBeGivenBackLeavesItsLine)
{
    // A relative folder would be made below the working folder: work in an empty one.
    const fs::path work = temp.Path() / "cwd";
    fs::create_directories(work);
    struct TCwd {
        fs::path Before = fs::current_path();
        ~TCwd() { fs::current_path(Before); }
    } cwd;
    fs::current_path(work);
    const std::string blocked = temp.Write("blocker", "file").string() + "/Work";
    MakeArchive(temp.Path() / "b.pcv", {{"Work/Inbox", "From x"}, {"indexfile.txt", "x"}});
    for (const std::string& folder :
         {std::string(R"(D:\Post\Work)"), std::string("Post/Work"), blocked}) {
        const std::string profile = temp.Folder() + "p/";
        const std::string text =
            "user_pref(\"mail.server.server1.directory\", \"" + profile +
            "Mail/Local Folders\");\r\n"
            "user_pref(\"mail.server.server1.directory-rel\", \"[ProfD]Mail/Local Folders\");\r\n"
            "user_pref(\"mail.server.server2.directory\", \"" +
            EncodePrefsPath(folder) +
            "\");\r\n"
            "user_pref(\"mail.server.server2.directory-rel\", \"[ProfD]../Post/Work\");\r\n";
        temp.Write("p/prefs.js", text);
        const auto before = Snapshot(profile);
        state.ExternalMailDirs = {folder};
        ui.Calls.clear();
        std::vector<std::string> report;
        TZipFactory zip((temp.Path() / "b.pcv").string(), "", profile, EngineZipSetup(state, ui),
                        ui);
        EXPECT_TRUE(RestoreExternalMail(profile, zip, state, ui, report));
        EXPECT_TRUE(fs::is_empty(work)) << folder;
        if (folder != blocked) {
            // Not a folder of this system: refused, and the account gets one in the profile.
            EXPECT_TRUE(ui.CallsOf("Error").empty()) << folder;
            ASSERT_EQ(report.size(), 1u) << folder;
            EXPECT_THAT(report[0], HasSubstr(Text("Messages", "LANG_OUTSIDE_NOT_ABSOLUTE")));
            EXPECT_EQ(PrefValue(ReadFile(profile + "prefs.js"), "mail.server.server2.directory"),
                      profile + "Mail/Work");
            EXPECT_TRUE(fs::is_directory(profile + "Mail/Work"));
            fs::remove_all(profile + "Mail");
            continue;
        }
        EXPECT_EQ(
            ui.CallsOf("Error"),
            std::vector<std::string>{
                "Error|Cannot restore external mail account to original location! " + folder});
        EXPECT_EQ(Snapshot(profile), before) << folder;
        EXPECT_EQ(ReadFile(temp.Path() / "blocker"), "file");
    }
}
