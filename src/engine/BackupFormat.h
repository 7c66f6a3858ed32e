#pragma once
// The backup file: the index entry "indexfile.txt" inside a .pcv archive, and the
// older plain-text backup, which is still read.

#include "config/SharedState.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tessarin {

inline constexpr const char* IndexFileName = "indexfile.txt";
inline constexpr const char* IndexMagic = "Tessarin Vault";
// Four asterisks, four slashes, four backslashes, four asterisks.
inline constexpr const char* IndexSeparator = "****////\\\\\\\\****";

// Components in the order of the index's flag line (7 has no flag).
inline constexpr std::array<int, 14> IndexFlagComponents = {1,  2,  3,  4,  5,  6,  8,
                                                            9, 10, 11, 12, 13, 14, 15};

struct TBackupIndex {
    std::int32_t AppNumber = 0; // 0 when the revision line is missing or not a number
    std::string Version;        // the source application's version; empty in older backups
    std::string Flags;          // trimmed flag line, possibly shorter than 14
    std::vector<std::string> ExternalMailDirs;
    std::vector<TUnknowItem> UnknownItems;

    bool HasComponent(int component) const;
};

// The index entry, byte for byte (CR LF line ends). The version goes after "Verze: ",
// a line older readers skip.
std::string BuildBackupIndexText(int appNumber,
                                 const std::array<TComponentBox, ComponentCount + 1>& boxes,
                                 const std::vector<std::string>& externalMailDirs,
                                 const std::vector<TUnknowItem>& unknownItems,
                                 std::string_view version = {});

// The archive folder each outside mail folder of the index is stored under, in the
// index's order: its own last name, as older backups have it, unless an earlier
// folder of the list took that name (letters compared without case, as extraction
// matches them); then the name with "~2", "~3", ... added, the first that is free.
// Empty for a folder without a last name. Backup and restore both derive the names
// from the index lines, so the index keeps its layout.
std::vector<std::string> OutsideMailArchiveNames(const std::vector<std::string>& folders);

// Reads an index entry; a legacy text backup stops after the flag line.
TBackupIndex ParseBackupIndex(std::string_view text, bool legacy);

// Legacy check: magic on line 1 and, on line 2, the selected application's number.
bool IsLegacyBackupFor(std::string_view text, int appNumber);

// Restore side: boxes checked and enabled exactly when the index holds them; 7 off.
void ApplyIndexToBoxes(const TBackupIndex& index, TSharedState& state);

// Compares two application versions ("115.8.0esr", "153.0.1") part by part on their
// leading numbers: negative, 0 or positive. Missing parts count as 0.
int CompareVersions(std::string_view a, std::string_view b);

// Splits text into lines the way a text reader does (CR LF, LF or CR).
std::vector<std::string> SplitLines(std::string_view text);

} // namespace tessarin
