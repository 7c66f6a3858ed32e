#include "engine/BatchBackup.h"

#include "config/ErrorLog.h"
#include "config/L10n.h"
#include "config/OutputNames.h"
#include "engine/BackupRun.h"
#include "engine/Components.h"
#include "engine/ReportPages.h"
#include "engine/UnknowFilesBL.h"
#include "platform/Folders.h"
#include "platform/IniFile.h"
#include "profiles/Catalogue.h"
#include "profiles/MozApp.h"
#include "profiles/MozManager.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

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
} // namespace

std::string BatchTaskPath(const std::string& argument)
{
    const fs::path p(argument);
    if (!p.has_parent_path())
        return ProgramFolder() + argument;
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
    const std::string path = BatchTaskPath(argument);
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
    task_.FoundProfile = task_.App->FindProfile(task_.Profile);
    if (task_.FoundProfile == nullptr)
        return Fail("LANG_CMD_BAD_PROFILE");

    state_.AppNumber = static_cast<std::uint8_t>(task_.App->GetId());

    // "<profile>" names the profile the task found.
    state_.SelectedProfile = task_.FoundProfile->GetName();
    const TApplicationNames names{ApplicationFileWord(state_.AppNumber, state_.ExternalProfileDir),
                                  task_.App->GetVersion()};
    task_.Output = ExpandFileNamePattern(Trim(ini.ReadString("General", "output")), state_, names);
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
    return true;
}

std::string TBatchBackup::BatchProfileFolder() const
{
    return task_.FoundProfile ? WithTrailingSeparator(task_.FoundProfile->GetPath()) : std::string();
}

int TBatchBackup::BackupAction(const std::string& argument, std::shared_ptr<TMozManager> manager)
{
    if (!manager)
        manager = std::make_shared<TMozManager>();
    state_.Manager = manager;
    if (!InitBatchTask(manager, argument))
        return 1;
    if (!manager_)
        throw std::logic_error("Cannot call BackupAction before init!");

    state_.Operation = 1;
    state_.BackupFile = task_.Output;
    state_.ProfileDir = BatchProfileFolder();
    state_.Password = task_.Password;

    DetectAvailableComponents(state_, ui_, BatchProfileFolder());

    // Batch mode keeps every unknown item of the profile.
    state_.ChosenUnknownItems.clear();
    for (const TUnknowItem& item : FillUnknownFilesForBackup(state_.ProfileDir))
        state_.ChosenUnknownItems.push_back(item.GetName());
    ShowProcessingPage(state_, ui_);

    RunBackup(state_, ui_, true);
    return state_.BackupFailed ? 1 : 0;
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
