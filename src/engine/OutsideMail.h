#pragma once
// Where a restore may put a mail folder that lived outside its profile. A backup is
// input from outside, and the folders its index names are absolute paths it chose:
// only a folder that can plausibly be a mail store is written, so that a crafted
// backup cannot plant files in ~/.ssh, ~/.config/autostart, the home folder itself
// or the system's folders.

#include "config/SharedState.h"
#include "platform/UserInterface.h"

#include <string>
#include <vector>

namespace tessarin {

struct TOutsideFolderVerdict {
    std::string Folder;   // as the backup's index names it
    std::string Resolved; // absolute, normalised, links of its existing part followed
    const char* Refusal = nullptr; // language key (section "Messages") of why not; none: allowed
    bool Allowed() const { return Refusal == nullptr; }
};

// Judges one outside mail folder for a restore into profileDir of the person whose
// home is home. Looks at the file system (links, owners) but changes nothing.
TOutsideFolderVerdict CheckOutsideMailFolder(const std::string& folder,
                                             const std::string& profileDir,
                                             const std::string& home);

// Whether this restore gives outside mail folders back: an archive backup, Emails
// chosen and the application one that holds mail.
bool RestoresOutsideMail(const TSharedState& state);

// Before a restore that brings outside mail folders back: one question listing where
// mail goes (files there are replaced) and which folders are refused and why. True
// when the restore may go on (also when there is nothing to ask).
bool ConfirmOutsideMailFolders(const TSharedState& state, IUserInterface& ui);

} // namespace tessarin
