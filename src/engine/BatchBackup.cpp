#include "engine/BatchBackup.h"

#include "config/Environment.h"
#include "config/ErrorLog.h"
#include "config/L10n.h"
#include "config/OutputNames.h"
#include "engine/BackupFileCheck.h"
#include "engine/BackupRun.h"
#include "engine/Components.h"
#include "engine/ReportPages.h"
#include "engine/UnknowFilesBL.h"
#include "platform/IniFile.h"
#include "profiles/Catalogue.h"
#include "profiles/MozApp.h"
#include "profiles/MozManager.h"
#include "profiles/RunningCheck.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <utility>

namespace fs = std::filesystem;

namespace tessarin {

namespace {
constexpr const char* BatchSection = "LANG_SECTION_TESSARIN15";

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string RegexEscape(const std::string& text)
{
    static const std::string special = R"(\^$.|?*+()[]{})";
    std::string out;
    for (char c : text) {
        if (special.find(c) != std::string::npos)
            out += '\\';
        out += c;
    }
    return out;
}

// Looking at old backups must never stop a run that nobody watches: no box, no question.
using TSilentUserInterface = TQuietUserInterface;
} // namespace

std::regex BackupNameRegex(const std::string& namePattern, const std::string& application,
                           const std::string& profile)
{
    static const std::vector<std::pair<std::string, std::string>> placeholders{
        {"<application>", ""},    {"<profile>", ""},
        {"<version>", "[^/]*"},   {"<year>", "[0-9]+"},
        {"<month>", "[0-9]{2}"},  {"<day>", "[0-9]{2}"},
        {"<hour>", "[0-9]{2}"},   {"<minute>", "[0-9]{2}"},
        {"<second>", "[0-9]{2}"}, {"<millisecond>", "[0-9]{2,3}"},
        {"<dayOfWeek>", "[^/]+"},
    };
    std::string expression;
    std::size_t i = 0;
    while (i < namePattern.size()) {
        bool matched = false;
        for (const auto& [name, any] : placeholders) {
            if (namePattern.compare(i, name.size(), name) != 0)
                continue;
            if (name == "<application>")
                expression += RegexEscape(application);
            else if (name == "<profile>")
                expression += RegexEscape(profile);
            else
                expression += any;
            i += name.size();
            matched = true;
            break;
        }
        if (!matched)
            expression += RegexEscape(std::string(1, namePattern[i++]));
    }
    return std::regex(expression);
}

std::string BatchTaskPath(const TFolders& folders, const std::string& argument)
{
    const fs::path p(argument);
    if (!p.has_parent_path())
        return folders.Program + argument;
    return argument;
}

bool TBatchBackup::Fail(const std::string& key)
{
    WriteErrorLog(Text(BatchSection, key));
    return false;
}

bool TBatchBackup::InitBatchTask(std::shared_ptr<TMozManager> manager, const std::string& argument)
{
    manager_ = std::move(manager);
    const std::string path = BatchTaskPath(state_.Env.Folders, argument);
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        WriteErrorLog(Language().GetTextWithArg(BatchSection, "LANG_CMD_CONFIG_NOT_FOUND", argument));
        return false;
    }
    return LoadTaskFile(path);
}

bool TBatchBackup::LoadTaskFile(const std::string& path)
{
    TIniFile ini;
    try {
        ini = TIniFile::FromFile(path);
    } catch (const std::exception& e) {
        // Half a task is no task: nothing is backed up from it.
        WriteErrorLog(Language().GetTextWithArg(BatchSection, "LANG_CMD_CONFIG_NOT_FOUND", path));
        WriteErrorLog(e.what());
        return false;
    }

    task_ = TBatchTask{};
    task_.Action = Lower(Trim(ini.ReadString("General", "action")));
    if (task_.Action != "backup")
        return Fail("LANG_CMD_BAD_ACTION");

    task_.Application = Lower(Trim(ini.ReadString("General", "application")));
    task_.App = manager_ ? manager_->FindApp(task_.Application) : nullptr;
    if (task_.App == nullptr)
        return Fail("LANG_CMD_BAD_APPLICATION");

    task_.Profile = Lower(Trim(ini.ReadString("General", "profile")));
    task_.FoundProfile = task_.App->FindUsedProfile(task_.Profile);
    if (task_.FoundProfile == nullptr)
        return Fail("LANG_CMD_BAD_PROFILE");

    state_.AppNumber = static_cast<std::uint8_t>(task_.App->GetId());

    // "<profile>" names the profile the task found.
    state_.SelectedProfile = task_.FoundProfile->GetName();
    const TApplicationNames names{ApplicationFileWord(state_.AppNumber, state_.ExternalProfileDir),
                                  task_.App->GetVersion()};
    task_.OutputPattern = Trim(ini.ReadString("General", "output"));
    // "~/" as a shell has it, so one task file serves every user and a systemd unit.
    if (task_.OutputPattern.starts_with("~/"))
        task_.OutputPattern =
            WithTrailingSeparator(state_.Env.Folders.Home) + task_.OutputPattern.substr(2);
    task_.Output = ExpandFileNamePattern(task_.OutputPattern, state_, names);
    const fs::path output(task_.Output);
    if (!output.has_parent_path() || !output.has_filename())
        return Fail("LANG_CMD_BAD_OUTPUT_DIR");
    const fs::path folder = output.parent_path();
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        fs::create_directory(folder, ec); // one level only: its parent must exist
    if (!fs::is_directory(folder, ec))
        return Fail("LANG_CMD_BAD_OUTPUT_DIR");

    task_.Password = Trim(ini.ReadString("General", "password"));

    const std::string wait = Trim(ini.ReadString("General", "wait"));
    if (!wait.empty()) {
        const auto [end, error] =
            std::from_chars(wait.data(), wait.data() + wait.size(), task_.WaitMinutes);
        if (error != std::errc() || end != wait.data() + wait.size() || task_.WaitMinutes < 0 ||
            task_.WaitMinutes > 7 * 24 * 60) {
            WriteErrorLog(Language().GetTextWithArg("Messages", "LANG_CMD_BAD_WAIT", wait));
            return false;
        }
    }

    const std::string keep = Trim(ini.ReadString("General", "keep"));
    if (!keep.empty()) {
        const auto [end, error] =
            std::from_chars(keep.data(), keep.data() + keep.size(), task_.Keep);
        if (error != std::errc() || end != keep.data() + keep.size() || task_.Keep < 1) {
            WriteErrorLog(Language().GetTextWithArg("Messages", "LANG_CMD_BAD_KEEP", keep));
            return false;
        }
    }
    return true;
}

std::vector<std::string> TBatchBackup::EarlierBackups()
{
    std::vector<std::string> found;
    if (task_.Keep < 1 || task_.App == nullptr || task_.FoundProfile == nullptr)
        return found;
    const fs::path output(task_.Output);
    const std::string namePattern = fs::path(task_.OutputPattern).filename().string();
    // The fixed parts of the name, expanded exactly as for the new backup.
    TSharedState names = state_;
    names.SelectedProfile = task_.FoundProfile->GetName();
    const TApplicationNames app{ApplicationFileWord(state_.AppNumber, state_.ExternalProfileDir),
                                task_.App->GetVersion()};
    const std::regex pattern =
        BackupNameRegex(namePattern, ExpandFileNamePattern("<application>", names, app),
                        ExpandFileNamePattern("<profile>", names, app));

    // Each candidate is opened as a backup of the task's application with the task's
    // password; whatever does not open is left alone.
    TSilentUserInterface silent;
    TSharedState check = state_;
    check.Password = task_.Password;
    std::vector<std::pair<fs::file_time_type, fs::path>> backups;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(output.parent_path(), ec)) {
        const fs::path& path = entry.path();
        if (path.filename() == output.filename() || !entry.is_regular_file(ec) ||
            !std::regex_match(path.filename().string(), pattern))
            continue;
        try {
            if (!CheckBackupFile(path.string(), check, silent))
                continue;
        } catch (...) {
            continue;
        }
        backups.emplace_back(entry.last_write_time(ec), path);
    }
    std::sort(backups.begin(), backups.end());
    for (const auto& backup : backups)
        found.push_back(backup.second.string());
    return found;
}

std::vector<std::string> TBatchBackup::RemoveOldBackups()
{
    std::vector<std::string> removed;
    const std::vector<std::string> backups = EarlierBackups();
    // The new backup is one of the Keep.
    if (backups.size() + 1 <= static_cast<std::size_t>(task_.Keep))
        return removed;
    const std::size_t surplus = backups.size() + 1 - static_cast<std::size_t>(task_.Keep);
    std::error_code ec;
    for (std::size_t n = 0; n < surplus; ++n) {
        if (fs::remove(backups[n], ec))
            removed.push_back(backups[n]);
    }
    return removed;
}

std::string TBatchBackup::BatchProfileFolder() const
{
    return task_.FoundProfile ? WithTrailingSeparator(task_.FoundProfile->GetPath()) : std::string();
}

bool TBatchBackup::ProfileBusy() const
{
    return IsApplicationRunning(*state_.Env.Processes, state_.AppNumber) ||
           ProfileInUse(state_.ProfileDir);
}

void TBatchBackup::ReportProfileBusy()
{
    WriteErrorLog(Language().GetTextWithArgs("Messages", "LANG_PROFILE_BUSY",
                                             WizardRunningName(state_.AppNumber),
                                             task_.FoundProfile->GetName()));
}

bool TBatchBackup::WaitForProfile()
{
    if (!ProfileBusy())
        return true;
    const auto until = Clock.Now() + std::chrono::minutes(task_.WaitMinutes);
    if (task_.WaitMinutes > 0) {
        std::fprintf(stderr, "tessarin: %s (wait=%d)\n",
                     Language()
                         .GetTextWithArgs("Messages", "LANG_WAITING_FOR_PROFILE",
                                          WizardRunningName(state_.AppNumber),
                                          task_.FoundProfile->GetName())
                         .c_str(),
                     task_.WaitMinutes);
        std::fflush(stderr);
    }
    while (Clock.Now() < until) {
        Clock.Sleep(std::chrono::seconds(5));
        if (!ProfileBusy())
            return true;
    }
    ReportProfileBusy();
    return false;
}

int TBatchBackup::BackupAction(const std::string& argument, std::shared_ptr<TMozManager> manager)
{
    if (!manager)
        manager = std::make_shared<TMozManager>(state_.Env);
    state_.Manager = manager;
    if (!InitBatchTask(manager, argument))
        return 1;
    if (!manager_)
        throw std::logic_error("Cannot call BackupAction before init!");

    state_.Operation = TOperation::Backup;
    state_.BackupFile = task_.Output;
    // Unchanged files are copied from the newest earlier backup instead of deflated again.
    const std::vector<std::string> earlier = EarlierBackups();
    state_.EarlierBackup = earlier.empty() ? std::string() : earlier.back();
    state_.ProfileDir = BatchProfileFolder();
    state_.Password = task_.Password;

    if (!DetectAvailableComponents(state_, ui_, BatchProfileFolder()))
        return 1; // never used: the warning said so
    // A copy of a profile in use is no backup: its databases change while they are read.
    if (!WaitForProfile())
        return ExitProfileInUse;

    // Batch mode keeps every unknown item of the profile.
    state_.ChosenUnknownItems.clear();
    for (const TUnknowItem& item : FillUnknownFilesForBackup(state_.Env.Folders, state_.ProfileDir))
        state_.ChosenUnknownItems.push_back(item.GetName());
    ShowProcessingPage(state_, ui_);

    RunBackup(state_, ui_, true);
    std::error_code ec;
    if (state_.ProfileBusyAtEnd) {
        ReportProfileBusy(); // the run discarded its archive; the earlier one stays
        return ExitProfileInUse;
    }
    if (state_.BackupFailed)
        return 1; // the run has said why
    if (!fs::is_regular_file(task_.Output, ec)) {
        WriteErrorLog(Text("TForm1", "LANG_BACKUP_FAILED"));
        return 1;
    }
    if (task_.Keep > 0) {
        // Older backups go only once the new one is known to open.
        TSilentUserInterface silent;
        TSharedState check = state_;
        bool verified = false;
        try {
            verified = CheckBackupFile(task_.Output, check, silent);
        } catch (...) {
        }
        if (!verified) {
            WriteErrorLog(
                Language().GetTextWithArg("Messages", "LANG_BACKUP_NOT_VERIFIED", task_.Output));
            return 1;
        }
        for (const std::string& path : RemoveOldBackups())
            ui_.AddTaskLine(Text("Messages", "LANG_OLD_BACKUP_REMOVED") + path);
    }
    return 0;
}

int RunBatchBackup(TSharedState& state, IUserInterface& ui, const std::string& taskFile)
{
    try {
        return TBatchBackup(state, ui).BackupAction(taskFile);
    } catch (const TProgramExit&) {
        throw;
    } catch (const std::exception& e) {
        // Nobody may be watching: leave a trace and fail.
        WriteErrorLog(e.what());
        return 1;
    }
}

} // namespace tessarin
