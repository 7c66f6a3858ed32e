// Backs up real profiles, restores them and lets the installed applications open the
// result, all inside a private home. Run by hand; it needs Debian's firefox-esr,
// thunderbird and sqlite3:
//   TESSARIN_REAL_APPS=1 engine_real_restore_tests
// Without the variable every case is skipped, so the suite does not depend on them.

#include "engine/BackupFileCheck.h"
#include "engine/BackupRun.h"
#include "engine/Components.h"
#include "engine/RestoreRun.h"
#include "platform/IniFile.h"

#include "BackupRunTestSupport.h"

#include <gmock/gmock.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <netinet/in.h>
#include <optional>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace tessarin;
using namespace tessarin::test;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr const char* Firefox = "/usr/lib/firefox-esr/firefox-esr";
constexpr const char* Thunderbird = "/usr/lib/thunderbird/thunderbird";
constexpr const char* Sqlite = "/usr/bin/sqlite3";

const std::string HomePref =
    R"(user_pref("browser.startup.homepage", "https://tessarin.example/home");)";
const std::string BookmarkQuery =
    "SELECT b.title FROM moz_bookmarks b JOIN moz_places p ON p.id = b.fk"
    " WHERE p.url = 'https://tessarin.example/kept'"
    " AND b.parent = (SELECT id FROM moz_bookmarks WHERE guid = 'toolbar_____');";
const std::string CookieQuery =
    "SELECT value FROM moz_cookies WHERE name = 'tessarin' AND host = '.tessarin.example';";

// Exit status, or none after killing the process group when it outlives the timeout.
std::optional<int> Wait(pid_t pid, std::chrono::seconds timeout)
{
    if (pid <= 0)
        return std::nullopt;
    const auto end = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0)
            return std::nullopt;
        if (std::chrono::steady_clock::now() >= end) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return std::nullopt;
        }
        std::this_thread::sleep_for(100ms);
    }
}

// Asks the application to quit as a user would. Messages are "length:json".
bool MarionetteQuit(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const timeval timeout{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto receive = [fd] {
        std::string length;
        char c = 0;
        while (::read(fd, &c, 1) == 1 && c != ':')
            length += c;
        std::string body(std::strtoul(length.c_str(), nullptr, 10), '\0');
        std::size_t got = 0;
        while (got < body.size()) {
            const ssize_t n = ::read(fd, body.data() + got, body.size() - got);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        return body.substr(0, got);
    };
    const auto send = [fd](const std::string& json) {
        const std::string message = std::to_string(json.size()) + ":" + json;
        return ::write(fd, message.data(), message.size()) == static_cast<ssize_t>(message.size());
    };
    const bool quit =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        !receive().empty() && send(R"([0,1,"WebDriver:NewSession",{}])") &&
        receive().find("sessionId") != std::string::npos &&
        send(R"([0,2,"Marionette:Quit",{"flags":["eAttemptQuit"]}])") &&
        receive().find("\"shutdown\"") != std::string::npos;
    ::close(fd);
    return quit;
}

// The string value of a preference line, empty when there is none.
std::string PrefValue(const std::string& prefs, const std::string& key)
{
    const std::string head = "user_pref(\"" + key + "\", \"";
    const std::size_t at = prefs.find(head);
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + head.size();
    return prefs.substr(start, prefs.find('"', start) - start);
}

std::string Version(const char* exe)
{
    return TIniFile::FromFile(fs::path(exe).parent_path() / "application.ini")
        .ReadString("App", "Version");
}

class RealRestoreTest : public BackupRunTest {
protected:
    void SetUp() override
    {
        const char* flag = std::getenv("TESSARIN_REAL_APPS");
        if (flag == nullptr || std::string(flag) != "1")
            GTEST_SKIP() << "set TESSARIN_REAL_APPS=1 to run the installed applications";
        BackupRunTest::SetUp();
        for (char** e = environ; *e != nullptr; ++e)
            if (std::string_view v(*e); !v.starts_with("HOME=") && !v.starts_with("XDG_"))
                appEnvironment.emplace_back(v);
        for (const char* name : {"HOME=", "XDG_CONFIG_HOME=.config", "XDG_CACHE_HOME=.cache",
                                 "XDG_DATA_HOME=.local/share", "XDG_STATE_HOME=.local/state"}) {
            const std::string_view pair(name);
            const std::size_t eq = pair.find('=');
            appEnvironment.push_back(std::string(pair.substr(0, eq + 1)) + home +
                                     std::string(pair.substr(eq + 1)));
        }
        log = temp.Path() / "apps.log";
    }

    // Starts args[0] in its own process group with the private home; output goes to log.
    pid_t Start(std::vector<std::string> args, const fs::path& output) const
    {
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (const std::string& e : appEnvironment)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_addopen(&actions, 1, output.c_str(),
                                           O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
        posix_spawnattr_t attributes;
        ::posix_spawnattr_init(&attributes);
        ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        pid_t pid = -1;
        if (::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data()) != 0)
            pid = -1;
        ::posix_spawn_file_actions_destroy(&actions);
        ::posix_spawnattr_destroy(&attributes);
        return pid;
    }

    std::string Sql(const fs::path& db, const std::string& sql) const
    {
        const fs::path out = temp.Path() / "sqlite.out";
        fs::remove(out);
        const auto status = Wait(Start({Sqlite, "-batch", "-bail", db.string(), sql}, out), 30s);
        const std::string text = ReadFile(out);
        EXPECT_EQ(status, 0) << db << ": " << text;
        return text;
    }

    void CreateProfile(const char* exe, const std::string& name, const fs::path& folder) const
    {
        ASSERT_EQ(
            Wait(Start({exe, "--headless", "-CreateProfile", name + " " + folder.string()}, log),
                 60s),
            0)
            << ReadFile(log);
        ASSERT_TRUE(fs::is_directory(folder));
    }

    // Lets the application use the profile for a while, then quits it through
    // Marionette: both die at once on SIGTERM, before saving anything. True after a
    // complete shutdown.
    bool Use(const char* exe, const fs::path& profile, std::chrono::seconds running) const
    {
        std::ofstream(profile / "user.js") << "user_pref(\"marionette.port\", 0);\n"
                                              "user_pref(\"remote.prefs.recommended\", false);\n";
        // The application writes both anew; stale copies would prove nothing.
        fs::remove(profile / "MarionetteActivePort");
        fs::remove(profile / "sessionCheckpoints.json");
        const pid_t pid = Start(
            {exe, "--headless", "--no-remote", "--marionette", "--profile", profile.string()}, log);
        std::this_thread::sleep_for(running);
        for (int i = 0; i < 100 && !fs::exists(profile / "MarionetteActivePort"); ++i)
            std::this_thread::sleep_for(200ms);
        const int port = std::atoi(ReadFile(profile / "MarionetteActivePort").c_str());
        const bool asked = port > 0 && MarionetteQuit(port);
        const auto status = Wait(pid, asked ? 60s : 0s);
        fs::remove(profile / "user.js");
        const bool clean =
            status == 0 &&
            ReadFile(profile / "sessionCheckpoints.json").find("\"profile-before-change\":true") !=
                std::string::npos;
        if (!clean)
            std::cout << "quit asked: " << asked << ", status: " << status.value_or(-1) << "\n"
                      << ReadFile(log) << "\n";
        return clean;
    }

    // A batch-mode backup with the components the profile's markers tick.
    std::string Backup(int app, const fs::path& profile, TSharedState& s) const
    {
        s.AppNumber = static_cast<std::uint8_t>(app);
        s.Operation = TOperation::Backup;
        s.ProfileDir = profile.string() + "/";
        s.BackupFile = documents + profile.filename().string() + ".pcv";
        ApplyBackupDefaults(s, s.ProfileDir);
        TFakeUserInterface backupUi;
        RunBackup(s, backupUi, true);
        EXPECT_FALSE(s.BackupFailed);
        std::cout << "backup " << s.BackupFile << " components:";
        for (int n = 1; n <= ComponentCount; ++n)
            if (s.Boxes[n].Checked)
                std::cout << " " << n;
        std::cout << "\n";
        return s.BackupFile;
    }

    // Reads the backup as the Profile selection page does, then restores every
    // component its index holds into target.
    void Restore(int app, const std::string& archive, const fs::path& target) const
    {
        TSharedState s(env.Env);
        s.Operation = TOperation::Restore;
        s.AppNumber = static_cast<std::uint8_t>(app);
        TFakeUserInterface restoreUi;
        ASSERT_TRUE(CheckBackupFile(archive, s, restoreUi));
        s.BackupFile = archive;
        ReadBackupIndex(s, restoreUi);
        s.ExternalProfileDir = target.string();
        RunRestore(s, restoreUi);
        EXPECT_FALSE(s.BackupFailed);
        for (const std::string& call : restoreUi.Calls)
            EXPECT_FALSE(call.starts_with("Error|") || call.starts_with("Warning|")) << call;
    }

    std::vector<std::string> appEnvironment;
    fs::path log;
};

TEST_F(RealRestoreTest, FirefoxKeepsBookmarkCookieAndPrefsOfARestoredProfile)
{
    std::cout << "firefox-esr " << Version(Firefox) << "\n";
    const fs::path source = fs::path(home) / "ff/source";
    const fs::path used = fs::path(home) / "ff/used";
    const fs::path fresh = fs::path(home) / "restored/ff-new";
    CreateProfile(Firefox, "tessarin-source", source);
    CreateProfile(Firefox, "tessarin-used", used);
    ASSERT_TRUE(Use(Firefox, source, 8s)); // creates the databases
    ASSERT_TRUE(Use(Firefox, used, 8s));
    ASSERT_TRUE(fs::exists(used / "places.sqlite"));

    Sql(source / "places.sqlite",
        "INSERT INTO moz_origins(prefix, host, frecency) VALUES('https://', 'tessarin.example', 1);"
        "INSERT INTO moz_places(url, title, rev_host, guid, foreign_count, frecency, origin_id)"
        " VALUES('https://tessarin.example/kept', 'Kept', 'elpmaxe.nirassset.', 'tessarinpl01',"
        " 1, 100, (SELECT id FROM moz_origins WHERE host = 'tessarin.example'));"
        "INSERT INTO moz_bookmarks(type, fk, parent, position, title, dateAdded, lastModified,"
        " guid) SELECT 1, (SELECT id FROM moz_places WHERE guid = 'tessarinpl01'), t.id,"
        " (SELECT count(*) FROM moz_bookmarks WHERE parent = t.id), 'Tessarin kept',"
        " unixepoch() * 1000000, unixepoch() * 1000000, 'tessarinbm01'"
        " FROM moz_bookmarks t WHERE t.guid = 'toolbar_____';");
    // Expiry in milliseconds, within the 400 days Firefox allows.
    Sql(source / "cookies.sqlite",
        "INSERT INTO moz_cookies(name, value, host, path, expiry, lastAccessed, creationTime,"
        " isSecure, isHttpOnly, sameSite, schemeMap, updateTime) VALUES('tessarin', 'kept',"
        " '.tessarin.example', '/', (unixepoch() + 300 * 86400) * 1000, unixepoch() * 1000000,"
        " unixepoch() * 1000000, 1, 0, 0, 2, unixepoch() * 1000000);");
    std::ofstream(source / "prefs.js", std::ios::app) << HomePref << "\n";
    ASSERT_EQ(Sql(source / "places.sqlite", BookmarkQuery), "Tessarin kept\n");
    ASSERT_EQ(Sql(source / "cookies.sqlite", CookieQuery), "kept\n");

    TSharedState backup(env.Env);
    const std::string archive = Backup(2, source, backup);
    for (int n : {1, 4, 10})
        EXPECT_TRUE(backup.Boxes[n].Checked) << n;

    fs::create_directories(fresh);
    for (const fs::path& target : {fresh, used}) {
        SCOPED_TRACE(target.string());
        std::cout << target << " before restore, places.sqlite-wal: "
                  << fs::exists(target / "places.sqlite-wal") << "\n";
        Restore(2, archive, target);
        ASSERT_TRUE(Use(Firefox, target, 10s));
        EXPECT_EQ(Sql(target / "places.sqlite", "PRAGMA integrity_check;"), "ok\n");
        EXPECT_EQ(Sql(target / "places.sqlite", BookmarkQuery), "Tessarin kept\n");
        EXPECT_EQ(Sql(target / "cookies.sqlite", CookieQuery), "kept\n");
        for (const auto& entry : fs::directory_iterator(target))
            EXPECT_THAT(entry.path().filename().string(), Not(HasSubstr("corrupt")));
        const std::string prefs = ReadFile(target / "prefs.js");
        EXPECT_THAT(prefs, HasSubstr(HomePref));
        // Tessarin writes CR LF, Firefox LF: without CR the file is Firefox's own save.
        EXPECT_THAT(prefs, Not(HasSubstr("\r")));
    }
}

TEST_F(RealRestoreTest, ThunderbirdFindsOutsideMailAtItsOldPlaceFromANewProfile)
{
    std::cout << "thunderbird " << Version(Thunderbird) << "\n";
    const fs::path source = fs::path(home) / "tb/source";
    const fs::path outside = fs::path(home) / "ExternalMail/Work";
    const fs::path target = fs::path(home) / "restored/deeper/tb-new";
    CreateProfile(Thunderbird, "tessarin-mail", source);
    fs::create_directories(outside);
    std::ofstream(outside / "Inbox", std::ios::binary)
        << "From - Mon Jan  1 00:00:00 2024\nFrom: a@tessarin.example\nTo: b@tessarin.example\n"
           "Subject: kept\nDate: Mon, 1 Jan 2024 00:00:00 +0000\n"
           "Message-ID: <1@tessarin.example>\n\nbody\n\n";
    // A POP account whose mail lies outside the profile.
    std::ofstream sourcePrefs(source / "prefs.js");
    for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
             {"mail.account.account1.server", "server1"},
             {"mail.accountmanager.accounts", "account1"},
             {"mail.server.server1.type", "pop3"},
             {"mail.server.server1.hostname", "pop.tessarin.example"},
             {"mail.server.server1.userName", "nobody"},
             {"mail.server.server1.name", "Work"},
             {"mail.server.server1.directory", outside.string()},
             {"mail.server.server1.directory-rel",
              "[ProfD]" + outside.lexically_relative(source).string()}})
        sourcePrefs << "user_pref(\"" << key << "\", \"" << value << "\");\n";
    sourcePrefs.close();
    ASSERT_TRUE(Use(Thunderbird, source, 12s));
    ASSERT_EQ(PrefValue(ReadFile(source / "prefs.js"), "mail.server.server1.directory"),
              outside.string());
    const std::string inbox = ReadFile(outside / "Inbox");
    ASSERT_THAT(inbox, HasSubstr("Subject: kept"));

    TSharedState backup(env.Env);
    const std::string archive = Backup(3, source, backup);
    EXPECT_TRUE(backup.Boxes[1].Checked);
    EXPECT_TRUE(backup.Boxes[2].Checked);
    EXPECT_EQ(backup.ExternalMailDirs, std::vector<std::string>{outside.string()});

    fs::remove_all(outside.parent_path());
    fs::create_directories(target);
    Restore(3, archive, target);
    EXPECT_EQ(ReadFile(outside / "Inbox"), inbox);
    // Its counts describe the old profile's folders.
    EXPECT_TRUE(fs::exists(source / "folderCache.json"));
    EXPECT_FALSE(fs::exists(target / "folderCache.json"));
    ASSERT_TRUE(Use(Thunderbird, target, 12s));

    EXPECT_EQ(ReadFile(outside / "Inbox"), inbox);
    const std::string prefs = ReadFile(target / "prefs.js");
    EXPECT_THAT(prefs, Not(HasSubstr("\r"))) << "Thunderbird did not write prefs.js";
    EXPECT_EQ(PrefValue(prefs, "mail.server.server1.directory"), outside.string());
    const std::string relative = PrefValue(prefs, "mail.server.server1.directory-rel");
    std::cout << "restored profile " << target
              << " mail folder: " << PrefValue(prefs, "mail.server.server1.directory") << ", "
              << relative << "\n";
    ASSERT_TRUE(relative.starts_with("[ProfD]")) << relative;
    EXPECT_EQ((target / relative.substr(7)).lexically_normal(), outside);
}

} // namespace
