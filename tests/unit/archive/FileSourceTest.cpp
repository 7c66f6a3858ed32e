// The archive file as our own libzip source writes and reads it.

#include "archive/FileSource.h"
#include "ArchiveFixture.h"
#include "archive/ZipHandles.h"
#include "support/FileSizeLimit.h"

namespace tessarin::test {
namespace {

struct TEntry {
    std::string Name;
    std::string Content;
    bool Stored;
};

// Writes the entries through our source; the result of zip_close.
int WriteThroughSource(const std::string& archive, const std::vector<TEntry>& entries)
{
    int error = 0;
    zip_t* za = OpenArchiveFile(archive, ZIP_CREATE | ZIP_EXCL, &error);
    EXPECT_NE(za, nullptr) << ZipErrorText(error);
    if (za == nullptr)
        return -1;
    for (const TEntry& e : entries) {
        zip_source_t* src = zip_source_buffer(za, e.Content.data(), e.Content.size(), 0);
        const zip_int64_t index = zip_file_add(za, e.Name.c_str(), src, 0);
        EXPECT_GE(index, 0);
        if (e.Stored)
            zip_set_file_compression(za, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
    }
    const int closed = zip_close(za);
    if (closed != 0)
        zip_discard(za);
    return closed;
}

// Every entry, read in reverse order (each read seeks back), through open.
std::vector<std::string> ReadBack(zip_t* za)
{
    std::vector<std::string> out(static_cast<std::size_t>(zip_get_num_entries(za, 0)));
    for (std::size_t i = out.size(); i-- > 0;) {
        zip_stat_t st;
        zip_stat_index(za, i, 0, &st);
        const TZipFilePtr file(zip_fopen_index(za, i, 0));
        out[i].resize(st.size);
        if (!file ||
            zip_fread(file.get(), out[i].data(), st.size) != static_cast<zip_int64_t>(st.size))
            out[i] = "unreadable";
    }
    return out;
}

TEST(ArchiveFileSourceTest, WritesWhatLibzipReadsBackAndReadsItBackItself)
{
    struct TRow {
        const char* What;
        std::vector<TEntry> Entries;
    };
    std::vector<TEntry> many;
    for (unsigned i = 0; i < 300; ++i)
        many.push_back(
            {"cache2/entries/" + std::to_string(i), Incompressible(900 + i * 7, i), i % 2 == 0});
    const TRow rows[] = {
        {"many small entries, headers completed in the pending bytes", many},
        {"entries larger than a write piece",
         {{"a.xpi", Incompressible(700 * 1024, 1), true},
          {"Mail/Inbox", CompressibleText(3 * MiB, 2), false},
          {"big.sqlite", Incompressible(2 * MiB + 5, 3), true},
          {"empty", "", false}}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.What);
        TTempDir dir;
        const std::string archive = (dir.Path() / "b.pcv").string();
        ASSERT_EQ(WriteThroughSource(archive, row.Entries), 0);
        EXPECT_TRUE(Leftovers(dir.Path(), "b.pcv").empty());
        EXPECT_EQ(fs::status(archive).permissions(),
                  fs::perms::owner_read | fs::perms::owner_write);
        std::vector<std::string> expected;
        for (const TEntry& e : row.Entries)
            expected.push_back(e.Content);
        int error = 0;
        const TZipArchivePtr theirs(zip_open(archive.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error));
        ASSERT_TRUE(theirs);
        EXPECT_TRUE(ReadBack(theirs.get()) == expected);
        const TZipArchivePtr ours(OpenArchiveFile(archive, ZIP_RDONLY, &error));
        ASSERT_TRUE(ours);
        EXPECT_TRUE(ReadBack(ours.get()) == expected);
    }
}

TEST(ArchiveFileSourceTest, AFailedOrAbandonedWriteLeavesNothing)
{
    TTempDir dir;
    const std::string archive = (dir.Path() / "b.pcv").string();
    int error = 0;
    EXPECT_EQ(OpenArchiveFile(archive, ZIP_RDONLY, &error), nullptr);
    EXPECT_EQ(error, ZIP_ER_NOENT);
    {
        // A full disk halfway through.
        TFileSizeLimit limit(3 * MiB);
        EXPECT_NE(WriteThroughSource(archive, {{"big", Incompressible(4 * MiB, 1), true}}), 0);
    }
    // Abandoned before the close, and closed without entries.
    zip_discard(OpenArchiveFile(archive, ZIP_CREATE, &error));
    zip_t* empty = OpenArchiveFile(archive, ZIP_CREATE, &error);
    EXPECT_EQ(zip_close(empty), 0);
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

} // namespace
} // namespace tessarin::test
