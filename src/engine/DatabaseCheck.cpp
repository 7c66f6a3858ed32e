#include "engine/DatabaseCheck.h"

#include "archive/EntryReader.h"
#include "archive/ZipHandles.h"
#include "config/L10n.h"
#include "platform/FileUtil.h"

#include <sqlite3.h>
#include <zip.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <vector>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

constexpr char SqliteHeader[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                   'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};

bool IsDatabaseName(const std::string& name)
{
    return name.ends_with(".sqlite") || name.ends_with(".db");
}

struct TCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

// Writes entry index to path; false with failure set when it cannot be read or written.
bool CopyEntry(zip_t* za, zip_uint64_t index, const std::string& password,
               const std::string& path, std::vector<char>& buffer, std::string& failure)
{
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(za, index, 0, &stat) != 0) {
        failure = zip_strerror(za);
        return false;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const TEntryOutput output{[&out](const char* data, std::size_t size, std::string& why) {
                                  if (out.write(data, static_cast<std::streamsize>(size)))
                                      return true;
                                  why = "cannot write a temporary copy";
                                  return false;
                              },
                              {}};
    const TReadOutcome outcome = ReadEntry(za, index, stat, password, buffer, output, failure);
    if (outcome == TReadOutcome::DecryptionFailed)
        failure = Text("Messages", "LANG_DECRYPTION_FAILED");
    if (outcome != TReadOutcome::Done)
        return false;
    out.close();
    if (!out) {
        failure = "cannot write a temporary copy";
        return false;
    }
    return true;
}

bool StartsWithSqliteHeader(const std::string& path)
{
    char head[sizeof SqliteHeader] = {};
    std::ifstream in(path, std::ios::binary);
    return in.read(head, sizeof head) && std::memcmp(head, SqliteHeader, sizeof head) == 0;
}

} // namespace

std::optional<std::string> QuickCheckDatabase(const std::string& path)
{
    sqlite3* raw = nullptr;
    // Read-write: a database with a -wal beside it is only whole once SQLite has read
    // the log, and that needs its index file. The copy is private.
    const int opened = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    std::unique_ptr<sqlite3, TCloser> db(raw);
    if (opened != SQLITE_OK)
        return std::string(raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(opened));
    // The schema comes from the backup: nothing in it may run.
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_stmt* raw_stmt = nullptr;
    if (sqlite3_prepare_v2(db.get(), "PRAGMA quick_check", -1, &raw_stmt, nullptr) != SQLITE_OK)
        return std::string(sqlite3_errmsg(db.get()));
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw_stmt, sqlite3_finalize);
    const int step = sqlite3_step(stmt.get());
    if (step != SQLITE_ROW)
        return std::string(sqlite3_errmsg(db.get()));
    const auto* answer = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
    const std::string text = answer != nullptr ? answer : "";
    if (text == "ok")
        return std::nullopt;
    return text;
}

std::optional<TDatabaseFailure> CheckStoredDatabases(const std::string& archivePath,
                                                     const std::string& password,
                                                     const std::function<void()>& pump)
{
    int error = 0;
    TZipArchivePtr archive(zip_open(archivePath.c_str(), ZIP_RDONLY, &error));
    if (!archive)
        return TDatabaseFailure{std::string(), ZipErrorText(error)};
    std::map<std::string, zip_uint64_t> names;
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i)
        if (const char* name = zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW))
            names.emplace(name, static_cast<zip_uint64_t>(i));

    TPrivateTempDir scratch;
    const std::string copy = scratch.Folder() + "check.sqlite";
    std::vector<char> buffer;
    for (const auto& [name, index] : names) {
        if (!IsDatabaseName(name))
            continue;
        if (pump)
            pump();
        std::error_code ec;
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
            fs::remove(copy + suffix, ec);
        std::string failure;
        if (!CopyEntry(archive.get(), index, password, copy, buffer, failure))
            return TDatabaseFailure{name, failure};
        // Old profiles keep Berkeley databases as "*.db" (cert8.db, key3.db), and an
        // empty "*.sqlite" is a database not made yet.
        if (!StartsWithSqliteHeader(copy))
            continue;
        if (const auto wal = names.find(name + "-wal"); wal != names.end())
            if (!CopyEntry(archive.get(), wal->second, password, copy + "-wal", buffer, failure))
                return TDatabaseFailure{wal->first, failure};
        if (auto complaint = QuickCheckDatabase(copy))
            return TDatabaseFailure{name, std::move(*complaint)};
    }
    return std::nullopt;
}

} // namespace tessarin
