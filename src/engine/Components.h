#pragma once
// The fifteen components: their texts, the files each one means when backing up
// and when restoring, the markers that decide the default state of their boxes, and
// the rules between them. Every table lives in Components.cpp.
//
// Names are profile-relative and use "/" (the native separator here, and the
// separator of archive entry names everywhere).

#include "config/SharedState.h"
#include "platform/UserInterface.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessarin {

enum class TMemberKind {
    File,   // a named file: taken when it exists (backup) or the archive holds it (restore)
    Folder, // every file below the folder, at any depth
    Mask,   // a mask such as "*.mab": matching files of the profile folder itself
    // "parent/mask": every file below each sub-folder of parent whose name matches the
    // mask ("storage/default/moz-extension+++*": the add-ons' own data)
    SubfolderMask,
};

struct TFileSetMember {
    TMemberKind Kind;
    std::string_view Name;
    bool operator==(const TFileSetMember&) const = default;
};

enum class TMarkerKind {
    File,         // a file of this name exists in the profile folder
    FolderNoCase, // a folder of this name, whatever the letter case ("extensions", "Cache")
    Mask,         // a file of the profile folder matches the mask
    Mail,         // ProfileHasMail says yes
};

struct TMarker {
    TMarkerKind Kind;
    std::string_view Name;
};

// How a box starts on the backup side when its markers are found / not found.
enum class TDefaultRule {
    Checked,          // found: checked; else disabled
    EnabledUnchecked, // found: enabled but unchecked (Cache); else disabled
    CheckedWithHint,  // found: checked, hint off; else disabled with its hint on
    FollowsEmails,    // 7: enabled and unchecked unless 2 is disabled
};

struct TComponent {
    int Number;
    std::string_view LabelKey;  // section "TForm1"
    std::string_view HintKey;   // section "TForm1"; empty when the box has no hint
    std::string_view TaskKey;   // restore task line, section "TForm1"; empty for 7
    std::string_view ReportKey; // restore report line, section "Tessarin14"; empty for 7
    // Backup: named files, folders, masks in this order. Component 2's mail folders
    // are walked by the mail walk (MailFolderWalks); 14 is followed by ExtensionDataList.
    std::span<const TFileSetMember> BackupSet;
    // Restore, in extraction order (named files in a row go out as one list). 14 is
    // followed by ExtensionDataList; 2 by the mail folders of RestoreExternalMail.
    std::span<const TFileSetMember> RestoreSet;
    std::span<const std::uint8_t> SkippedForApps; // application numbers
    std::span<const TMarker> Markers;
    TDefaultRule Rule;
};

inline constexpr int AccountsSettingsOnly = ComponentAccountsOnly; // the backup run still uses it

// Component n (1..15). Throws std::out_of_range for any other number.
const TComponent& Component(int number);
std::span<const TComponent> AllComponents();

// Order in which a backup adds the components (2 and 7 are the mail step after them).
std::span<const int> BackupComponentOrder();
// Order in which a restore extracts them (7 has nothing of its own).
std::span<const int> RestoreComponentOrder();

// Part of component 14 on both sides, after its own set.
// Top-level files that exist only while the application has the profile open (its
// locks, the remote-control port file): never part of a backup.
std::span<const std::string_view> RunTimeFileNames();
std::span<const TFileSetMember> ExtensionDataList();

// Language texts of a component.
std::string ComponentLabel(int number);
std::string ComponentTaskLine(int number);
std::string ComponentReportLine(int number);

// --- Backup side ---

// Files, folders and masks the backup adds for one chosen component, in order;
// 14 includes the extension data list. For 2 these are the named mail files only
// (without "global-messages-db.sqlite" when accountsOnly); the folders come from
// MailFolderWalks and the outside accounts from ExternalMailMasks.
std::vector<TFileSetMember> BackupMembers(int number, bool accountsOnly = false);

struct TFolderWalk {
    std::string_view Folder;
    std::string_view Mask;
    bool operator==(const TFolderWalk&) const = default;
};
// The walks of the profile's own mail folders.
std::span<const TFolderWalk> MailFolderWalks(bool accountsOnly);
// Masks an outside mail folder is walked with, in order.
std::span<const std::string_view> ExternalMailMasks(bool accountsOnly);

// --- Restore side ---

bool RestoreSkips(int number, int appNumber);

struct TRestoreStep {
    enum class TKind {
        Files,  // extract these named files as one list
        Folder, // extract Names[0] + "/*.*"
        Mask,   // extract the mask Names[0] of the top level
        // extract everything below each stored folder of Names[0]'s parent whose name
        // matches its last component
        SubFolders,
    } Kind;
    std::vector<std::string> Names;
    bool operator==(const TRestoreStep&) const = default;
};
// The extraction steps of one component, without the extension data list of 14
// (which goes after the user-style rule) and without the mail of 2.
std::vector<TRestoreStep> RestoreSteps(int number);

// --- Boxes ---

// Every box unchecked and enabled, hints off.
void ResetComponentBoxes(TSharedState& state);

// Sets the boxes for a backup of the profile in folder (ending in the separator)
// from its markers. Throws TPrefsError when prefs.js cannot be read.
void ApplyBackupDefaults(TSharedState& state, const std::string& folder);

// The folder of the profile record named like the selected entry, else
// ExternalProfileDir (a profile chosen by hand); empty when neither is there.
std::string SelectedProfileFolder(const TSharedState& state);

// The backup-side defaults of the profile chosen for a backup: the folder is
// batchProfileFolder when given (batch mode: it is only checked), else the folder of
// the profile record named like the selected entry (trimmed), else ExternalProfileDir.
// In the wizard the folder becomes ProfileDir. Returns the folder, ending in the
// separator. A profile never used (ProfileNeverUsed) gets the warning
// LANG_PROFILE_NOT_USED and nullopt: there is nothing to back up, and nothing wrong.
// A profile without a folder or a readable prefs.js is refused: warning
// LANG_BAD_PROFIL, then TProgramExit{1}.
std::optional<std::string>
DetectAvailableComponents(TSharedState& state, IUserInterface& ui,
                          const std::optional<std::string>& batchProfileFolder = std::nullopt);

// A folder that exists and can be read but holds no prefs.js: the application made
// the profile and never started with it (a first start makes such a "default").
bool ProfileNeverUsed(const std::string& folder);

// Ticking or unticking box 7: it excludes 2 and gives it back ticked.
void SetAccountsSettingsOnly(TSharedState& state, bool checked);

// Whether the mail step of a backup runs (2 or 7 checked), and whether narrowed.
bool BackupIncludesMail(const TSharedState& state);

} // namespace tessarin
