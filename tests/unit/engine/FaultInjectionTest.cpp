// Backup and restore runs under faults: a full disk, a read-only folder, an unreadable
// or vanishing file, and a close at every progress step. Each run goes into a child
// process, which may mount a small file system or drop to an unprivileged user (root
// writes anywhere); the parent checks what the person was told and that no file of
// theirs was lost or left half-written.

#include "engine/BackupFileCheck.h"
#include "engine/BackupRun.h"
#include "engine/ChromeRegistry.h"
#include "engine/Components.h"
#include "engine/RestoreRun.h"
#include "support/FileSizeLimit.h"

#include "BackupRunTestSupport.h"

#include <cstring>
#include <functional>
#include <grp.h>
#include <iostream>
#include <random>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tessarin;
using namespace tessarin::test;

namespace {

enum class TFault { SizeLimit, SmallDisk, ReadOnlyTarget, UnreadableSource, Vanish, Close };

struct TCase {
    const char* Name;
    bool Restore;
    TFault Fault;
    bool Batch;
};

void PrintTo(const TCase& c, std::ostream* out)
{
    *out << c.Name;
}

const TCase Cases[] = {
    {"BackupSizeLimit", false, TFault::SizeLimit, false},
    {"BatchBackupSizeLimit", false, TFault::SizeLimit, true},
    {"BackupSmallDisk", false, TFault::SmallDisk, false},
    {"BackupReadOnlyFolder", false, TFault::ReadOnlyTarget, false},
    {"BackupUnreadableFile", false, TFault::UnreadableSource, false},
    {"BackupVanishingFile", false, TFault::Vanish, false},
    {"BackupClose", false, TFault::Close, false},
    {"RestoreSizeLimit", true, TFault::SizeLimit, false},
    {"RestoreSmallDisk", true, TFault::SmallDisk, false},
    {"RestoreReadOnlyProfile", true, TFault::ReadOnlyTarget, false},
    {"RestoreVanishingBackup", true, TFault::Vanish, false},
    {"RestoreClose", true, TFault::Close, false},
};

constexpr uid_t Nobody = 65534;
const int Chosen[] = {1, 4, 5, 8, 9, 10, 11, 13, 14};
const char* const Victim = "logins.json"; // the file made unreadable or removed

// What the person was told.
struct TOutcome {
    std::string
        Told; // "exit N" or "report: text", then "|Kind|text" per box
    std::string Lines;
    bool Failed = false;
    std::string Skip; // the fault cannot be set up here
    int Pumps = 0;    // ProcessEvents calls
};

std::string Serialize(const TOutcome& o)
{
    return o.Told + '\x1e' + o.Lines + '\x1e' + (o.Failed ? "1" : "0") + '\x1e' + o.Skip + '\x1e' +
           std::to_string(o.Pumps);
}

// Runs body in a child process and gives back its outcome.
TOutcome InChild(const std::function<TOutcome()>& body)
{
    int fds[2];
    if (::pipe(fds) != 0)
        throw std::runtime_error("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string text;
        try {
            text = Serialize(body());
        } catch (const std::exception& e) {
            text = Serialize({"child threw: " + std::string(e.what()), "", false, ""});
        }
        for (std::size_t at = 0; at < text.size();) {
            const ssize_t n = ::write(fds[1], text.data() + at, text.size() - at);
            if (n <= 0)
                break;
            at += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::vector<std::string> field(5);
    std::size_t i = 0;
    for (char c : text)
        c == '\x1e' && i < 4 ? void(++i) : void(field[i] += c);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        field[0] = "child died with status " + std::to_string(status);
    return {field[0], field[1], field[2] == "1", field[3], std::atoi(field[4].c_str())};
}

std::string DropToNobody()
{
    if (::setgroups(0, nullptr) != 0 || ::setresgid(Nobody, Nobody, Nobody) != 0 ||
        ::setresuid(Nobody, Nobody, Nobody) != 0)
        return "cannot become nobody";
    return {};
}

// A tmpfs of that many bytes over folder, in a mount namespace of this process alone.
std::string MountSmallDisk(const fs::path& folder, std::uint64_t bytes)
{
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", folder.c_str(), "tmpfs", 0, ("size=" + std::to_string(bytes)).c_str()) !=
            0)
        return "cannot mount a tmpfs";
    return {};
}

using TTree = std::map<std::string, std::string>; // relative name -> content

TTree ReadTree(const fs::path& root)
{
    TTree tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it)
        if (it->is_regular_file())
            tree[it->path().lexically_relative(root).string()] = ReadFile(it->path());
    return tree;
}

std::uint64_t PagesOf(const TTree& tree)
{
    std::uint64_t bytes = 0;
    for (const auto& [name, content] : tree)
        bytes += (content.size() + 4095) / 4096 * 4096;
    return bytes;
}

// Positions below size, step apart, at most 10 of them.
std::vector<std::uint64_t> Positions(std::uint64_t first, std::uint64_t size)
{
    const std::uint64_t step = std::max<std::uint64_t>(16 * 1024, (size / 10 + 4095) / 4096 * 4096);
    std::vector<std::uint64_t> out;
    for (std::uint64_t p = first; p < size; p += step)
        out.push_back(p);
    return out;
}

// Every folder of the tree read-only, as a profile on a read-only mount would be.
void MakeReadOnly(const fs::path& root)
{
    std::vector<fs::path> folders = {root};
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_directory())
            folders.push_back(e.path());
    for (const fs::path& f : folders)
        fs::permissions(f, fs::perms::owner_read | fs::perms::owner_exec);
}

void SetOwner(const fs::path& root, uid_t uid)
{
    ::lchown(root.c_str(), uid, uid);
    for (const auto& e : fs::recursive_directory_iterator(root))
        ::lchown(e.path().c_str(), uid, uid);
}

std::string ChromeRdf(const std::string& profile, const char* package)
{
    return std::string("<?xml version=\"1.0\"?>\n<RDF:RDF "
                       "xmlns:RDF=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
                       "xmlns:c=\"http://www.mozilla.org/rdf/chrome#\">\n"
                       "  <RDF:Description RDF:about=\"urn:mozilla:package:") +
           package + "\" c:baseURL=\"jar:file://" + profile + "extensions/%7B" + package +
           "%7D/chrome/" + package + ".jar!/content/" + package + "/\" c:name=\"" + package +
           "\"/>\n</RDF:RDF>\n";
}

// Ends the program at a chosen ProcessEvents call as the close query answered Yes
// does, and runs a hook at the first task text: the first progress report.
class TFaultUserInterface : public TFakeUserInterface {
public:
    std::function<void()> AtFirstTask;
    void SetTaskText(const std::string& text) override
    {
        TFakeUserInterface::SetTaskText(text);
        if (auto hook = std::exchange(AtFirstTask, nullptr))
            hook();
    }
};

} // namespace

class FaultInjectionTest : public BackupRunTest, public ::testing::WithParamInterface<TCase> {
protected:
    void SetUp() override
    {
        BackupRunTest::SetUp();
        source = CopyRealProfile("firefox", temp.Path() / "source");
        temp.Write("source/x7k2m9qa.default-esr/chrome/chrome.rdf",
                   ChromeRdf(source.Folder(), "tool"));
        // A used profile's history runs to megabytes, and random bytes do not deflate:
        // the archive is large enough to run out of room at many places.
        std::string history = ReadFile(source.Profile / "places.sqlite");
        std::mt19937 random(7);
        for (int i = 0; i < 5 << 18; ++i)
            history += static_cast<char>(random());
        temp.Write("source/x7k2m9qa.default-esr/places.sqlite", history);
        sourceTree = ReadTree(source.Profile);
        oldTarget = CopyRealProfile("firefox", temp.Path() / "old", "target.default").Profile;
        temp.Write("old/target.default/prefs.js", "user_pref(\"browser.startup.page\", 1);\n");
        temp.Write("old/target.default/chrome/chrome.rdf", ChromeRdf("/elsewhere/", "older"));
        target = temp.Path() / "target";
        backup = documents + "weekly.pcv";

        // A clean backup: the earlier one each backup run would replace, and the one
        // each restore reads.
        archive = temp.Folder() + "clean.pcv";
        TFakeUserInterface quiet;
        TSharedState s = BackupState(archive);
        RunBackup(s, quiet, true);
        ASSERT_FALSE(s.BackupFailed);
        earlier = ReadFile(archive);
        archiveTree = ReadTree(Extracted());
        // A clean restore: what each restored file may be besides the old one.
        fs::copy(oldTarget, target, fs::copy_options::recursive);
        TFakeUserInterface restoring;
        TSharedState r = RestoreState(archive, restoring);
        RunRestore(r, restoring);
        ASSERT_FALSE(r.BackupFailed);
        restoredTree = ReadTree(target);
        oldTree = ReadTree(oldTarget);
        // A restore that stops before the extensions still points the target's own
        // registry into it.
        fs::remove_all(target);
        fs::copy(oldTarget, target, fs::copy_options::recursive);
        RewriteChromeRegistry(target.string() + "/");
        oldTree["chrome/chrome.rdf (rewritten)"] = ReadFile(target / "chrome/chrome.rdf");
    }

    TSharedState BackupState(const std::string& file)
    {
        TSharedState s(env.Env);
        s.AppNumber = 2;
        s.Operation = TOperation::Backup;
        s.ProfileDir = source.Folder();
        s.BackupFile = file;
        ResetComponentBoxes(s);
        for (int n : Chosen)
            s.Boxes[n].Checked = true;
        return s;
    }

    TSharedState RestoreState(const std::string& file, IUserInterface& reader)
    {
        TSharedState s(env.Env);
        s.Operation = TOperation::Restore;
        s.AppNumber = 2;
        if (!CheckBackupFile(file, s, reader))
            throw std::runtime_error("backup refused");
        s.BackupFile = file;
        ReadBackupIndex(s, reader);
        ResetComponentBoxes(s);
        for (int n : Chosen)
            s.Boxes[n].Checked = true;
        s.ExternalProfileDir = target.string();
        return s;
    }

    // The clean backup's entries as files, for comparing.
    fs::path Extracted()
    {
        const fs::path out = temp.Path() / "extracted";
        for (const std::string& name : EntryNames(archive))
            if (name.back() != '/')
                temp.Write("extracted/" + name, EntryText(archive, name));
        return out;
    }

    // One run under the fault; folder is where the run writes (the backup folder or
    // the target profile), checked afterwards at the returned place.
    TOutcome Run(const TCase& c, std::uint64_t amount, fs::path& seen)
    {
        const fs::path folder = c.Restore ? target : fs::path(home) / "Documents";
        fs::remove_all(folder);
        fs::create_directories(folder);
        if (c.Restore)
            fs::copy(oldTarget, target,
                     fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        else
            temp.Write("home/Documents/weekly.pcv", earlier);
        const TTree before = ReadTree(folder);
        const std::string file = c.Restore && c.Fault == TFault::Vanish ? temp.Folder() + "gone.pcv"
                                 : c.Restore                            ? archive
                                                                        : backup;
        if (file != archive && c.Restore)
            fs::copy_file(archive, file, fs::copy_options::overwrite_existing);
        const bool unprivileged =
            c.Fault == TFault::ReadOnlyTarget || c.Fault == TFault::UnreadableSource;
        if (unprivileged) {
            SetOwner(temp.Path(), Nobody);
            if (c.Fault == TFault::UnreadableSource)
                fs::permissions(source.Profile / Victim, fs::perms::none);
            else
                MakeReadOnly(folder);
        }
        // The small disk goes with the child: it copies what it left to "seen".
        seen = c.Fault == TFault::SmallDisk ? fs::path(folder.string() + ".seen") : folder;
        if (seen != folder)
            fs::remove_all(seen);

        TOutcome out = InChild([&] {
            TOutcome o;
            if (c.Fault == TFault::SmallDisk) {
                o.Skip = MountSmallDisk(folder, PagesOf(before) + amount);
                if (!o.Skip.empty())
                    return o;
                for (const auto& [name, content] : before)
                    temp.Write((folder / name).lexically_relative(temp.Path()).string(), content);
            }
            if (unprivileged && ::geteuid() == 0)
                o.Skip = DropToNobody();
            if (!o.Skip.empty())
                return o;
            TFakeUserInterface reading;
            TSharedState s = c.Restore ? RestoreState(file, reading) : BackupState(file);
            TFaultUserInterface faulty;
            if (c.Fault == TFault::Close)
                faulty.ExitAfterProcessEvents = static_cast<int>(amount);
            if (c.Fault == TFault::Vanish && !c.Restore) {
                // Stored, not deflated ahead on workers: the file is read only when its
                // turn comes, after it went.
                std::string ini = ReadFile(program + "Backup.ini");
                ini.replace(ini.find("compressionLevel="), 17, "compressionLevel=0");
                temp.Write("program/Backup.ini", ini);
            }
            if (c.Fault == TFault::Vanish)
                faulty.AtFirstTask = [&] {
                    fs::remove(c.Restore ? fs::path(file) : source.Profile / Victim);
                };
            try {
                std::optional<TFileSizeLimit> full;
                if (c.Fault == TFault::SizeLimit)
                    full.emplace(amount);
                c.Restore ? RunRestore(s, faulty) : RunBackup(s, faulty, c.Batch);
                o.Told = "report: " + faulty.ReportText;
            } catch (const TProgramExit& e) {
                o.Told = "exit " + std::to_string(e.Code);
            }
            for (const char* kind : {"Warning", "Error", "Information", "Question"})
                for (const std::string& box : faulty.CallsOf(kind))
                    o.Told += std::string("|") + kind + "|" + box;
            for (const std::string& line : faulty.TaskLines)
                o.Lines += line + "\n";
            o.Failed = s.BackupFailed;
            o.Pumps = faulty.ProcessEventsCalls;
            if (c.Fault == TFault::SmallDisk)
                fs::copy(folder, seen, fs::copy_options::recursive);
            return o;
        });
        if (unprivileged)
            SetOwner(temp.Path(), 0);
        if (c.Fault == TFault::UnreadableSource)
            fs::permissions(source.Profile / Victim,
                            fs::perms::owner_read | fs::perms::owner_write);
        return out;
    }

    // What was lost or left half-written; empty when every file is whole.
    std::string Damage(const TCase& c, const TOutcome& o, const fs::path& seen)
    {
        std::string damage;
        const TTree now = ReadTree(seen);
        if (!c.Restore) {
            TTree expected = sourceTree;
            if (c.Fault == TFault::Vanish)
                expected.erase(Victim);
            if (ReadTree(source.Profile) != expected)
                damage += "source profile changed; ";
            if (now.size() != 1 || now.count("weekly.pcv") == 0)
                damage += "backup folder holds " + std::to_string(now.size()) + " files; ";
            else if (o.Told.rfind("report: " + Text("TForm1", "LANG_MEMO3"), 0) == 0)
                damage += EntryText(seen / "weekly.pcv", "indexfile.txt").empty()
                              ? "new backup unreadable; "
                              : "";
            else if (now.at("weekly.pcv") != earlier)
                damage += "earlier backup changed; ";
            return damage;
        }
        auto is = [](const TTree& tree, const std::string& name, const std::string& content) {
            const auto at = tree.find(name);
            return at != tree.end() && at->second == content;
        };
        for (const auto& [name, content] : now)
            if (!is(oldTree, name, content) && !is(restoredTree, name, content) &&
                !is(archiveTree, name, content) && !is(oldTree, name + " (rewritten)", content))
                damage += "half-written " + name + "; ";
        // A database and its journal are both old or both new: the application would
        // replay one over the other.
        auto databaseOf = [](const std::string& name) {
            const std::size_t dash = name.rfind('-');
            return dash != std::string::npos && name.find(".sqlite") == dash - 7
                       ? name.substr(0, dash)
                       : "";
        };
        // What a clean restore keeps (prefs.js and chrome.rdf among it) is there, old or new.
        for (const auto& [name, content] : oldTree) {
            const std::string database = databaseOf(name);
            const bool databaseOld = database.empty() || (now.count(database) &&
                                                          is(oldTree, database, now.at(database)));
            if (restoredTree.count(name) != 0 && now.count(name) == 0 && databaseOld)
                damage += "lost " + name + "; ";
        }
        for (const auto& [name, content] : now) {
            const std::string database = databaseOf(name);
            if (!database.empty() && !is(oldTree, name, content) && now.count(database) &&
                is(oldTree, database, now.at(database)) &&
                !is(archiveTree, database, now.at(database)))
                damage += "new " + name + " beside the old database; ";
        }
        return damage;
    }

    TRealProfile source;
    TTree sourceTree, oldTree, restoredTree, archiveTree;
    fs::path oldTarget, target;
    std::string backup, archive, earlier;
};

TEST_P(FaultInjectionTest, PersonIsToldAndNoFileIsLostOrHalfWritten)
{
    const TCase& c = GetParam();
    const std::string box14 = "|Error|" + Text("Tessarin14", "LANG_ERROR") + "|" +
                              Text("Tessarin15", "LANG_WRITE_ERROR3");
    const std::string created = "report: " + Text("TForm1", "LANG_MEMO3");
    const std::string notCreated = "report: " + Text("TForm1", "LANG_BACKUP_FAILED");
    const std::string restored = "report: " + Text("TForm1", "LANG_BACKUP_RESTOR");
    const std::string incomplete = "report: " + Text("Tessarin15", "LANG_RESTORE_FAILED");
    const std::string notRestored = Text("Tessarin15", "LANG_NOT_RESTORED");
    const std::string konec = "exit 1|Warning|" + Text("TForm1", "LANG_WARNING") + "|" +
                              Text("TForm1", "LANG_KONEC") + "|Error|" +
                              Text("TForm1", "LANG_ERROR") + "|";
    const std::string prefsFailed = "exit 1|Warning|" + Text("TForm1", "LANG_WARNING") + "|" +
                                    Text("TForm1", "LANG_NOT_FOUND2");

    // The amounts the fault is tried with: bytes of room, or the step a close ends.
    std::vector<std::uint64_t> amounts = {0};
    std::uint64_t largest = 0;
    for (const auto& [name, content] : archiveTree)
        largest = std::max<std::uint64_t>(largest, content.size());
    if (c.Fault == TFault::SizeLimit)
        amounts = c.Restore ? Positions(0, largest) : Positions(4096, earlier.size());
    if (c.Fault == TFault::SmallDisk)
        amounts = c.Restore ? Positions(16 * 1024, PagesOf(archiveTree))
                            : Positions(16 * 1024, earlier.size() - 4096);
    if (c.Fault == TFault::Close) {
        TFakeUserInterface counting;
        amounts.clear();
        if (c.Restore) {
            TSharedState s = RestoreState(archive, counting);
            counting.ProcessEventsCalls = 0;
            RunRestore(s, counting);
        } else {
            TSharedState s = BackupState(backup);
            RunBackup(s, counting, false);
        }
        const int steps = counting.ProcessEventsCalls;
        ASSERT_GT(steps, 3);
        for (int k = 1; k <= steps; k += std::max(1, steps / 16))
            amounts.push_back(static_cast<std::uint64_t>(k));
        amounts.push_back(static_cast<std::uint64_t>(steps));
    }

    for (const std::uint64_t amount : amounts) {
        SCOPED_TRACE(c.Name + std::string(" at ") + std::to_string(amount));
        fs::path seen;
        const TOutcome o = Run(c, amount, seen);
        if (!o.Skip.empty())
            GTEST_SKIP() << o.Skip;
        EXPECT_EQ(Damage(c, o, seen), "");
        if (std::getenv("TESSARIN_FAULT_MATRIX") != nullptr)
            std::cout << "| " << c.Name << " " << amount << " | " << o.Told << " | "
                      << o.Lines.substr(0, o.Lines.find('\n')) << " | " << o.Failed << " |\n";

        // What a restore may end with when the disk fills or the profile cannot be
        // written: a report naming what is missing, or the end of the program after a
        // file that had to be rewritten whole (chrome.rdf, prefs.js) could not be.
        const bool ended = o.Told.rfind(konec, 0) == 0 || o.Told == prefsFailed;
        switch (c.Fault) {
        case TFault::SizeLimit:
        case TFault::SmallDisk:
        case TFault::ReadOnlyTarget:
            if (!c.Restore) {
                EXPECT_EQ(o.Told, notCreated + box14);
                EXPECT_TRUE(o.Failed);
            } else if (!ended) {
                const bool fits = c.Fault != TFault::ReadOnlyTarget && o.Told == restored;
                EXPECT_TRUE(fits || o.Told == incomplete) << o.Told;
                EXPECT_EQ(o.Lines.find(notRestored) != std::string::npos, o.Told == incomplete)
                    << o.Lines;
            }
            break;
        case TFault::UnreadableSource:
            // The size step cannot open it: the run ends with the reason.
            EXPECT_EQ(o.Told, "exit 1|Error|" + Text("TForm1", "LANG_ERROR") +
                                  "|Cannot open file " + (source.Profile / Victim).string() + ": " +
                                  std::strerror(EACCES));
            break;
        case TFault::Vanish:
            if (!c.Restore) {
                // Left out and named; the rest is written.
                EXPECT_EQ(o.Told, created);
                EXPECT_FALSE(o.Failed);
                EXPECT_NE(o.Lines.find(Victim), std::string::npos) << o.Lines;
                EXPECT_EQ(EntryText(seen / "weekly.pcv", Victim), "");
            } else {
                EXPECT_EQ(o.Told, incomplete);
                EXPECT_TRUE(o.Failed);
                EXPECT_EQ(o.Lines.rfind(notRestored + temp.Folder() + "gone.pcv: ", 0), 0u)
                    << o.Lines;
                EXPECT_EQ(std::count(o.Lines.begin(), o.Lines.end(), '\n'), 1)
                    << "one line, then nothing more";
            }
            break;
        case TFault::Close:
            // Reading the new backup back pumps by the clock: the last steps may not come.
            if (o.Pumps >= static_cast<int>(amount))
                EXPECT_EQ(o.Told, "exit 1") << "a close shows nothing more";
            else
                EXPECT_EQ(o.Told, c.Restore ? restored : created);
            break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, FaultInjectionTest, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<TCase>& test) {
                             return test.param.Name;
                         });
