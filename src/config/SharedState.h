#pragma once
// The state the wizard pages, the dialogs, batch mode and the engine share. It is
// owned by the program (not by a widget) and lives for the whole run.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tessarin {

class TMozManager;
struct TEnvironment;

// A profile as the wizard lists it: its name and folder, in the order read.
struct TProfileRecord {
    std::string Name;
    std::string Folder;
};

// A file or folder at the top level of a profile that no component covers.
class TUnknowItem {
public:
    TUnknowItem(std::string name, bool isFolder) : name_(std::move(name)), isFolder_(isFolder) {}
    const std::string& GetName() const { return name_; }
    bool IsFolder() const { return isFolder_; }
    bool operator==(const TUnknowItem&) const = default;

private:
    std::string name_;
    bool isFolder_;
};

// One component check box, as the core decides it; the wizard mirrors it.
struct TComponentBox {
    bool Checked = false;
    bool Enabled = true;
    bool Visible = true;
    bool Hint = false; // the box shows its hint text (14: "Firefox & Thunderbird only")
};

// The components, by the numbers of their boxes (CheckBox1..15, LANG_CHECKBOXn, Boxes).
enum TComponentNumber : int {
    ComponentGeneral = 1,
    ComponentEmails = 2,
    ComponentAddressBooks = 3,
    ComponentBookmarks = 4,
    ComponentHistory = 5,
    ComponentSidebars = 6,
    ComponentAccountsOnly = 7, // narrows 2 to the accounts' settings
    ComponentUserStyles = 8,
    ComponentPasswords = 9,
    ComponentCookies = 10,
    ComponentFormDetails = 11,
    ComponentDownloads = 12,
    ComponentCertificates = 13,
    ComponentExtensions = 14,
    ComponentCache = 15,
};
constexpr int ComponentCount = 15;

// What a run does; the values are the ones the program has always used.
enum class TOperation : std::uint8_t { None = 0, Backup = 1, Restore = 2 };

// The wizard's page as far as its buttons are concerned: the Processing and the
// Report page of a run share one number.
enum class TPageNumber : std::uint8_t {
    None = 0,
    Welcome = 1,
    Operation = 2,
    Profile = 3,
    Components = 4,
    Run = 5,
};

// Slots of FolderSettings.
enum TFolderSlot : int {
    FolderPattern = 0,   // the file-name pattern
    FolderBackupDir = 1, // "backupdir", for every application
    // 2..10: applications 1..9; 11, 12: applications 11 and 12 (never filled)
};
constexpr int FolderSettingsCount = 13;

struct TSharedState {
    explicit TSharedState(const TEnvironment& env) : Env(env) {}

    // The system the run works on; outlives the state.
    const TEnvironment& Env;
    std::int32_t SavedProfileIndex = 0;
    TOperation Operation = TOperation::None;
    TPageNumber PageNumber = TPageNumber::None;
    std::string ProfileDir;      // ends in the native separator
    bool CloseWithoutQuestion = false;
    std::uint8_t AppNumber = 0;
    std::string AppCodeName;
    std::string BackupFile;
    // Batch mode: the newest earlier backup the task made, whose unchanged entries the
    // next one may copy. Empty when there is none.
    std::string EarlierBackup;
    std::uint8_t BackupFormat = 0; // 1 legacy text backup, 2 ZIP archive
    std::string Password;
    // Mail folders outside the profile. Not capped: a profile may have any number of
    // accounts, and dropping the 26th would silently leave mail out of the backup.
    std::vector<std::string> ExternalMailDirs;
    std::vector<TProfileRecord> ProfileRecords;
    std::array<std::string, FolderSettingsCount> FolderSettings{};
    bool PatternHasProfile = false;
    std::int32_t MonitorNumber = 1;
    bool AskForPassword = true;
    std::vector<TUnknowItem> UnknownItems;
    std::string ExternalProfileDir;
    bool BackupFailed = false; // the last run (backup or restore) did not write everything
    bool ProfileBusyAtEnd = false; // a batch backup found the profile in use after writing
    std::int32_t BackupAppNumber = 0;
    std::string BackupVersion; // version of the application the backup came from; may be empty
    std::shared_ptr<TMozManager> Manager; // batch mode's application list

    // What the wizard's controls hold, mirrored for the engine.
    std::array<TComponentBox, ComponentCount + 1> Boxes{}; // index 1..15
    std::vector<std::string> ApplicationList; // entries of the application list, in scan order
    std::vector<std::string> ProfileList;                  // entries of the profile list
    std::string SelectedProfile;                            // selected entry, empty when none
    std::string ProfileInUse; // the entry the application itself opens; empty when unknown
    // Names of the unknown items ticked in the unknown-files dialog. A backup takes them
    // by name from a fresh scan, so an item that vanished meanwhile is simply skipped; a
    // restore takes them from the backup's index (UnknownItems).
    std::vector<std::string> ChosenUnknownItems;

    std::size_t ExternalMailDirCount() const { return ExternalMailDirs.size(); }
};

} // namespace tessarin
