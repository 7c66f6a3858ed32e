#include "engine/PrefsRestore.h"

#include "archive/SafeExtract.h"
#include "archive/ZipFactory.h"
#include "config/Environment.h"
#include "config/L10n.h"
#include "engine/ArchiveSetup.h"
#include "engine/BackupFormat.h"
#include "engine/OutsideMail.h"
#include "engine/PrefsParser.h"
#include "platform/FileUtil.h"
#include "profiles/Catalogue.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

constexpr std::string_view ProfileToken = "[ProfD]";
constexpr std::string_view RootPrefix = "mail.root.";
constexpr std::string_view RelSuffix = "-rel";

// CR LF after every line; empty lines are dropped.
std::string JoinLines(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines)
        if (!line.empty())
            out.append(line).append("\r\n");
    return out;
}

// The preference lines that say where mail lives.
enum class TPathKind { ServerDirectory, ServerRelative, RootDirectory, RootRelative };

struct TPathLine {
    std::size_t Index;
    TPathKind Kind;
    std::string Owner; // server number or root name, the same for both lines of a pair
    std::string Value; // decoded
};

std::vector<TPathLine> FindPathLines(const std::vector<std::string>& lines)
{
    std::vector<TPathLine> out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find("user_pref(\"mail.") == std::string::npos)
            continue;
        const TPrefsLine line = ParsePrefsLine(lines[i]);
        if (!line.IsString || line.Value.empty())
            continue;
        std::string field;
        TPathLine found{i, TPathKind::ServerDirectory, {}, DecodePrefsPath(line.Value)};
        if (const std::int32_t number = ServerNumberOfKey(line.Key, &field); number > 0) {
            if (field != "directory" && field != "directory-rel")
                continue;
            found.Kind =
                field == "directory" ? TPathKind::ServerDirectory : TPathKind::ServerRelative;
            found.Owner = std::to_string(number);
        } else if (line.Key.starts_with(RootPrefix)) {
            const bool relative = line.Key.ends_with(RelSuffix);
            found.Kind = relative ? TPathKind::RootRelative : TPathKind::RootDirectory;
            found.Owner = line.Key.substr(0, line.Key.size() - (relative ? RelSuffix.size() : 0));
        } else {
            continue;
        }
        out.push_back(std::move(found));
    }
    return out;
}

// The profile folder the backup was made from, ending in "/": an absolute value whose
// relative twin "[ProfD]tail" shows that it is that folder + tail.
std::optional<std::string> FindOldProfileFolder(const std::vector<TPathLine>& paths)
{
    std::map<std::pair<bool, std::string>, const TPathLine*> relatives;
    for (const TPathLine& p : paths)
        if (p.Kind == TPathKind::ServerRelative || p.Kind == TPathKind::RootRelative)
            relatives.emplace(std::pair(p.Kind == TPathKind::ServerRelative, p.Owner), &p);
    for (const TPathLine& p : paths) {
        if (p.Kind != TPathKind::ServerDirectory && p.Kind != TPathKind::RootDirectory)
            continue;
        const auto twin = relatives.find({p.Kind == TPathKind::ServerDirectory, p.Owner});
        if (twin == relatives.end() || !twin->second->Value.starts_with(ProfileToken))
            continue;
        const std::string tail = twin->second->Value.substr(ProfileToken.size());
        // "../x" says nothing about where the profile was.
        const fs::path normal = fs::path(tail).lexically_normal();
        if ((!normal.empty() && *normal.begin() == "..") || !p.Value.ends_with(tail))
            continue;
        std::string old = p.Value.substr(0, p.Value.size() - tail.size());
        if (old.starts_with("/") && old.ends_with("/"))
            return old;
    }
    return std::nullopt;
}

// value with the old profile folder (a whole path prefix) replaced by the new one.
std::optional<std::string> Repoint(const std::string& value, const std::string& oldFolder,
                                   const std::string& newFolder)
{
    if (value + "/" == oldFolder)
        return newFolder.substr(0, newFolder.size() - 1);
    if (value.starts_with(oldFolder))
        return newFolder + value.substr(oldFolder.size());
    return std::nullopt;
}

void AddProblems(const TZipFactory& zip, std::vector<std::string>& report)
{
    for (const TArchiveProblem& problem : zip.Problems())
        report.push_back(ProblemText(problem));
}

// Puts an outside mail folder back at verdict.Resolved (a folder the rules allowed)
// from the archive folder storedAs; false when it cannot be.
bool RestoreOutsideFolder(const TOutsideFolderVerdict& verdict, const std::string& storedAs,
                          TZipFactory& zip, std::vector<std::string>& report)
{
    const fs::path path(verdict.Resolved);
    if (path.filename().empty() || storedAs.empty())
        return false;
    std::error_code ec;
    const bool existed = fs::exists(path, ec);
    fs::create_directories(path, ec);
    if (ec || !fs::is_directory(path, ec))
        return false;
    // Mail is private: a folder made anew is its owner's alone.
    if (!existed)
        fs::permissions(path, fs::perms::owner_all, ec);
    // The archive keeps the folder as a top folder of its own last name, or of the
    // name a namesake earlier in the index left it.
    zip.ExtractFolderInto(storedAs, verdict.Resolved + "/");
    AddProblems(zip, report);
    return true;
}

// An empty mail folder in the profile for an account whose outside folder was
// refused, named after that folder and not yet taken; "Mail/<name>", or nothing when
// it cannot be made.
std::optional<std::string> MakeStandInFolder(const std::string& profile, const std::string& folder)
{
    const std::string normal = NormalPath(folder);
    std::string name = normal.substr(normal.find_last_of("/\\") + 1);
    name.erase(0, name.find_first_not_of('.'));
    if (name.empty())
        name = "Outside";
    std::error_code ec;
    TExtractTarget target(profile, ec);
    for (int n = 0; !ec && n < 100; ++n) {
        const std::string candidate = n == 0 ? name : name + "-" + std::to_string(n);
        if (fs::exists(fs::symlink_status(profile + "Mail/" + candidate, ec)))
            continue;
        if (target.MakeFolders({"Mail", candidate}, ec))
            return "Mail/" + candidate;
    }
    return std::nullopt;
}

std::string ReadPrefs(const std::string& path)
{
    std::string text;
    std::error_code ec;
    if (!ReadWholeFile(path, text, ec))
        throw std::system_error(ec, path);
    return text;
}

void WritePrefs(const std::string& path, const std::vector<std::string>& lines)
{
    std::error_code ec;
    if (!WriteFileAtomically(path, JoinLines(lines), ec))
        throw std::system_error(ec, path);
}

bool Contains(std::string_view line, std::string_view pattern)
{
    return line.find(pattern) != std::string_view::npos;
}

bool Dropped(std::string_view line, const TSharedState& state)
{
    const bool firefox = state.AppNumber == AppFirefox;
    const bool thunderbird = state.AppNumber == AppThunderbird;
    const bool emails = state.Boxes[ComponentEmails].Checked;
    const bool addressBooks = state.Boxes[ComponentAddressBooks].Checked;
    const bool passwords = state.Boxes[ComponentPasswords].Checked;
    const bool forms = state.Boxes[ComponentFormDetails].Checked;
    return line.empty() ||
           (firefox &&
            (line.starts_with("user_pref(\"mail.") || line.starts_with("user_pref(\"mailnews") ||
             line.starts_with("user_pref(\"ldap"))) ||
           (thunderbird && line.starts_with("user_pref(\"browser.")) ||
           (!emails &&
            (Contains(line, "user_pref(\"mail.") || Contains(line, "user_pref(\"mailnews."))) ||
           (!addressBooks && Contains(line, "user_pref(\"ldap_2")) ||
           (!passwords && Contains(line, "user_pref(\"signon.SignonFileName\",")) ||
           (!forms && (Contains(line, "user_pref(\"wallet.SchemaValueFileName\"") ||
                       Contains(line, "user_pref(\"wallet.caveat\","))) ||
           Contains(line, "user_pref(\"browser.cache.disk.parent_directory\"");
}

// A refused folder's stand-in in the profile, so that Thunderbird does not write to the
// refused place either; nullopt when none could be made.
std::optional<std::string> StandInFolder(const std::string& profile,
                                         const TOutsideFolderVerdict& verdict,
                                         std::vector<std::string>& report)
{
    std::optional<std::string> now = MakeStandInFolder(profile, verdict.Folder);
    report.push_back(verdict.Folder + ": " +
                     Language().GetTextWithArgs("Messages", "LANG_OUTSIDE_NOW_IN_PROFILE",
                                                Text("Messages", verdict.Refusal),
                                                now ? profile + *now : std::string("-")));
    return now;
}

// A folder of the index that no account names was given back nowhere.
void ReportUnusedFolders(const std::vector<std::string>& outside,
                         const std::vector<std::string>& normal,
                         const std::map<std::size_t, std::optional<std::string>>& done,
                         std::vector<std::string>& report)
{
    for (std::size_t i = 0; i < outside.size(); ++i) {
        const auto before = normal.begin() + static_cast<std::ptrdiff_t>(i);
        if (!done.contains(i) && std::find(normal.begin(), before, normal[i]) == before)
            report.push_back(outside[i] + ": " + Text("Messages", "LANG_OUTSIDE_NO_ACCOUNT"));
    }
}

// Each account's relative directory line, where newRelative has one for it.
void RewriteRelatives(const std::vector<TPathLine>& paths,
                      const std::map<std::string, std::string>& newRelative,
                      std::vector<std::string>& lines)
{
    for (const TPathLine& p : paths)
        if (p.Kind == TPathKind::ServerRelative)
            if (const auto it = newRelative.find(p.Owner); it != newRelative.end())
                lines[p.Index] = ReplaceValue(lines[p.Index], EncodePrefsPath(it->second));
}

// The mail stores inside the profile; false when the password was refused.
bool ExtractMailFolders(TZipFactory& zip, std::vector<std::string>& report)
{
    for (const char* folder : {"ImapMail", "Mail", "News"}) {
        zip.ExtractFolder(folder, "*.*");
        AddProblems(zip, report);
        if (zip.PasswordRefused())
            return false;
    }
    return true;
}

} // namespace

std::string ReplaceValue(std::string_view line, std::string_view newValue)
{
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos)
        return std::string(line);
    std::string_view rest = line.substr(comma + 1);
    if (!rest.empty())
        rest.remove_suffix(1);
    const std::size_t quote = rest.find('"');
    if (quote == std::string_view::npos)
        return std::string(line); // no string value to replace
    std::string out(line.substr(0, comma + 1));
    out.append(rest.substr(0, quote + 1)).append(newValue).append("\");");
    return out;
}

bool RestoreExternalMail(const std::string& profileDir, TZipFactory& zip, TSharedState& state,
                         IUserInterface& ui, std::vector<std::string>& report)
{
    const std::string profile = WithTrailingSeparator(profileDir);
    // Decided before anything is written.
    const auto& outside = state.ExternalMailDirs;
    std::vector<TOutsideFolderVerdict> verdicts;
    std::vector<std::string> normal;
    for (const std::string& folder : outside) {
        verdicts.push_back(CheckOutsideMailFolder(folder, profile, state.Env.Folders.Home));
        normal.push_back(NormalPath(folder));
    }

    if (!ExtractMailFolders(zip, report))
        return false;

    const std::string prefsPath = profile + "prefs.js";
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(prefsPath, ec)))
        throw TPrefsError(Text("LANG_DIRECTORY", "LANG_PREFS_JS_NOT_FOUND"));
    std::vector<std::string> lines = SplitLines(ReadPrefs(prefsPath));

    const std::vector<TPathLine> paths = FindPathLines(lines);
    const std::optional<std::string> oldFolder = FindOldProfileFolder(paths);
    const std::vector<std::string> storedAs = OutsideMailArchiveNames(outside);
    std::map<std::size_t, std::optional<std::string>> done; // index folder -> where it is now
    std::map<std::string, std::string> newRelative; // server -> "[ProfD]..." of its folder
    bool stopped = false;
    for (const TPathLine& p : paths) {
        if (p.Kind != TPathKind::ServerDirectory && p.Kind != TPathKind::RootDirectory)
            continue;
        std::string& line = lines[p.Index];
        const auto listed = std::find(normal.begin(), normal.end(), NormalPath(p.Value));
        if (p.Kind == TPathKind::ServerDirectory && listed != normal.end()) {
            const auto at = static_cast<std::size_t>(listed - normal.begin());
            const TOutsideFolderVerdict& verdict = verdicts[at];
            const bool first = !done.contains(at);
            if (first && stopped && verdict.Allowed())
                continue; // the person stopped the restore: the line stays
            auto& now = done[at];
            if (first && !verdict.Allowed()) {
                now = StandInFolder(profile, verdict, report);
            } else if (first) {
                if (RestoreOutsideFolder(verdict, storedAs[at], zip, report))
                    now = verdict.Folder;
                stopped = zip.PasswordRefused();
                if (!now && !stopped)
                    ui.ErrorBox(Text("Tessarin14", "LANG_ERROR"),
                                Text("Tessarin14", "LANG_CANNOT_RESTORE_ORIG_EXT") + " " +
                                    verdict.Folder);
            }
            if (!now)
                continue;
            if (!verdict.Allowed()) {
                line = ReplaceValue(line, EncodePrefsPath(profile + *now));
                newRelative[p.Owner] = std::string(ProfileToken) + *now;
                continue;
            }
            line = ReplaceValue(line, EncodePrefsPath(verdict.Folder));
            // Thunderbird looks at the relative form first; it must lead to the same folder.
            const fs::path relative =
                fs::path(verdict.Folder).lexically_relative(fs::path(profile).parent_path());
            if (profile.starts_with("/") && !relative.empty())
                newRelative[p.Owner] = std::string(ProfileToken) + relative.string();
        } else if (oldFolder) {
            if (const auto moved = Repoint(p.Value, *oldFolder, profile))
                line = ReplaceValue(line, EncodePrefsPath(*moved));
        }
    }
    RewriteRelatives(paths, newRelative, lines);
    if (!stopped)
        ReportUnusedFolders(outside, normal, done, report);

    WritePrefs(prefsPath, lines);
    // Its message counts belong to the mail that was there before.
    const std::string cache = profile + "folderCache.json";
    if (!fs::remove(cache, ec) && ec)
        report.push_back(cache + ": " + ec.message());
    return !stopped;
}

void FilterRestoredPrefs(const std::string& profileDir, const TSharedState& state,
                         IUserInterface& ui)
{
    const std::string profile = WithTrailingSeparator(profileDir);
    const std::string prefsPath = profile + "prefs.js";
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(prefsPath, ec)))
        return;
    fs::remove(profile + "prefs.zal", ec); // left by an older, interrupted restore
    try {
        std::vector<std::string> lines = SplitLines(ReadPrefs(prefsPath));
        std::erase_if(lines, [&](const std::string& line) { return Dropped(line, state); });
        WritePrefs(prefsPath, lines);
    } catch (const std::system_error&) {
        ui.WarningBox(Text("TForm1", "LANG_WARNING"), Text("TForm1", "LANG_NOT_FOUND2"));
        throw TProgramExit{1};
    }
}

} // namespace tessarin
