#pragma once
// Unknown files: entries at the top level of a profile that Profilefiles.txt (the
// list of names the applications and the components account for) does not cover.
// The person picks which of them a backup keeps; the dialog that shows them lives in
// the Qt program and gets its lines from here.

#include "config/SharedState.h"
#include "platform/Folders.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tessarin {

class TUnknowFilesBL {
public:
    // Loads the program folder's Profilefiles.txt (its name matched without case).
    // Throws std::ios_base::failure when the file cannot be read.
    explicit TUnknowFilesBL(const TFolders& folders);
    explicit TUnknowFilesBL(const std::filesystem::path& knownFileList);

    // Whether a top-level entry of that name and kind is covered by the list. Names
    // compare exactly, with case: a profile's "Prefs.js" is not its "prefs.js" here,
    // and offering it costs nothing while hiding it could leave it out of every backup.
    bool IsKnown(const std::string& name, bool isFolder) const;

    // The unknown entries at the top level of profileDir (folders, and regular files
    // or links to them), sorted by name without case as the Windows shell lists them,
    // so two scans of an unchanged folder give the same positions. A folder that
    // cannot be listed gives none.
    std::vector<TUnknowItem> FindUnknownItems(const std::string& profileDir) const;

    const std::vector<TUnknowItem>& KnownItems() const { return known_; }

private:
    void LoadKnownFiles(const std::filesystem::path& file);

    std::vector<TUnknowItem> known_;
};

// The program folder + the entry whose name is "profilefiles.txt" without regard to case
// ("Profilefiles.txt" when there is none, so that opening it reports the file missing).
std::filesystem::path KnownFileListPath(const TFolders& folders);

// The items the unknown-files dialog offers for a backup of profileDir: the list is
// read again and the profile scanned afresh. Empty: the button stays hidden.
std::vector<TUnknowItem> FillUnknownFilesForBackup(const TFolders& folders,
                                                   const std::string& profileDir);

// The items it offers for a restore: those the backup's index listed.
std::vector<TUnknowItem> FillUnknownFilesForRestore(const TSharedState& state);

// A dialog line: the name, and for a folder " (" + LANG_DIRECTORY + ")".
std::string UnknownItemLine(const TUnknowItem& item);

} // namespace tessarin
