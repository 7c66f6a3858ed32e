#include "engine/BackupRun.h"

#include "archive/ArchiveVerify.h"
#include "archive/ZipFactory.h"
#include "config/Environment.h"
#include "config/ErrorLog.h"
#include "config/L10n.h"
#include "engine/ArchiveSetup.h"
#include "engine/BackupFileCheck.h"
#include "engine/BackupFormat.h"
#include "engine/Components.h"
#include "engine/DatabaseCheck.h"
#include "engine/PrefsParser.h"
#include "engine/ReportPages.h"
#include "engine/UnknowFilesBL.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "profiles/Catalogue.h"
#include "profiles/RunningCheck.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

void AddMembers(TBackupTask& task, const std::vector<TFileSetMember>& members)
{
    for (const TFileSetMember& m : members) {
        switch (m.Kind) {
        case TMemberKind::File:
            task.AddProfileFile(std::string(m.Name));
            break;
        case TMemberKind::Folder:
            task.AddFolder(std::string(m.Name), "*.*");
            break;
        case TMemberKind::Mask:
            task.AddFolder("", std::string(m.Name));
            break;
        case TMemberKind::SubfolderMask: {
            // "parent/mask"; without a parent the mask applies to the profile folder.
            const std::size_t slash = m.Name.rfind('/');
            const std::string_view parent =
                slash == std::string_view::npos ? std::string_view() : m.Name.substr(0, slash);
            task.AddSubfolders(std::string(parent), std::string(m.Name.substr(slash + 1)));
            break;
        }
        }
    }
}

// Removes a file when the object goes, unless released.
class TFileGuard {
public:
    explicit TFileGuard(fs::path path) : path_(std::move(path)) {}
    ~TFileGuard()
    {
        if (!path_.empty()) {
            std::error_code ec;
            fs::remove(path_, ec);
        }
    }
    void Release() { path_.clear(); }

private:
    fs::path path_;
};

// The version that last used the profile (an older application refuses a profile a
// newer one used), else the installed one.
std::string SourceVersion(const TSharedState& state)
{
    const std::string profileDir = WithTrailingSeparator(state.ProfileDir);
    std::string version;
    try {
        version = TIniFile::FromFile(profileDir + "compatibility.ini")
                      .ReadString("Compatibility", "LastVersion");
    } catch (const std::exception&) {
        version.clear();
    }
    version = Trim(version.substr(0, version.find('_')));
    if (version.empty() && state.AppNumber >= 1 && state.AppNumber <= ApplicationCount &&
        state.AppNumber != AppPortable)
        version = InstallRecord(state.AppNumber).Version;
    return version;
}

std::function<void(const std::string&)>& BackupWrittenHook()
{
    static std::function<void(const std::string&)> hook;
    return hook;
}

// A backup holds keys, saved passwords and mail: a new one is its owner's alone; one
// that replaces an earlier backup keeps that file's mode, without access for others.
void KeepBackupPrivate(const fs::path& partial, const fs::path& target)
{
    std::error_code ec;
    const fs::file_status earlier = fs::status(target, ec);
    const fs::perms mode = !ec && fs::is_regular_file(earlier)
                               ? earlier.permissions() & ~fs::perms::others_all
                               : fs::perms::owner_read | fs::perms::owner_write;
    fs::permissions(partial, mode, ec);
}

[[noreturn]] void FailWithMessage(IUserInterface& ui, const std::string& message)
{
    ui.ErrorBox(Text("TForm1", "LANG_ERROR"), message);
    throw TProgramExit{1};
}

} // namespace

void AddMailFolders(TBackupTask& task, TSharedState& state, bool accountsOnly)
{
    for (const TFolderWalk& walk : MailFolderWalks(accountsOnly))
        task.AddFolder(std::string(walk.Folder), std::string(walk.Mask));

    const std::string profileDir = task.Root();
    TPrefsParser prefs(profileDir + "prefs.js");
    for (const auto& account : prefs.GetAccounts()) {
        if (!account->IsExternal())
            continue;
        std::string folder = GetMailDirectory(*account, profileDir);
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        if (folder.empty())
            continue;
        // Two accounts sharing one folder would store its files twice.
        if (std::find(state.ExternalMailDirs.begin(), state.ExternalMailDirs.end(), folder) !=
            state.ExternalMailDirs.end())
            continue;
        state.ExternalMailDirs.push_back(folder);
        const std::size_t slash = folder.rfind('/');
        const std::string root = folder.substr(0, slash + 1);
        const std::string name = folder.substr(slash + 1);
        if (name.empty())
            continue;
        // A second folder of the same last name goes under a name of its own, which the
        // restore derives from the index in the same way.
        const std::string stored = OutsideMailArchiveNames(state.ExternalMailDirs).back();
        for (std::string_view mask : ExternalMailMasks(accountsOnly))
            task.WalkFolder(name, std::string(mask), root, stored == name ? std::string() : stored);
    }
}

void WriteBackupIndex(const TSharedState& state, const std::vector<TUnknowItem>& chosen,
                      const std::string& folder)
{
    const std::string text =
        BuildBackupIndexText(state.AppNumber, state.Boxes, state.ExternalMailDirs, chosen,
                             SourceVersion(state));
    std::error_code ec;
    if (!WriteFileAtomically(fs::path(folder) / IndexFileName, text, ec))
        throw std::system_error(ec, "indexfile.txt");
}

bool CheckBackupOutput(const std::string& path, TSharedState& state, IUserInterface& ui)
{
    bool good = false;
    try {
        // The index is read back into a private folder: a user's own indexfile.txt in
        // the documents folder is never touched.
        TPrivateTempDir scratch;
        TZipFactory zip(path, state.Password, EngineZipSetup(state, ui), ui);
        good = zip.ExtractFileTo(IndexFileName, scratch.Folder()) == 1 &&
               fs::is_regular_file(scratch.Folder() + IndexFileName);
    } catch (const TProgramExit&) {
        throw;
    } catch (const std::exception&) {
        good = false;
    }
    if (!good) {
        ui.WarningBox(Text("TForm1", "LANG_WARNING"), Text("Tessarin14", "LANG_INVALID_OUTPUT"));
        std::error_code ec;
        fs::remove(path, ec);
        state.BackupFailed = true;
    }
    return good;
}

void SetBackupWrittenHook(std::function<void(const std::string& path)> hook)
{
    BackupWrittenHook() = std::move(hook);
}

namespace {

std::optional<TVerifyFailure> CheckWrittenArchive(const std::string& path, TSharedState& state,
                                                  IUserInterface& ui)
{
    ui.SetTaskText(Text("Messages", "LANG_VERIFYING_BACKUP"));
    ui.SetProgressPosition(0);
    TVerifyOptions options;
    options.Pump = [&ui](std::uint64_t done, std::uint64_t total) {
        ui.SetProgressPosition(ProgressPercent(total, done));
        ui.ProcessEvents();
    };
    std::optional<TVerifyFailure> failure = VerifyArchive(path, state.Password, options);
    if (failure && failure->DecryptionFailed)
        failure->Reason = Text("Messages", "LANG_DECRYPTION_FAILED");
    if (!failure) {
        const auto database = CheckStoredDatabases(path, state.Password, [&ui] { ui.ProcessEvents(); });
        if (database)
            failure = TVerifyFailure{database->Entry, database->Reason};
    }
    // The last pump may come before the last byte; the report page shows a full bar.
    if (!failure)
        ui.SetProgressPosition(100);
    return failure;
}

void ReportCheckFailure(const TVerifyFailure& failure, TSharedState& state, IUserInterface& ui,
                        bool batchMode)
{
    const std::string why =
        failure.Entry.empty() ? failure.Reason : failure.Entry + ": " + failure.Reason;
    const std::string text = Language().GetTextWithArg("Messages", "LANG_BACKUP_CHECK_FAILED", why);
    // Nobody reads a box in batch mode; the error log also reaches stderr there.
    if (batchMode) {
        WriteErrorLog(text);
    } else {
        ui.AddTaskLine(text);
        ui.WarningBox(Text("TForm1", "LANG_WARNING"), text);
    }
    state.BackupFailed = true;
}

} // namespace

bool VerifyBackupOutput(const std::string& path, TSharedState& state, IUserInterface& ui,
                        bool batchMode)
{
    const std::optional<TVerifyFailure> failure = CheckWrittenArchive(path, state, ui);
    if (failure)
        ReportCheckFailure(*failure, state, ui, batchMode);
    return !failure;
}

namespace {

bool IsEarlierBackupOf(const std::string& path, const TSharedState& state)
{
    std::error_code ec;
    if (path.empty() || !fs::is_regular_file(path, ec))
        return false;
    // Read as a restore would, with this run's password and nobody to ask.
    TQuietUserInterface quiet;
    TSharedState check = state;
    check.BackupFile = path;
    check.AskForPassword = false;
    try {
        if (!CheckBackupFile(path, check, quiet) || check.BackupFormat != 2)
            return false;
        ReadBackupIndex(check, quiet);
    } catch (...) {
        return false;
    }
    return check.BackupAppNumber == state.AppNumber;
}

} // namespace

std::string EarlierBackupFor(const TSharedState& state)
{
    if (IsEarlierBackupOf(state.BackupFile, state))
        return state.BackupFile;
    if (state.EarlierBackup != state.BackupFile && IsEarlierBackupOf(state.EarlierBackup, state))
        return state.EarlierBackup;
    return {};
}

namespace {

// Writes the task into path. Files that vanished or became unreadable after the scan
// are left out and named in problems, so nobody believes they are in the backup.
// Without an earlier backup the task's names are handed over: no second write needs them.
bool WriteArchive(const std::string& path, TBackupTask& task, const std::string& earlier,
                  TSharedState& state, IUserInterface& ui, std::vector<std::string>& problems,
                  std::size_t& reused)
{
    TZipFactory zip(path, state.Password, WithTrailingSeparator(state.ProfileDir),
                    EngineZipSetup(state, ui), ui);
    zip.ReuseEntriesOf(earlier);
    const auto total = static_cast<std::int64_t>(task.TotalSize());
    const bool written = earlier.empty() ? zip.AddTask(task.TakeFiles(), task.Externals(), total)
                                         : zip.AddTask(task.Files(), task.Externals(), total);
    problems = ProblemTexts(zip.Problems());
    reused = zip.ReusedEntries();
    return written;
}

// The archive written and read back whole; nothing reported yet.
struct TWriteOutcome {
    bool Written = false;
    std::optional<TVerifyFailure> Failure;
    std::vector<std::string> Problems;
};

TWriteOutcome WriteAndCheck(const std::string& path, TBackupTask& task, TSharedState& state,
                            IUserInterface& ui)
{
    TWriteOutcome outcome;
    std::size_t reused = 0;
    outcome.Written =
        WriteArchive(path, task, EarlierBackupFor(state), state, ui, outcome.Problems, reused);
    if (outcome.Written && BackupWrittenHook())
        BackupWrittenHook()(path);
    if (outcome.Written)
        outcome.Failure = CheckWrittenArchive(path, state, ui);
    if (outcome.Failure && reused > 0) {
        // An entry copied from the earlier backup did not read back (that file was
        // damaged since it was made): write every file anew.
        outcome.Written = WriteArchive(path, task, {}, state, ui, outcome.Problems, reused);
        outcome.Failure.reset();
        if (outcome.Written && BackupWrittenHook())
            BackupWrittenHook()(path);
        if (outcome.Written)
            outcome.Failure = CheckWrittenArchive(path, state, ui);
    }
    return outcome;
}

bool ProfileOpenedMeanwhile(TSharedState& state, const std::string& profileDir)
{
    if (!IsApplicationRunning(*state.Env.Processes, state.AppNumber) && !ProfileInUse(profileDir))
        return false;
    state.BackupFailed = true;
    state.ProfileBusyAtEnd = true;
    return true;
}

} // namespace

namespace {

// The unknown items the person chose, by name from a fresh scan, added to the task;
// those that cannot be stored are named in a task line instead.
std::vector<TUnknowItem> AddChosenUnknownItems(TBackupTask& task, const TSharedState& state,
                                               IUserInterface& ui, const std::string& profileDir)
{
    std::vector<TUnknowItem> chosen;
    if (state.ChosenUnknownItems.empty())
        return chosen;
    const TUnknowFilesBL known(state.Env.Folders);
    for (const TUnknowItem& item : known.FindUnknownItems(profileDir)) {
        if (std::find(state.ChosenUnknownItems.begin(), state.ChosenUnknownItems.end(),
                      item.GetName()) == state.ChosenUnknownItems.end())
            continue;
        // The index keeps one name per line: a line break in a name would
        // shift every line after it and garble the whole list.
        if (item.GetName().find_first_of("\r\n") != std::string::npos) {
            ui.AddTaskLine(item.GetName() + ": " + Text("Messages", "LANG_NAME_LINE_BREAK"));
            continue;
        }
        // Entries are found without regard to case: a second "indexfile.txt"
        // would make every check of the backup find two indexes.
        if (EqualsNoCase(item.GetName(), IndexFileName)) {
            ui.AddTaskLine(item.GetName() + ": " + Text("Messages", "LANG_NAME_OF_INDEX"));
            continue;
        }
        if (!item.IsFolder() && task.IsLeftOut(profileDir + item.GetName()))
            continue;
        if (item.IsFolder())
            task.AddFolder(item.GetName(), "*.*");
        else
            task.AddProfileFile(item.GetName());
        chosen.push_back(item);
    }
    return chosen;
}

// The checked components, the mail and the chosen unknown items; the items that went
// in are returned for the index.
std::vector<TUnknowItem> AddBackupContents(TBackupTask& task, TSharedState& state,
                                           IUserInterface& ui, const std::string& profileDir)
{
    // A backup written into the profile it saves never stores itself, nor the
    // earlier backup it replaces.
    task.LeaveOut(state.BackupFile);
    for (const std::string_view name : RunTimeFileNames())
        task.LeaveOut(profileDir + std::string(name));
    for (int n : BackupComponentOrder())
        if (state.Boxes[n].Checked)
            AddMembers(task, BackupMembers(n));

    if (BackupIncludesMail(state)) {
        const bool accountsOnly = state.Boxes[AccountsSettingsOnly].Checked;
        AddMembers(task, BackupMembers(2, accountsOnly));
        AddMailFolders(task, state, accountsOnly);
    }

    return AddChosenUnknownItems(task, state, ui, profileDir);
}

// The index never lands in the profile: a profile's own indexfile.txt stays.
void AddBackupIndex(TBackupTask& task, const TSharedState& state, IUserInterface& ui,
                    const std::vector<TUnknowItem>& chosen, const TPrivateTempDir& scratch)
{
    try {
        WriteBackupIndex(state, chosen, scratch.Folder());
    } catch (const std::system_error&) {
        ui.WarningBox(Text("TForm1", "LANG_WARNING"), Text("TForm1", "LANG_WRITE_ERROR"));
        throw TProgramExit{1};
    }
    task.AddExternalFile(IndexFileName, scratch.Folder());
}

// Written beside the target and moved over it only when complete and checked, so a
// failed run leaves an earlier backup as it was.
void WriteBackupFile(TBackupTask& task, TSharedState& state, IUserInterface& ui,
                     const std::string& profileDir, bool batchMode)
{
    const fs::path target = state.BackupFile;
    // Runs killed mid-write (cron, a shutdown) leave their partial archives here.
    RemoveStaleTemporaries(target.parent_path());
    const fs::path partial = TemporarySibling(target);
    TFileGuard partialGuard(partial);
    const TWriteOutcome outcome = WriteAndCheck(partial.string(), task, state, ui);
    for (const std::string& problem : outcome.Problems)
        ui.AddTaskLine(problem);
    if (!outcome.Written) {
        state.BackupFailed = true;
    } else if (outcome.Failure) {
        // The earlier backup stays; partialGuard removes the damaged one.
        ReportCheckFailure(*outcome.Failure, state, ui, batchMode);
    } else if (batchMode && ProfileOpenedMeanwhile(state, profileDir)) {
        // The application started during the run: what was read may be torn.
    } else if (batchMode || CheckBackupOutput(partial.string(), state, ui)) {
        KeepBackupPrivate(partial, target);
        std::error_code ec;
        fs::rename(partial, target, ec);
        if (ec) {
            ui.ErrorBox(Text("TForm1", "LANG_WARNING"), Text("Tessarin15", "LANG_WRITE_ERROR3"));
            state.BackupFailed = true;
        } else {
            partialGuard.Release();
        }
    }
}

} // namespace

void RunBackup(TSharedState& state, IUserInterface& ui, bool batchMode)
{
    state.ExternalMailDirs.clear();
    state.BackupFailed = false;
    state.ProfileBusyAtEnd = false;
    const std::string profileDir = WithTrailingSeparator(state.ProfileDir);
    std::error_code ec;
    if (!fs::is_regular_file(profileDir + "prefs.js", ec)) {
        // Nothing was written: the report (and batch mode's exit status) must say so.
        state.BackupFailed = true;
        ShowReportPage(state, ui);
        return;
    }

    try {
        TBackupTask task(profileDir, ui);
        const std::vector<TUnknowItem> chosen = AddBackupContents(task, state, ui, profileDir);
        const TPrivateTempDir scratch;
        AddBackupIndex(task, state, ui, chosen, scratch);
        WriteBackupFile(task, state, ui, profileDir, batchMode);
    } catch (const TProgramExit&) {
        throw;
    } catch (const TRunError& e) {
        FailWithMessage(ui, e.what());
    } catch (const TPrefsError& e) {
        FailWithMessage(ui, e.what());
    } catch (const std::system_error& e) {
        ui.WarningBox(Text("TForm1", "LANG_WARNING"), Text("TForm1", "LANG_KONEC"));
        FailWithMessage(ui, e.what());
    } catch (const std::exception& e) {
        FailWithMessage(ui, e.what());
    }

    ShowReportPage(state, ui);
}

} // namespace tessarin
