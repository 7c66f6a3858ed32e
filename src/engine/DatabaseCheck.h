#pragma once
// Every SQLite database of a new backup must open. A database copied while its
// application wrote it (or a damaged page on disk) passes the archive's CRC check but
// is lost at the first restore; SQLite's own check of a private copy finds it.

#include <functional>
#include <optional>
#include <string>

namespace tessarin {

struct TDatabaseFailure {
    std::string Entry;  // the database's entry name
    std::string Reason; // SQLite's first complaint
};

// Extracts each stored "*.sqlite" / "*.db" entry that starts with the SQLite header,
// with its stored "-wal" beside it, into a private temporary folder one at a time and
// runs PRAGMA quick_check on it. pump is called between databases (may throw).
// Nothing when every database is sound; else the first that is not.
std::optional<TDatabaseFailure> CheckStoredDatabases(const std::string& archivePath,
                                                     const std::string& password,
                                                     const std::function<void()>& pump = {});

// PRAGMA quick_check of one database file (its "-wal" beside it is used); nothing when
// it answers "ok", else the first line of its answer or the error of opening it.
std::optional<std::string> QuickCheckDatabase(const std::string& path);

} // namespace tessarin
