#pragma once
// Backup file names: the pattern with placeholders, the folder a backup is
// proposed in, and the folder remembered per application in the user's key store.

#include "config/SharedState.h"

#include <cstdint>
#include <locale>
#include <string>
#include <string_view>

namespace tessarin {

class IKeyStore;

// What the catalogue knows about the selected application, as the pattern needs it.
struct TApplicationNames {
    std::string FileWord; // ApplicationFileWord(AppNumber, ExternalProfileDir)
    std::string Version;  // installation-table version; empty for 0 and 10
};

// A moment split the way placeholders use it.
struct TLocalTime {
    int Year = 0;
    int Month = 0; // 1..12
    int Day = 0;
    int Hour = 0; // 0..23
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
    int DayOfWeek = 0; // 0 Sunday .. 6 Saturday
};

TLocalTime CurrentLocalTime();

// n as decimal digits, with "0" put in front when that gives one digit.
std::string TwoDigits(unsigned n);

// The locale's long name of a weekday (0 Sunday). The default locale is the user's
// (the environment's), falling back to the classic one.
std::string LongDayName(int dayOfWeek, const std::locale& locale);
std::string LongDayName(int dayOfWeek);

// The key of the remembered folders and the value name for an application.
inline constexpr const char* RememberedFoldersKey = "Software\\Tessarin Vault";
std::string RememberedFolderValueName(int appNumber);

// Replaces the placeholders of text. "<profile>" takes state.SelectedProfile when an
// entry is selected (non-empty); left over, it disappears for a restore (Operation 2)
// and stays otherwise. Every "/" of a value put in becomes "-", so a profile named
// "a/b" gives "a-b"; the "/" of text itself are folder separators and stay.
std::string ExpandFileNamePattern(std::string_view text, const TSharedState& state,
                                  const TApplicationNames& app, const TLocalTime& now,
                                  const std::locale& locale);
std::string ExpandFileNamePattern(std::string_view text, const TSharedState& state,
                                  const TApplicationNames& app);

// The proposed backup path: folder (the application's own folder setting, else
// "backupdir", else the remembered folder, each only when it exists now, else the
// documents folder) + the file-name pattern, expanded. The pattern is a file name:
// its "/" become "-". Sets PatternHasProfile.
std::string BuildDefaultBackupPath(TSharedState& state, const TApplicationNames& app,
                                   const TLocalTime& now, const std::locale& locale);
std::string BuildDefaultBackupPath(TSharedState& state, const TApplicationNames& app);

// The remembered folder of an application, trimmed; empty when there is none or the
// store cannot be read.
std::string ReadRememberedFolder(const IKeyStore& store, int appNumber);
// Remembers the folder part of path (up to and including the last "/") for
// applications 1..9, 11 and 12; other numbers store nothing and answer true.
// False when the store could not be written.
bool WriteRememberedFolder(IKeyStore& store, const std::string& path, int appNumber);

} // namespace tessarin
