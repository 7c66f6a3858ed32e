#include "engine/RestoreRun.h"

#include "archive/ArchiveNames.h"
#include "archive/SafeExtract.h"
#include "archive/ZipFactory.h"
#include "config/Environment.h"
#include "config/L10n.h"
#include "engine/ArchiveSetup.h"
#include "engine/BackupFormat.h"
#include "engine/ChromeRegistry.h"
#include "engine/Components.h"
#include "engine/PrefsParser.h"
#include "engine/PrefsRestore.h"
#include "engine/ReportPages.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "profiles/Catalogue.h"
#include "profiles/RunningCheck.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

constexpr int ProgressPerStep = 10;
constexpr int ProgressSteps = 14; // components 2..15 without 7, then the unknown items

// Section names of a legacy text backup and their components.
struct TLegacySection {
    std::string_view Name;
    int Component;
};
constexpr TLegacySection LegacySections[] = {
    {"Nastaveni", 1},         {"Mail", 2},           {"Kontakty", 3},
    {"Oblibene polozky", 4},  {"Historie", 5},       {"Postranni panely", 6},
    {"Uzivatelske styly", 8}, {"Ulozena hesla", 9},  {"Cookies", 10},
    {"Doplnene formulare", 11}, {"Download manager", 12}};

std::optional<std::pair<dev_t, ino_t>> FileIdentity(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return std::nullopt;
    return std::pair{st.st_dev, st.st_ino};
}

// Folders moved aside while their replacements are extracted. A replacement that did
// not come out whole, or a run that ended meanwhile (a full disk, a close), gives the
// old folder back instead of leaving neither.
class TFoldersAside {
public:
    TFoldersAside(const std::string& profileDir, const std::set<std::string>& folders)
    {
        for (const std::string& folder : folders) {
            const fs::path path = profileDir + folder;
            const fs::path aside = TemporarySibling(path);
            std::error_code ec;
            fs::rename(path, aside, ec);
            if (!ec)
                moved_.push_back({folder, path, aside});
        }
    }
    ~TFoldersAside()
    {
        for (const TMoved& m : moved_)
            Put(m, false);
    }
    TFoldersAside(const TFoldersAside&) = delete;
    TFoldersAside& operator=(const TFoldersAside&) = delete;

    // problems: what the extraction left out.
    void Settle(const std::vector<TArchiveProblem>& problems)
    {
        for (const TMoved& m : moved_) {
            std::error_code ec;
            const bool whole =
                fs::is_directory(m.Path, ec) &&
                std::none_of(problems.begin(), problems.end(), [&](const TArchiveProblem& p) {
                    return p.Name.starts_with(m.Folder + "/");
                });
            Put(m, whole);
        }
        moved_.clear();
    }

private:
    struct TMoved {
        std::string Folder;
        fs::path Path;
        fs::path Aside;
    };
    static void Put(const TMoved& m, bool keepNew)
    {
        std::error_code ec;
        if (keepNew) {
            fs::remove_all(m.Aside, ec);
            return;
        }
        fs::remove_all(m.Path, ec);
        fs::rename(m.Aside, m.Path, ec);
    }
    std::vector<TMoved> moved_;
};

// A problem with the archive as a whole, not with one of its entries.
bool AboutArchive(const TArchiveProblem& problem, const TZipFactory& zip)
{
    return problem.Name == zip.ArchivePath() &&
           (problem.Kind == TArchiveProblemKind::ArchiveUnreadable ||
            problem.Kind == TArchiveProblemKind::NoExtractFolder);
}

// A corrupt legacy backup or a section that cannot be written: the message is shown,
// then the program ends.
struct TLegacyFailure {
    const char* Key;
};

class TRestoreRun {
public:
    TRestoreRun(TSharedState& state, IUserInterface& ui, std::string profileDir)
        : state_(state), ui_(ui), profileDir_(std::move(profileDir)),
          prefsBefore_(FileIdentity(profileDir_ + "prefs.js"))
    {
    }

    void Archive();
    void Legacy();
    void FinishPrefs();
    bool Incomplete() const { return incomplete_; }

private:
    void Advance()
    {
        position_ = std::min(position_ + ProgressPerStep, ProgressPerStep * ProgressSteps);
        ui_.SetProgressPosition(position_);
    }
    // Names every entry the last extraction left out.
    void TakeProblems(const TZipFactory& zip)
    {
        for (const TArchiveProblem& problem : zip.Problems()) {
            // The backup went away meanwhile (a stick pulled out): one line says so,
            // not one per extraction, and nothing more is tried.
            if (AboutArchive(problem, zip) && !fs::exists(zip.ArchivePath())) {
                if (!archiveGone_)
                    NotRestored(ProblemText(problem));
                archiveGone_ = true;
                continue;
            }
            NotRestored(ProblemText(problem));
        }
        if (zip.PasswordRefused())
            passwordRefused_ = true;
    }
    bool Stopped() const { return passwordRefused_ || archiveGone_; }
    void NotRestored(const std::string& what)
    {
        ui_.AddTaskLine(Text("Tessarin15", "LANG_NOT_RESTORED") + what);
        incomplete_ = true;
    }
    void RunSteps(TZipFactory& zip, const std::vector<TRestoreStep>& steps);
    void ExtensionsEpilogue(TZipFactory& zip);
    void UnknownItems(TZipFactory& zip);
    bool CopySection(std::istream& in, const std::string& path);
    const std::vector<std::string>& EntryNames(TZipFactory& zip)
    {
        if (!entryNames_)
            entryNames_ = zip.EntryNames();
        return *entryNames_;
    }

    TSharedState& state_;
    IUserInterface& ui_;
    std::string profileDir_;
    int position_ = 0;
    bool incomplete_ = false;
    bool passwordRefused_ = false;
    bool archiveGone_ = false;
    bool prefsRestored_ = false;
    std::optional<std::pair<dev_t, ino_t>> prefsBefore_;
    std::optional<std::vector<std::string>> entryNames_;
};

void TRestoreRun::RunSteps(TZipFactory& zip, const std::vector<TRestoreStep>& steps)
{
    for (const TRestoreStep& step : steps) {
        switch (step.Kind) {
        case TRestoreStep::TKind::Files:
            zip.ExtractFiles(step.Names);
            break;
        case TRestoreStep::TKind::Folder:
            zip.ExtractFolder(step.Names.front(), "*.*");
            break;
        case TRestoreStep::TKind::Mask:
            zip.ExtractFolder("", step.Names.front());
            break;
        case TRestoreStep::TKind::SubFolders: {
            const std::string& spec = step.Names.front();
            const std::size_t slash = spec.rfind('/');
            const std::string parent = spec.substr(0, slash + 1);
            const std::string mask = spec.substr(slash + 1);
            std::set<std::string> folders;
            for (const std::string& name : EntryNames(zip)) {
                if (name.size() <= parent.size() || !name.starts_with(parent))
                    continue;
                const std::size_t end = name.find('/', parent.size());
                if (end == std::string::npos)
                    continue; // a file beside the folders
                const std::string folder = name.substr(parent.size(), end - parent.size());
                if (NameMatchesMask(folder, mask))
                    folders.insert(parent + folder);
            }
            if (folders.empty())
                continue;
            // A site's or add-on's databases replace the target's as a whole: files of
            // two databases mixed in one folder are neither. The quota manager's
            // bookkeeping is rebuilt from the folders.
            TFoldersAside aside(profileDir_, folders);
            std::error_code ec;
            fs::remove(profileDir_ + "storage.sqlite", ec);
            zip.ExtractFiles(std::vector<std::string>(folders.begin(), folders.end()));
            aside.Settle(zip.Problems());
            break;
        }
        }
        TakeProblems(zip);
        if (Stopped())
            return;
    }
}

void TRestoreRun::ExtensionsEpilogue(TZipFactory& zip)
{
    std::error_code ec;
    if (!state_.Boxes[ComponentUserStyles].Checked) {
        fs::remove(profileDir_ + "chrome/userContent.css", ec);
        fs::remove(profileDir_ + "chrome/userChrome.css", ec);
    }
    for (const TFileSetMember& member : ExtensionDataList()) {
        if (member.Kind == TMemberKind::Folder)
            zip.ExtractFolder(std::string(member.Name), "*.*");
        else
            zip.ExtractFile(std::string(member.Name));
        TakeProblems(zip);
    }
    RewriteChromeRegistry(profileDir_);
    // Holds the old profile's add-on paths; Firefox rebuilds it from extensions.json.
    fs::remove(profileDir_ + "addonStartup.json.lz4", ec);
    // An add-on's data folder is named by the profile's own id for it, kept in prefs.js.
    if (!state_.Boxes[ComponentGeneral].Checked) {
        const auto& names = EntryNames(zip);
        if (std::any_of(names.begin(), names.end(), [](const std::string& n) {
                return n.starts_with("storage/") &&
                       n.find("/moz-extension+++") != std::string::npos;
            }))
            ui_.AddTaskLine(Text("Tessarin15", "LANG_ADDON_DATA_NO_SETTINGS"));
    }
}

void TRestoreRun::UnknownItems(TZipFactory& zip)
{
    if (state_.UnknownItems.empty())
        return;
    ui_.SetTaskText(Text("Tessarin14", "LANG_UNKNOW"));
    const auto& chosen = state_.ChosenUnknownItems;
    for (const TUnknowItem& item : state_.UnknownItems) {
        if (std::find(chosen.begin(), chosen.end(), item.GetName()) == chosen.end())
            continue;
        // The index is the backup's word: a mask or a path would extract whatever it
        // matches, past the component choice and the application's skips.
        const std::string& name = item.GetName();
        if (name.empty() || name == "." || name == ".." ||
            name.find_first_of("/\\*?[") != std::string::npos) {
            NotRestored(name + ": " + Text("Messages", "LANG_NOT_PLAIN_ITEM"));
            continue;
        }
        if (item.IsFolder())
            zip.ExtractFolder(item.GetName(), "*.*");
        else
            zip.ExtractFile(item.GetName());
        TakeProblems(zip);
        if (Stopped())
            return;
    }
    ui_.AddTaskLine(Text("Tessarin14", "LANG_AKCE_UNKNOW_R_OK"));
}

void TRestoreRun::Archive()
{
    TZipFactory zip(state_.BackupFile, std::string(), profileDir_, EngineZipSetup(state_, ui_),
                    ui_);
    // The profile lock belongs to whoever has the target open, never to a backup.
    zip.SkipEntry = [](const std::vector<std::string>& components) {
        return components.size() == 1 &&
               (components.front() == "lock" || components.front() == ".parentlock");
    };
    ui_.SetProgressRange(ProgressPerStep * ProgressSteps);
    ui_.SetProgressPosition(0);
    if (EntryNames(zip).empty()) {
        // Cut short or not an archive any more: one line says so, not one per component.
        if (zip.Problems().empty())
            NotRestored(state_.BackupFile);
        TakeProblems(zip);
        return;
    }

    for (const int n : RestoreComponentOrder()) {
        if (state_.Boxes[n].Checked && !RestoreSkips(n, state_.AppNumber) && !Stopped()) {
            ui_.SetTaskText(ComponentTaskLine(n));
            RunSteps(zip, RestoreSteps(n));
            // A prefs.js that came out of the backup is a new file in its place.
            if ((n == 1 || n == 2) && FileIdentity(profileDir_ + "prefs.js") != prefsBefore_)
                prefsRestored_ = true;
            if (n == 2 && !Stopped()) {
                std::vector<std::string> report;
                try {
                    if (!RestoreExternalMail(profileDir_, zip, state_, ui_, report))
                        passwordRefused_ = true;
                } catch (const TPrefsError& e) {
                    report.push_back(e.what());
                }
                for (const std::string& line : report)
                    NotRestored(line);
            }
            if (n == 14 && !Stopped())
                ExtensionsEpilogue(zip);
            if (!Stopped())
                ui_.AddTaskLine(ComponentReportLine(n));
        }
        if (n != 1)
            Advance();
    }
    if (!Stopped())
        UnknownItems(zip);
    Advance();
    if (passwordRefused_)
        NotRestored(state_.BackupFile + ": " + Text("Messages", "LANG_PASSWORD_STOPPED"));
}

bool TRestoreRun::CopySection(std::istream& in, const std::string& path)
{
    std::string relative = path;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    const auto components = SafeEntryComponents(relative);
    std::optional<TExtractTarget> target;
    std::optional<TPendingFile> pending;
    std::error_code ec;
    if (!components || components->empty()) {
        NotRestored(path + ": " + Text("Messages", "LANG_NAME_OUTSIDE"));
    } else {
        target.emplace(profileDir_, ec, 0777, IsPrivateProfileFile);
        if (!ec)
            if (auto file = target->BeginFile(*components, 0600, ec))
                pending.emplace(std::move(*file));
        if (!pending)
            throw TLegacyFailure{"LANG_WRITE_ERROR2"};
    }

    std::string line;
    long lines = 0;
    while (std::getline(in, line)) {
        const bool hadCr = !line.empty() && line.back() == '\r';
        if (hadCr)
            line.pop_back();
        if (line == IndexSeparator) {
            if (pending && !pending->Commit(std::nullopt, ec))
                throw TLegacyFailure{"LANG_WRITE_ERROR2"};
            if (components && components->size() == 1 && components->front() == "prefs.js")
                prefsRestored_ = true;
            return pending.has_value();
        }
        // Each line keeps the end it had in the backup.
        line += hadCr ? "\r\n" : "\n";
        if (pending && !pending->Write(line.data(), line.size(), ec))
            throw TLegacyFailure{"LANG_WRITE_ERROR2"};
        if (++lines % 100 == 0) {
            ui_.ProcessEvents();
            EnsureApplicationClosedForEngine(*state_.Env.Processes, state_.AppNumber, ui_);
        }
    }
    if (in.bad())
        throw std::system_error(errno ? errno : EIO, std::generic_category(), state_.BackupFile);
    throw TLegacyFailure{"LANG_END_FILE"}; // the pending file goes, the old one stays
}

void TRestoreRun::Legacy()
{
    std::ifstream in(state_.BackupFile, std::ios::binary);
    if (!in)
        throw std::system_error(errno ? errno : EIO, std::generic_category(), state_.BackupFile);
    ui_.SetProgressRange(ProgressPerStep * ProgressSteps);
    ui_.SetProgressPosition(0);
    std::string line;
    for (int i = 0; i < 6 && std::getline(in, line); ++i) {
    }
    auto next = [&](std::string& out) {
        if (!std::getline(in, out))
            throw TLegacyFailure{"LANG_END_FILE"};
        if (!out.empty() && out.back() == '\r')
            out.pop_back();
    };
    while (std::getline(in, line)) {
        const std::string name = Trim(line);
        const auto section = std::find_if(std::begin(LegacySections), std::end(LegacySections),
                                          [&](const TLegacySection& s) { return s.Name == name; });
        if (section == std::end(LegacySections) || !state_.Boxes[section->Component].Checked)
            continue;
        ui_.SetTaskText(ComponentTaskLine(section->Component));
        std::string path;
        next(path);
        std::string skipped;
        next(skipped);
        const bool written = CopySection(in, path);
        Advance();
        if (written)
            ui_.AddTaskLine(Text("TForm1", "LANG_SOUBOR") + path);
    }
    if (in.bad())
        throw std::system_error(errno ? errno : EIO, std::generic_category(), state_.BackupFile);
}

void TRestoreRun::FinishPrefs()
{
    // Filtering keeps only the backup's preferences of the chosen components: a
    // prefs.js this restore did not write is the target's own and stays whole.
    if (prefsRestored_)
        FilterRestoredPrefs(profileDir_, state_, ui_);
}

// Caches that hold paths of the profile they were made for; the applications rebuild
// them, and a stale one stops built-in add-ons from loading.
void RemoveStartupCaches(const std::string& profileDir, const std::string& home)
{
    std::error_code ec;
    fs::remove_all(profileDir + "startupCache", ec);
    if (home.empty())
        return;
    const fs::path profile = fs::path(profileDir).parent_path();
    for (const auto& [root, cache] : {std::pair{".mozilla/firefox", ".cache/mozilla/firefox"},
                                      std::pair{".thunderbird", ".cache/thunderbird"}}) {
        const fs::path rootPath = fs::path(home) / root;
        if (!IsPathWithin(profile, rootPath) || profile.lexically_normal() == rootPath)
            continue;
        const fs::path relative = profile.lexically_normal().lexically_relative(rootPath);
        fs::remove_all(fs::path(home) / cache / relative / "startupCache", ec);
    }
}

} // namespace

void RunRestore(TSharedState& state, IUserInterface& ui)
{
    state.BackupFailed = false;
    std::error_code ec;
    if (!fs::is_regular_file(state.BackupFile, ec)) {
        ui.ErrorBox(Text("TForm1", "LANG_QUESTION"), Text("TForm1", "LANG_NOT_FOUND_FILE"));
        throw TProgramExit{1};
    }
    std::string profileDir = SelectedProfileFolder(state);
    if (!profileDir.empty())
        profileDir = WithTrailingSeparator(profileDir);
    if (profileDir.empty()) {
        ui.WarningBox(Text("TForm1", "LANG_WARNING"), Text("Tessarin15", "LANG_NO_PROFILE_SELECTION"));
        throw TProgramExit{1};
    }
    state.ProfileDir = profileDir;
    EnsureProfileNotInUse(profileDir, state.AppNumber, ui);

    TRestoreRun run(state, ui, profileDir);
    try {
        if (state.BackupFormat == 1)
            run.Legacy();
        else
            run.Archive();
    } catch (const TProgramExit&) {
        throw;
    } catch (const TLegacyFailure& failure) {
        ui.WarningBox(Text("TForm1", "LANG_WARNING"), Text("TForm1", failure.Key));
        throw TProgramExit{1};
    } catch (const std::system_error& e) {
        ui.WarningBox(Text("TForm1", "LANG_WARNING"), Text("TForm1", "LANG_KONEC"));
        ui.ErrorBox(Text("TForm1", "LANG_ERROR"),
                    std::to_string(e.code().value()) + ": " + e.what());
        throw TProgramExit{1};
    } catch (const std::exception& e) {
        ui.ErrorBox(Text("TForm1", "LANG_ERROR"), e.what());
        throw TProgramExit{1};
    }
    run.FinishPrefs();
    RemoveStartupCaches(profileDir, state.Env.Folders.Home);
    ui.SetProgressRange(100);
    ui.SetProgressPosition(100);
    state.BackupFailed = run.Incomplete();
    ShowReportPage(state, ui);
}

} // namespace tessarin
