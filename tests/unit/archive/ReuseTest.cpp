// A backup written beside an earlier one copies the entries of unchanged files from it.

#include "ArchiveFixture.h"
#include "archive/ArchiveVerify.h"
#include "support/ZipDamage.h"

#include <chrono>

namespace tessarin::test {
namespace {

class ReuseTest : public TArchiveFixture {
protected:
    const std::vector<std::string> files_ = {
        "Mail/Local Folders/Inbox", "prefs.js", "photo.jpg", "tiny.txt", "same.txt", "changed.txt"};

    void MakeProfile()
    {
        dir_.Write("p/Mail/Local Folders/Inbox", CompressibleText(MiB, 1));
        dir_.Write("p/prefs.js", CompressibleText(200 * 1024, 2));
        dir_.Write("p/photo.jpg", Incompressible(100 * 1024, 3));
        dir_.Write("p/tiny.txt", "0123456789");
        dir_.Write("p/same.txt", CompressibleText(50 * 1024, 4));
        dir_.Write("p/changed.txt", CompressibleText(50 * 1024, 5));
    }

    // Writes the profile into archive, copying from earlier; the entries copied.
    std::size_t Backup(const std::string& archive, const std::string& password,
                       const std::string& earlier = {})
    {
        auto facade = Facade(archive, password, Path("p/"));
        facade->ReuseEntriesOf(earlier);
        EXPECT_TRUE(facade->AddTask(TArchiveTask{files_, {}, 1}));
        EXPECT_TRUE(facade->Problems().empty());
        return facade->ReusedEntries();
    }

    // The archive reads back whole and gives back the profile byte for byte.
    void ExpectRestoresProfile(const std::string& archive, const std::string& password)
    {
        EXPECT_EQ(VerifyArchive(archive, password), std::nullopt);
        fs::remove_all(Path("out"));
        fs::create_directories(Path("out"));
        EXPECT_EQ(Facade(archive, password, Path("out/"))->ExtractFolder("", "*.*"), 6);
        EXPECT_TRUE(TreeContents(Path("out")) == TreeContents(Path("p"))); // no dump of megabytes
    }
};

TEST_F(ReuseTest, UnchangedFilesAreCopiedAsStoredAndAFileRewrittenInTheSameSecondIsNot)
{
    struct TRow {
        const char* Password;
        // Inbox, prefs.js and the stored photo; plain, the stored tiny.txt too
        // (encrypted, it is too short to carry a CRC)
        std::size_t Reused;
    };
    for (const TRow row : {TRow{"", 4}, TRow{"Daily 7", 3}}) {
        SCOPED_TRACE(row.Password);
        MakeProfile();
        const std::string earlier = Path("earlier.pcv");
        EXPECT_EQ(Backup(earlier, row.Password), 0u);
        const std::string earlierBytes = ReadFile(earlier);

        // Rewritten with other bytes of the same size, its time put back: only the CRC tells.
        const fs::path same = Path("p/same.txt");
        const auto time = fs::last_write_time(same);
        dir_.Write("p/same.txt", CompressibleText(50 * 1024, 40));
        fs::last_write_time(same, time);
        dir_.Write("p/changed.txt", CompressibleText(51 * 1024, 50));

        const std::string next = Path("next.pcv");
        EXPECT_EQ(Backup(next, row.Password, earlier), row.Reused);
        ExpectRestoresProfile(next, row.Password);
        EXPECT_TRUE(ReadFile(earlier) == earlierBytes);
        // Copied, not written anew: an encrypted entry keeps its earlier salt.
        EXPECT_TRUE(StoredBytes(next, "Mail/Local Folders/Inbox") ==
                    StoredBytes(earlier, "Mail/Local Folders/Inbox"));
        EXPECT_TRUE(StoredBytes(next, "same.txt") != StoredBytes(earlier, "same.txt"));
        fs::remove_all(Path("p"));
        fs::remove(earlier);
        fs::remove(next);
    }
}

TEST_F(ReuseTest, AnEarlierArchiveThatCannotServeIsIgnored)
{
    struct TRow {
        const char* What;
        const char* Password;
        std::function<void(const std::string& path)> Make;
    };
    const TRow rows[] = {
        {"no file", "", [](const std::string&) {}},
        {"garbage", "",
         [this](const std::string&) { dir_.Write("earlier.pcv", "PK\3\4 not a zip"); }},
        {"truncated", "",
         [this](const std::string& path) {
             Backup(path, "");
             fs::resize_file(path, fs::file_size(path) / 2);
         }},
        {"another password", "Daily 7", [this](const std::string& path) { Backup(path, "other"); }},
        {"plain, for an encrypted backup", "Daily 7",
         [this](const std::string& path) { Backup(path, ""); }},
        {"encrypted, for a plain backup", "",
         [this](const std::string& path) { Backup(path, "Daily 7"); }},
        {"another tool's archive of other files with the same names", "",
         [this](const std::string& path) {
             std::vector<TRawEntry> entries;
             for (const std::string& name : files_)
                 entries.push_back({name, CompressibleText(fs::file_size(Path("p/" + name)), 9)});
             WriteRawArchive(path, entries);
         }},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.What);
        MakeProfile();
        const std::string earlier = Path("earlier.pcv");
        row.Make(earlier);
        const std::string earlierBytes = fs::exists(earlier) ? ReadFile(earlier) : "";

        const std::string next = Path("next.pcv");
        EXPECT_EQ(Backup(next, row.Password, earlier), 0u);
        ExpectRestoresProfile(next, row.Password);
        EXPECT_TRUE((fs::exists(earlier) ? ReadFile(earlier) : "") == earlierBytes);
        fs::remove_all(Path("p"));
        fs::remove(earlier);
        fs::remove(next);
    }
}

TEST_F(ReuseTest, ClosingTheProgramWhileFilesAreComparedLeavesNoArchiveAndTheEarlierAsItWas)
{
    MakeProfile();
    const std::string earlier = Path("earlier.pcv");
    Backup(earlier, "");
    const std::string earlierBytes = ReadFile(earlier);
    auto facade = Facade(Path("next.pcv"), "", Path("p/"));
    facade->ReuseEntriesOf(earlier);
    ui_.ExitAfterProcessEvents = ui_.ProcessEventsCalls + 1; // inside the first comparison
    EXPECT_THROW(facade->AddTask(TArchiveTask{files_, {}, 1}), TProgramExit);
    EXPECT_FALSE(fs::exists(Path("next.pcv")));
    EXPECT_TRUE(Leftovers(dir_.Path(), "next.pcv").empty());
    EXPECT_TRUE(ReadFile(earlier) == earlierBytes);
}

} // namespace
} // namespace tessarin::test
