#include "engine/WizardSteps.h"

#include "config/Environment.h"
#include "config/L10n.h"
#include "config/OutputNames.h"
#include "engine/BackupFileCheck.h"
#include "engine/BackupRun.h"
#include "engine/Components.h"
#include "engine/OutsideMail.h"
#include "engine/ReportPages.h"
#include "engine/RestoreRun.h"
#include "engine/UnknowFilesBL.h"
#include "profiles/Catalogue.h"
#include "profiles/RunningCheck.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

// An application of the installation table; the portable entry has no record.
bool HasInstallRecord(std::uint8_t number)
{
    return number >= 1 && number <= ApplicationCount && number != AppPortable;
}

// The file dialog of Browse, starting where the current backup file is.
TFileQuestion BackupFileQuestion(const TSharedState& state)
{
    const bool backup = state.Operation == TOperation::Backup;
    const fs::path current(state.BackupFile);
    TFileQuestion question;
    question.Save = backup;
    question.Filter = Text("TForm1", "LANG_DIALOGS");
    question.Folder = current.parent_path().string();
    if (backup) {
        // A pattern's "<profile>" is no part of a name the person types.
        std::string rest = state.BackupFile;
        for (std::size_t at; (at = rest.find("<profile>")) != std::string::npos;)
            rest.erase(at, 9);
        if (rest.size() < 5)
            rest = "backup" + rest;
        question.Name = StripNameChars(fs::path(rest).filename().string());
    } else {
        question.Name = StripNameChars(current.filename().string());
    }
    return question;
}

// The restore side of the leaving checks: the file is there, is a backup and is one of
// the selected application. Each refusal shows its error.
bool RestoreFileAccepted(TSharedState& state, IUserInterface& ui)
{
    const std::string error = Text("Tessarin14", "LANG_ERROR");
    std::error_code ec;
    if (!fs::exists(state.BackupFile, ec)) {
        ui.ErrorBox(error, Text("TForm1", "LANG_BACKUP_NOT_FOUND"));
        return false;
    }
    if (!CheckBackupFile(state.BackupFile, state, ui)) {
        ui.ErrorBox(error, Text("TForm1", "LANG_NO_BACKUP_FILE"));
        return false;
    }
    if (!BackupMatchesApplication(state.BackupFile, state.AppNumber, state, ui)) {
        ui.ErrorBox(error,
                    Language().GetTextWithArgs(
                        "Tessarin15", "LANG_INVALID_BACKUP_VERSION",
                        ApplicationDisplayName(state.AppNumber),
                        ApplicationDisplayName(static_cast<std::uint8_t>(state.BackupAppNumber))));
        return false;
    }
    return true;
}

// The backup file may be used; the folder is remembered whatever the answer.
bool BackupFileAccepted(TSharedState& state, IUserInterface& ui)
{
    bool accepted = true;
    if (state.Operation == TOperation::Backup) {
        std::error_code ec;
        if (fs::exists(state.BackupFile, ec))
            accepted = ui.QuestionBox(Text("TForm1", "LANG_QUESTION"),
                                      Text("TForm1", "LANG_SOUBOR_EXIST"));
    } else {
        accepted = RestoreFileAccepted(state, ui);
    }
    WriteRememberedFolder(*state.Env.KeyStore, state.BackupFile, state.AppNumber);
    return accepted;
}

} // namespace

std::string StripNameChars(std::string name)
{
    std::erase_if(name,
                  [](char c) { return c == '<' || c == '>' || c == '?' || c == '|' || c == '^'; });
    return name;
}

bool CanCreateProfile(const TSharedState& state)
{
    return state.Operation == TOperation::Restore && HasInstallRecord(state.AppNumber) &&
           !InstallRecord(state.AppNumber).InstallFolder.empty();
}

void ProposeBackupFile(TSharedState& state)
{
    const std::string version =
        HasInstallRecord(state.AppNumber) ? InstallRecord(state.AppNumber).Version : std::string();
    const TApplicationNames names{ApplicationFileWord(state.AppNumber, state.ExternalProfileDir),
                                  version};
    state.BackupFile = BuildDefaultBackupPath(state, names);
}

bool ChooseBackupFile(TSharedState& state, IUserInterface& ui)
{
    bool taken = false;
    if (std::optional<std::string> chosen = ui.ChooseFile(BackupFileQuestion(state))) {
        taken = true;
        if (state.Operation != TOperation::Backup) {
            std::error_code ec;
            taken = fs::is_regular_file(*chosen, ec) && CheckBackupFile(*chosen, state, ui);
            if (!taken)
                ui.WarningBox(Text("TForm1", "LANG_WARNING"), Text("TForm1", "LANG_BAD_FILE2"));
        }
        if (taken)
            state.BackupFile = fs::path(*chosen).replace_extension(".pcv").string();
    }
    // Repeated separators are one; a "/" chosen here is a folder separator and stays.
    std::string& path = state.BackupFile;
    for (std::size_t at; (at = path.find("//")) != std::string::npos;)
        path.erase(at, 1);
    return taken;
}

std::optional<TComponentsPage> PrepareComponents(TSharedState& state, IUserInterface& ui,
                                                 const std::string& selectedProfile)
{
    const bool backup = state.Operation == TOperation::Backup;
    if (selectedProfile.empty()) {
        ui.ErrorBox(Text("TForm1", "LANG_QUESTION"),
                    Text("Tessarin15", "LANG_NO_PROFILE_SELECTION"));
        return std::nullopt;
    }
    state.SelectedProfile = selectedProfile;
    if (!BackupFileAccepted(state, ui))
        return std::nullopt;

    // The profile is looked at before the password question: one never used keeps
    // the page, and nobody is asked for a password for nothing.
    ResetComponentBoxes(state);
    state.ExternalMailDirs.clear();
    if (backup && !DetectAvailableComponents(state, ui))
        return std::nullopt;
    if (backup) {
        state.Password.clear();
        if (state.AskForPassword &&
            ui.QuestionBox(Text("TForm1", "LANG_QUESTION"), Text("TForm4", "LANG_ENCRYPT")))
            if (std::optional<std::string> password = ui.AskNewPassword())
                state.Password = *password;
    } else {
        ReadBackupIndex(state, ui);
    }
    state.Boxes[ComponentAccountsOnly].Visible = backup;
    return TComponentsPage{backup ? FillUnknownFilesForBackup(state.Env.Folders, state.ProfileDir)
                                  : FillUnknownFilesForRestore(state)};
}

bool ConfirmRunStart(TSharedState& state, IUserInterface& ui)
{
    const bool backup = state.Operation == TOperation::Backup;
    // A backup also waits for the profile itself: another instance may hold it.
    const IProcessList& processes = *state.Env.Processes;
    const bool closed =
        backup ? WaitUntilProfileClosed(processes, state.ProfileDir, state.AppNumber, ui)
               : WaitUntilApplicationClosed(processes, state.AppNumber, ui);
    if (!closed)
        return false;
    if (backup)
        return true;
    return ui.QuestionBox(Text("TForm1", "LANG_QUESTION"),
                          Text("Tessarin14", "LANG_OVERWRITE_PROFILE")) &&
           ConfirmRestoreOfNewerBackup(state, ui) && ConfirmOutsideMailFolders(state, ui);
}

void RunChosenOperation(TSharedState& state, IUserInterface& ui)
{
    ShowProcessingPage(state, ui);
    if (state.Operation == TOperation::Backup)
        RunBackup(state, ui, false);
    else
        RunRestore(state, ui);
}

} // namespace tessarin
