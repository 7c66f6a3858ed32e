// Round trips, extraction by spec, passwords, and archives that try to write outside
// their target folder.

#include "ArchiveFixture.h"
#include "support/FileSizeLimit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include <tuple>

namespace tessarin::test {
namespace {

const std::vector<std::string> ProfileSpecs = {"prefs.js",        "places.sqlite", "abook.mab",
                                               "history.mab",     "Mail",          "ImapMail",
                                               "bookmarkbackups", "extensions"};

class RoundTrip : public TArchiveFixture,
                  public ::testing::WithParamInterface<std::tuple<int, std::string>> {};

TEST_P(RoundTrip, ProfileComesBackByteForByte)
{
    const auto& [level, password] = GetParam();
    SetLevel(std::to_string(level));
    const std::string profile = CopyProfile();
    const std::string archive = Path("backup.pcv");
    // ZIP keeps times to two seconds.
    const timespec old[2] = {{1236000000, 0}, {1236000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (profile + "prefs.js").c_str(), old, 0), 0);

    auto writer = Facade(archive, password, profile);
    EXPECT_EQ(writer->CompressionLevel(), level);
    ASSERT_TRUE(writer->AddFiles(ProfileSpecs));
    EXPECT_TRUE(writer->Problems().empty());
    writer.reset();

    const auto entries = ArchiveEntries(archive, password.empty() ? nullptr : password.c_str());
    std::vector<std::string> names;
    for (const auto& [name, info] : entries) {
        names.push_back(name);
        EXPECT_EQ(info.Encryption, password.empty() ? ZIP_EM_NONE : ZIP_EM_AES_256) << name;
        if (level == 0) {
            EXPECT_EQ(info.Compression, ZIP_CM_STORE) << name;
        }
    }
    EXPECT_EQ(names, TreeNames(profile)); // relative names with '/', folders recursed
    if (level > 0) {
        EXPECT_EQ(entries.at("Mail/Local Folders/Inbox").Compression, ZIP_CM_DEFLATE);
    }

    // Restore as a restore run would: the password known from reading the index.
    state_.Operation = TOperation::Restore;
    state_.Password = password;
    const std::string target = Path("restored/");
    auto reader = Facade(archive, "", target);
    EXPECT_EQ(reader->ExtractFolder("", "*.*"), static_cast<int>(names.size()));
    EXPECT_TRUE(reader->Problems().empty());
    EXPECT_EQ(TreeContents(target), TreeContents(profile));
    EXPECT_EQ(fs::last_write_time(target + "prefs.js"), fs::last_write_time(profile + "prefs.js"));
    EXPECT_TRUE(ui_.CallsOf("Error").empty());
    EXPECT_TRUE(Leftovers(dir_.Path(), "backup.pcv").empty());
}

INSTANTIATE_TEST_SUITE_P(LevelsAndPasswords, RoundTrip,
                         ::testing::Combine(::testing::Values(0, 1, 9),
                                            ::testing::Values(std::string(),
                                                              std::string("Tajné heslo 1"))));

using ZipFactoryRead = TArchiveFixture;

TEST_F(ZipFactoryRead, LevelComesFromTheSettingsClampedToZeroToNine)
{
    const std::vector<std::pair<std::string, int>> cases = {{"0", 0},  {"5", 5},    {"42", 9},
                                                            {"-3", 0}, {"fast", 9}, {"", 9}};
    for (const auto& [value, level] : cases) {
        SetLevel(value);
        EXPECT_EQ(Facade(Path("a.pcv"), "", "")->CompressionLevel(), level) << value;
    }
    dir_.Write("program/Backup.ini", "[General]\nbackupdir=/tmp\n");
    EXPECT_EQ(Facade(Path("a.pcv"), "", "")->CompressionLevel(), 9);
    fs::remove(dir_.Path() / "program/Backup.ini");
    EXPECT_THROW(Facade(Path("a.pcv"), "", ""), std::runtime_error);
}

TEST_F(ZipFactoryRead, MasksReachEveryDepthBelowTheirFolder)
{
    const std::string profile = CopyProfile();
    const std::string archive = Path("backup.pcv");
    ASSERT_TRUE(Facade(archive, "", profile)->AddFiles({"*.*"}));

    auto reader = Facade(archive, "", Path("base/"));
    const std::string target = Path("msf/");
    EXPECT_EQ(reader->ExtractFolderTo("Mail", "*.msf", target), 3);
    EXPECT_EQ(
        TreeNames(target),
        (std::vector<std::string>{"Mail/Local Folders/Archives.sbd/2009.msf",
                                  "Mail/Local Folders/Inbox.msf", "Mail/Local Folders/Sent.msf"}));

    EXPECT_EQ(reader->ExtractFolderTo("", "*.mab", Path("mab/")), 2);
    EXPECT_EQ(TreeNames(Path("mab/")), (std::vector<std::string>{"abook.mab", "history.mab"}));

    EXPECT_EQ(reader->ExtractFolder("ImapMail", "*.*"), 2); // into the base folder
    EXPECT_EQ(TreeNames(Path("base/")),
              (std::vector<std::string>{"ImapMail/imap.example.org/INBOX",
                                        "ImapMail/imap.example.org/INBOX.msf"}));

    EXPECT_EQ(reader->ExtractFileTo("indexfile.txt", Path("none/")), 0);
    EXPECT_FALSE(fs::exists(Path("none"))); // nothing matched, nothing created
    EXPECT_EQ(reader->ExtractFiles({"prefs.js", "Mail/Local Folders/Junk"}), 2);
    EXPECT_EQ(fs::file_size(Path("base/Mail/Local Folders/Junk")), 0u);
    EXPECT_EQ(reader->ExtractFileTo("prefs.js", ""), 0); // never the current directory
}

TEST_F(ZipFactoryRead, ExtractionOverwritesAndKeepsTheExistingFilesPermissions)
{
    const std::string profile = CopyProfile();
    const std::string archive = Path("backup.pcv");
    ASSERT_TRUE(Facade(archive, "", profile)->AddFiles({"prefs.js"}));
    const fs::path existing = dir_.Write("target/prefs.js", "user_pref(\"old\", true);\n");
    fs::permissions(existing,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    EXPECT_EQ(Facade(archive, "", "")->ExtractFileTo("prefs.js", Path("target/")), 1);
    EXPECT_EQ(ReadFile(existing), ReadFile(profile + "prefs.js"));
    EXPECT_EQ(fs::status(existing).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(ZipFactoryRead, NamesThatAreNotUtf8AreStoredAndComeBackUnchanged)
{
    const std::string profile = CopyProfile();
    // A mailbox named in Latin-1 on an older system, beside the UTF-8 ones.
    dir_.Write("profile/Mail/Local Folders/Entw\xfcrfe-alt", "latin-1 named mailbox");
    auto writer = Facade(Path("b.pcv"), "", profile);
    ASSERT_TRUE(writer->AddFiles({"Mail"}));
    EXPECT_TRUE(writer->Problems().empty());

    auto reader = Facade(Path("b.pcv"), "", Path("out/"));
    reader->ExtractFolder("", "*.*");
    EXPECT_TRUE(reader->Problems().empty());
    EXPECT_EQ(TreeNames(Path("out/Mail")), TreeNames(profile + "Mail"));
    EXPECT_EQ(ReadFile(Path("out/Mail/Local Folders/Entw\xfcrfe-alt")), "latin-1 named mailbox");
}

TEST_F(ZipFactoryRead, AddTaskStoresOutsideFilesRelativeToTheirRoot)
{
    const std::string profile = CopyProfile();
    dir_.Write("outside/Post/Work/Inbox", "From - Mon Mar  2 10:00:00 2009\n\nHi\n");
    dir_.Write("outside/Post/Work/Inbox.msf", "// mork\n");
    TArchiveTask task;
    task.Files = {"prefs.js", "Mail/Local Folders/Inbox"};
    task.Externals = {{Path("outside/Post/"), "Work/Inbox"},
                      {Path("outside/Post/"), "Work/Inbox.msf"}};
    task.TotalBytes = 100;
    const std::string archive = Path("backup.pcv");
    ASSERT_TRUE(Facade(archive, "", profile)->AddTask(task));

    std::vector<std::string> names;
    for (const auto& [name, info] : ArchiveEntries(archive))
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"Mail/Local Folders/Inbox", "Work/Inbox",
                                               "Work/Inbox.msf", "prefs.js"}));
}

TEST_F(ZipFactoryRead, LaterAddsJoinTheExistingArchive)
{
    const std::string profile = CopyProfile();
    const std::string archive = Path("backup.pcv");
    auto facade = Facade(archive, "", profile);
    ASSERT_TRUE(facade->AddFiles({"prefs.js"}));
    dir_.Write("outside/Work/Inbox", "mail");
    ASSERT_TRUE(facade->AddFilesFrom("Work/Inbox", Path("outside/")));
    const auto entries = ArchiveEntries(archive);
    EXPECT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries.at("Work/Inbox").Content, "mail");
    EXPECT_EQ(entries.at("prefs.js").Content, ReadFile(profile + "prefs.js"));
}

// ---- passwords -----------------------------------------------------------------

class ZipFactoryPassword : public TArchiveFixture {
protected:
    void SetUp() override
    {
        TArchiveFixture::SetUp();
        profile_ = CopyProfile();
        archive_ = Path("secret.pcv");
        ASSERT_TRUE(Facade(archive_, "right", profile_)->AddFiles({"Mail"}));
        // As a later run of the program: no password known yet.
        state_.Password.clear();
        state_.Operation = TOperation::Restore;
    }
    int AskCount() const
    {
        return static_cast<int>(std::count(ui_.Calls.begin(), ui_.Calls.end(), "AskPassword"));
    }
    std::string profile_;
    std::string archive_;
};

TEST_F(ZipFactoryPassword, WrongPasswordThenRightAnswerAsksOnceForTheWholeRun)
{
    state_.Password = "wrong";
    ui_.Passwords = {std::string("right")};
    EXPECT_EQ(Facade(archive_, "", Path("a/"))->ExtractFolder("Mail", "*.*"), 9);
    EXPECT_EQ(AskCount(), 1);
    EXPECT_EQ(state_.Password, "right");
    EXPECT_EQ(TreeContents(Path("a/Mail")), TreeContents(profile_ + "Mail"));

    // A later facade of the same run (index read, then restore) does not ask again,
    // whichever operation it uses.
    auto restore = Facade(archive_, "", Path("b/"));
    EXPECT_EQ(restore->ExtractFolderTo("Mail", "*.msf", Path("b/")), 3);
    EXPECT_EQ(restore->ExtractFileTo("Mail/Local Folders/Inbox", Path("b/")), 1);
    EXPECT_EQ(AskCount(), 1);
}

TEST_F(ZipFactoryPassword, CancelledRequestExtractsNothingAndAsksNoMore)
{
    ui_.Passwords = {std::nullopt};
    auto reader = Facade(archive_, "", Path("a/"));
    EXPECT_EQ(reader->ExtractFolder("Mail", "*.*"), 0);
    EXPECT_EQ(AskCount(), 1);
    EXPECT_TRUE(state_.Password.empty());
    EXPECT_TRUE(TreeNames(Path("a/")).empty());
    if (fs::exists(Path("a/Mail/Local Folders"))) {
        EXPECT_TRUE(Leftovers(Path("a/Mail/Local Folders"), "Inbox").empty());
    }
    EXPECT_EQ(reader->Problems().size(), 9u);
}

TEST_F(ZipFactoryPassword, WrongAnswerLeavesTheEntryOut)
{
    ui_.Passwords = {std::string("guess")};
    EXPECT_EQ(
        Facade(archive_, "", Path("a/"))->ExtractFileTo("Mail/Local Folders/Inbox", Path("a/")), 0);
    EXPECT_EQ(AskCount(), 1);
    EXPECT_EQ(state_.Password, "guess"); // confirmed answers are kept, right or not
    EXPECT_FALSE(fs::exists(Path("a/Mail/Local Folders/Inbox")));
}

TEST_F(ZipFactoryPassword, ConstructorPasswordOpensWithoutAsking)
{
    EXPECT_EQ(Facade(archive_, "right", Path("a/"))->ExtractFolder("", "*.msf"), 3);
    EXPECT_EQ(AskCount(), 0);
}

TEST_F(ZipFactoryPassword, TraditionalEncryptionOfOlderBackupsIsRead)
{
    if (zip_encryption_method_supported(ZIP_EM_TRAD_PKWARE, 1) == 0)
        GTEST_SKIP() << "this libzip cannot write traditional encryption";
    const std::string old = Path("old.pcv");
    WriteRawArchive(old,
                    {{"indexfile.txt", "[General]\nAppNumber=2\n", ZIP_EM_TRAD_PKWARE},
                     {"prefs.js", "user_pref(\"a\", 1);\n", ZIP_EM_TRAD_PKWARE}},
                    "stará");
    ui_.Passwords = {std::string("stará")};
    EXPECT_EQ(Facade(old, "", Path("a/"))->ExtractFolder("", "*.*"), 2);
    EXPECT_EQ(ReadFile(Path("a/prefs.js")), "user_pref(\"a\", 1);\n");
    EXPECT_EQ(AskCount(), 1);
}

// 7-Zip writes WinZip AES entries in the AE-2 form, with no CRC: the authentication
// code alone protects them.
class ZipFactorySevenZipAes : public ZipFactoryPassword {
protected:
    std::string Fixture() const
    {
        return std::string(TESSARIN_TEST_DATA) + "/archive/7zip-aes256.zip";
    }
    // Flips one byte of the encrypted data of an entry of a copy of the fixture.
    std::string Tampered(const std::vector<std::string>& names)
    {
        std::string data = ReadFile(Fixture());
        for (const auto& name : names) {
            const std::size_t at = data.find(name) - 30; // its local header
            const auto u16 = [&](std::size_t p) {
                return static_cast<std::size_t>(static_cast<unsigned char>(data[p])) |
                       static_cast<std::size_t>(static_cast<unsigned char>(data[p + 1])) << 8;
            };
            const std::size_t content = at + 30 + u16(at + 26) + u16(at + 28);
            data[content + 16 + 2 + 5] ^= 0x01; // past the salt and the password check
        }
        dir_.Write("tampered.zip", data);
        return Path("tampered.zip");
    }
};

TEST_F(ZipFactorySevenZipAes, StoredDeflatedAndEmptyEntriesComeBack)
{
    state_.Password = "AESsecret";
    auto reader = Facade(Fixture(), "", Path("t/"));
    EXPECT_EQ(reader->ExtractFolder("", "*.*"), 5)
        << ::testing::PrintToString(ProblemTexts(reader->Problems()));
    EXPECT_EQ(ReadFile(Path("t/prefs.js")), ReadFile(profile_ + "prefs.js"));
    EXPECT_EQ(ReadFile(Path("t/history.mab")), ReadFile(profile_ + "history.mab")); // stored
    EXPECT_EQ(ReadFile(Path("t/Mail/Local Folders/Inbox")),
              ReadFile(profile_ + "Mail/Local Folders/Inbox"));
    EXPECT_EQ(ReadFile(Path("t/times.json")), "{\"created\":1236000000000}\n");
    EXPECT_EQ(fs::file_size(Path("t/Mail/Local Folders/Junk")), 0u);
    EXPECT_EQ(AskCount(), 0);
}

TEST_F(ZipFactorySevenZipAes, WrongPasswordIsAskedForOnce)
{
    state_.Password = "wrong";
    ui_.Passwords = {std::string("AESsecret")};
    EXPECT_EQ(Facade(Fixture(), "", Path("t/"))->ExtractFolder("", "*.*"), 5);
    EXPECT_EQ(AskCount(), 1);
}

TEST_F(ZipFactorySevenZipAes, AlteredDataIsRefusedAndTheExistingFileKept)
{
    const std::string archive = Tampered({"history.mab", "prefs.js"});
    dir_.Write("t/prefs.js", "user_pref(\"kept\", true);\n");
    state_.Password = "AESsecret";
    ui_.Passwords = {std::nullopt}; // damage looks like a wrong password: asked, cancelled
    auto reader = Facade(archive, "", Path("t/"));
    EXPECT_EQ(reader->ExtractFolder("", "*.*"), 3);
    EXPECT_EQ(reader->Problems().size(), 2u);
    EXPECT_EQ(ReadFile(Path("t/prefs.js")), "user_pref(\"kept\", true);\n");
    EXPECT_FALSE(fs::exists(Path("t/history.mab")));
    EXPECT_TRUE(Leftovers(Path("t"), "prefs.js").empty());
}

// ---- hostile archives ----------------------------------------------------------

TEST_F(ZipFactoryRead, NamesThatLeaveTheTargetAreSkippedAndCounted)
{
    const std::string archive = Path("hostile.pcv");
    WriteRawArchive(archive, {{"../evil1.txt", "x"},
                              {"sub/../../evil2.txt", "x"},
                              {Path("evil3.txt"), "x"}, // absolute
                              {"C:/evil4.txt", "x"},
                              {"..\\evil5.txt", "x"},
                              {"sub\\..\\..\\evil6.txt", "x"},
                              {"good/prefs.js", "fine"}});
    const auto before = TreeNames(dir_.Path());
    auto reader = Facade(archive, "", Path("deep/target/"));
    EXPECT_EQ(reader->ExtractFolder("", "*.*"), 1);
    ASSERT_EQ(reader->Problems().size(), 6u);
    for (const TArchiveProblem& problem : reader->Problems())
        EXPECT_EQ(problem.Kind, TArchiveProblemKind::NameOutside) << problem.Name;
    auto after = TreeNames(dir_.Path());
    after.erase(std::remove(after.begin(), after.end(), "deep/target/good/prefs.js"), after.end());
    EXPECT_EQ(after, before);
    EXPECT_FALSE(fs::exists("/evil4.txt"));
}

TEST_F(ZipFactoryRead, SymbolicLinksAreNeverWrittenThrough)
{
    const std::string archive = Path("links.pcv");
    WriteRawArchive(archive, {{"Mail/Inbox", "mail"},
                              {"prefs.js", "new prefs"},
                              {"link-entry", "/etc/passwd", ZIP_EM_NONE, 0120777}});
    const fs::path outside = dir_.Path() / "outside";
    fs::create_directories(outside);
    dir_.Write("outside/victim.txt", "keep me");
    fs::create_directories(dir_.Path() / "target");
    fs::create_directory_symlink(outside, dir_.Path() / "target/Mail");
    fs::create_symlink(outside / "victim.txt", dir_.Path() / "target/prefs.js");
    dir_.Write("program/Default.lng",
               "[Messages]\nLANG_SYMLINK_SKIPPED=Verknuepfung; ausgelassen\n");

    auto reader = Facade(archive, "", Path("target/"));
    EXPECT_EQ(reader->ExtractFolder("", "*.*"), 1);
    EXPECT_EQ(TreeNames(outside), (std::vector<std::string>{"victim.txt"}));
    EXPECT_EQ(ReadFile(outside / "victim.txt"), "keep me");
    // The link in the file's place was replaced, not followed.
    EXPECT_FALSE(fs::is_symlink(dir_.Path() / "target/prefs.js"));
    EXPECT_EQ(ReadFile(dir_.Path() / "target/prefs.js"), "new prefs");
    EXPECT_FALSE(fs::exists(dir_.Path() / "target/link-entry"));
    ASSERT_EQ(reader->Problems().size(), 2u);
    EXPECT_EQ(ProblemText(reader->Problems()[1]), "link-entry: Verknuepfung; ausgelassen");
}

TEST_F(ZipFactoryRead, BrokenArchivesGiveNothing)
{
    const std::string profile = CopyProfile();
    const std::string good = Path("good.pcv");
    ASSERT_TRUE(Facade(good, "", profile)->AddFiles({"Mail"}));
    const std::string data = ReadFile(good);
    dir_.Write("truncated.pcv", data.substr(0, data.size() / 2));
    dir_.Write("garbage.pcv", std::string(5000, 'G'));
    dir_.Write("empty.pcv", "");
    std::string damaged = data;
    const std::string first = "Mail/Local Folders/Entwürfe";
    damaged[data.find(first) + first.size() + 40] ^= 0x5A; // inside the first entry's data
    dir_.Write("damaged.pcv", damaged);

    for (const char* name : {"truncated.pcv", "garbage.pcv", "empty.pcv", "missing.pcv"}) {
        auto reader = Facade(Path(name), "", Path("t/"));
        EXPECT_EQ(reader->ExtractFolder("", "*.*"), 0) << name;
        EXPECT_FALSE(reader->Problems().empty()) << name;
    }
    auto reader = Facade(Path("damaged.pcv"), "", Path("d/"));
    EXPECT_EQ(reader->ExtractFolder("", "*.*"), 8); // every entry but the damaged one
    EXPECT_TRUE(Leftovers(Path("d/Mail/Local Folders"), "x").empty());
}

TEST_F(ZipFactoryRead, ModesComeBackAndKeysAndPasswordsStayTheOwners)
{
    const mode_t savedMask = ::umask(022);
    // Stored 0: the entry carries no Unix mode (another tool wrote it).
    const struct {
        const char* Name;
        mode_t Stored;
        mode_t Restored;
    } rows[] = {
        {"bookmarks.html", 0640, 0640}, {"times.json", 0604, 0604},   {"key4.db", 0600, 0600},
        {"logins.json", 0644, 0600},    {"cert9.db-wal", 0640, 0600}, {"signons.sqlite", 0, 0600},
        {"key3.db", 0, 0600},           {"notes.txt", 0, 0600},
    };
    std::vector<std::string> files;
    std::vector<TRawEntry> raw;
    for (const auto& row : rows) {
        if (row.Stored == 0) {
            raw.push_back({row.Name, row.Name});
            continue;
        }
        dir_.Write(std::string("p/") + row.Name, row.Name);
        fs::permissions(Path(std::string("p/") + row.Name), static_cast<fs::perms>(row.Stored));
        files.push_back(row.Name);
    }
    ASSERT_TRUE(Facade(Path("modes.pcv"), "", Path("p/"))->AddFiles(files));
    WriteRawArchive(Path("raw.pcv"), raw);
    int error = 0;
    zip_t* za = zip_open(Path("raw.pcv").c_str(), 0, &error);
    ASSERT_NE(za, nullptr);
    for (zip_uint64_t i = 0; i < raw.size(); ++i)
        zip_file_set_external_attributes(za, i, 0, ZIP_OPSYS_DOS, 0);
    ASSERT_EQ(zip_close(za), 0);
    for (const char* archive : {"modes.pcv", "raw.pcv"})
        Facade(Path(archive), "", Path("restored/"))->ExtractFolder("", "*.*");
    for (const auto& row : rows)
        EXPECT_EQ(fs::status(Path(std::string("restored/") + row.Name)).permissions(),
                  static_cast<fs::perms>(row.Restored))
            << row.Name;
    ::umask(savedMask);
}

TEST_F(ZipFactoryRead, KeysReplacedOrMetAsALinkEndOwnerOnly)
{
    WriteRawArchive(Path("k.pcv"), {{"key4.db", "new keys"},
                                    {"logins.json", "new logins"},
                                    {"prefs.js", "new prefs", ZIP_EM_NONE, 0100644}});
    const auto othersRead = fs::perms::owner_read | fs::perms::owner_write |
                            fs::perms::group_read | fs::perms::others_read;
    fs::permissions(dir_.Write("t/key4.db", "old keys"), othersRead);
    fs::permissions(dir_.Write("elsewhere/logins.json", "theirs"), othersRead);
    fs::create_symlink(Path("elsewhere/logins.json"), Path("t/logins.json"));
    fs::permissions(dir_.Write("t/prefs.js", "old prefs"),
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    EXPECT_EQ(Facade(Path("k.pcv"), "", Path("t/"))->ExtractFolder("", "*.*"), 3);
    const auto ownerOnly = fs::perms::owner_read | fs::perms::owner_write;
    EXPECT_EQ(fs::status(Path("t/key4.db")).permissions(), ownerOnly);
    EXPECT_EQ(fs::symlink_status(Path("t/logins.json")).type(), fs::file_type::regular);
    EXPECT_EQ(fs::status(Path("t/logins.json")).permissions(), ownerOnly);
    EXPECT_EQ(ReadFile(Path("t/logins.json")), "new logins");
    EXPECT_EQ(ReadFile(Path("elsewhere/logins.json")), "theirs");
    EXPECT_EQ(fs::status(Path("elsewhere/logins.json")).permissions(), othersRead);
    // Not a private file: the existing one keeps its mode.
    EXPECT_EQ(fs::status(Path("t/prefs.js")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(ZipFactoryRead, EntryLargerThanItsDirectorySaysStopsAtThatSize)
{
    // A hostile archive states 1000 bytes and inflates to 100000.
    const std::string archive = Path("lying.pcv");
    WriteRawArchive(archive, {{"big.txt", std::string(100000, 'a')}});
    std::string bytes = ReadFile(archive);
    const std::uint32_t stated = 1000;
    for (const auto& [signature, offset] : {std::pair<std::string, std::size_t>{"PK\x03\x04", 22},
                                            {"PK\x01\x02", 24}}) {
        const std::size_t at = bytes.find(signature);
        ASSERT_NE(at, std::string::npos);
        for (std::size_t i = 0; i < 4; ++i)
            bytes[at + offset + i] = static_cast<char>((stated >> (8 * i)) & 0xFF);
    }
    std::ofstream(archive, std::ios::binary | std::ios::trunc) << bytes;

    auto reader = Facade(archive, "", Path("out/"));
    EXPECT_EQ(reader->ExtractedSize("big.txt"), stated);
    EXPECT_EQ(reader->ExtractedSize("missing.txt"), 0u);
    {
        // Past the stated size the disk would fill: the read must stop before.
        TFileSizeLimit limit(50000);
        EXPECT_EQ(reader->ExtractFolder("", "*.*"), 0);
    }
    EXPECT_EQ(ProblemTexts(reader->Problems()),
              std::vector<std::string>{"big.txt: Zip archive inconsistent"});
    EXPECT_FALSE(fs::exists(Path("out/big.txt")));
    EXPECT_TRUE(Leftovers(Path("out"), "big.txt").empty());
}

} // namespace
} // namespace tessarin::test
