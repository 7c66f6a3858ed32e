#include "config/OutputNames.h"

#include "config/Environment.h"
#include "config/Settings.h"
#include "platform/IniFile.h"
#include "platform/KeyStore.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <sstream>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

void ReplaceAll(std::string& text, std::string_view what, std::string_view with)
{
    std::size_t pos = 0;
    while ((pos = text.find(what, pos)) != std::string::npos) {
        text.replace(pos, what.size(), with);
        pos += with.size();
    }
}

// A value put into a file name: a "/" in it would start a folder.
std::string AsNamePart(std::string value)
{
    ReplaceAll(value, "/", "-");
    return value;
}

// Applications with a version, a folder setting and a remembered folder.
bool IsCatalogueApp(int appNumber)
{
    return (appNumber >= 1 && appNumber <= 9) || appNumber == 11 || appNumber == 12;
}

// FolderSettings slot of an application's own folder: 2..10 for 1..9, then 11 and 12.
int FolderSlot(int appNumber)
{
    return appNumber <= 9 ? appNumber + 1 : appNumber;
}

std::string ExistingFolder(const std::string& text)
{
    std::string folder = Trim(text);
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec))
        return {};
    return folder;
}

std::locale UserLocale()
{
    try {
        return std::locale("");
    } catch (const std::exception&) {
        return std::locale::classic();
    }
}

} // namespace

TLocalTime CurrentLocalTime()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm tm{};
    localtime_r(&seconds, &tm);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
    TLocalTime out;
    out.Year = tm.tm_year + 1900;
    out.Month = tm.tm_mon + 1;
    out.Day = tm.tm_mday;
    out.Hour = tm.tm_hour;
    out.Minute = tm.tm_min;
    out.Second = tm.tm_sec;
    out.Millisecond = static_cast<int>(((ms.count() % 1000) + 1000) % 1000);
    out.DayOfWeek = tm.tm_wday;
    return out;
}

std::string TwoDigits(unsigned n)
{
    std::string s = std::to_string(n);
    if (s.size() == 1)
        s.insert(s.begin(), '0');
    return s;
}

std::string LongDayName(int dayOfWeek, const std::locale& locale)
{
    std::tm tm{};
    tm.tm_wday = ((dayOfWeek % 7) + 7) % 7;
    std::ostringstream out;
    out.imbue(locale);
    out << std::put_time(&tm, "%A");
    return out.str();
}

std::string LongDayName(int dayOfWeek)
{
    return LongDayName(dayOfWeek, UserLocale());
}

std::string RememberedFolderValueName(int appNumber)
{
    return "Directory" + std::to_string(appNumber);
}

std::string ExpandFileNamePattern(std::string_view text, const TSharedState& state,
                                  const TApplicationNames& app, const TLocalTime& now,
                                  const std::locale& locale)
{
    // One order, each step on the result of the one before: a profile name holding
    // "<year>" gets the year, as it always has.
    std::string out(text);
    ReplaceAll(out, "<application>", AsNamePart(app.FileWord));
    ReplaceAll(out, "<version>", IsCatalogueApp(state.AppNumber) ? AsNamePart(app.Version) : "");
    if (!state.SelectedProfile.empty())
        ReplaceAll(out, "<profile>", AsNamePart(state.SelectedProfile));
    if (state.Operation == TOperation::Restore)
        ReplaceAll(out, "<profile>", "");
    ReplaceAll(out, "<year>", std::to_string(now.Year));
    ReplaceAll(out, "<month>", TwoDigits(static_cast<unsigned>(now.Month)));
    ReplaceAll(out, "<day>", TwoDigits(static_cast<unsigned>(now.Day)));
    ReplaceAll(out, "<hour>", TwoDigits(static_cast<unsigned>(now.Hour)));
    ReplaceAll(out, "<minute>", TwoDigits(static_cast<unsigned>(now.Minute)));
    ReplaceAll(out, "<second>", TwoDigits(static_cast<unsigned>(now.Second)));
    ReplaceAll(out, "<millisecond>", TwoDigits(static_cast<unsigned>(now.Millisecond)));
    // The weekday of the same moment, so name and date always agree.
    ReplaceAll(out, "<dayOfWeek>", AsNamePart(LongDayName(now.DayOfWeek, locale)));
    return out;
}

std::string ExpandFileNamePattern(std::string_view text, const TSharedState& state,
                                  const TApplicationNames& app)
{
    return ExpandFileNamePattern(text, state, app, CurrentLocalTime(), UserLocale());
}

std::string BuildDefaultBackupPath(TSharedState& state, const TApplicationNames& app,
                                   const TLocalTime& now, const std::locale& locale)
{
    // Each choice counts only while its folder exists, so a deleted application
    // folder falls back to "backupdir" rather than skipping it.
    std::string folder;
    if (IsCatalogueApp(state.AppNumber))
        folder = ExistingFolder(state.FolderSettings[FolderSlot(state.AppNumber)]);
    if (folder.empty())
        folder = ExistingFolder(state.FolderSettings[FolderBackupDir]);
    if (folder.empty())
        folder = ExistingFolder(ReadRememberedFolder(*state.Env.KeyStore, state.AppNumber));
    if (folder.empty())
        folder = state.Env.Folders.Documents;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';

    std::string pattern = state.FolderSettings[FolderPattern];
    if (Trim(pattern).empty())
        pattern = DefaultFileNamePattern;
    state.PatternHasProfile = pattern.find("<profile>") != std::string::npos;
    return ExpandFileNamePattern(folder + AsNamePart(pattern), state, app, now, locale);
}

std::string BuildDefaultBackupPath(TSharedState& state, const TApplicationNames& app)
{
    return BuildDefaultBackupPath(state, app, CurrentLocalTime(), UserLocale());
}

std::string ReadRememberedFolder(const IKeyStore& store, int appNumber)
{
    const std::optional<std::string> value =
        store.ReadString(RememberedFoldersKey, RememberedFolderValueName(appNumber));
    return value ? Trim(*value) : std::string();
}

bool WriteRememberedFolder(IKeyStore& store, const std::string& path, int appNumber)
{
    if (!IsCatalogueApp(appNumber))
        return true;
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    return store.WriteString(RememberedFoldersKey, RememberedFolderValueName(appNumber), folder);
}

} // namespace tessarin
