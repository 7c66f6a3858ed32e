#pragma once
// The wizard's profile list: the profiles of the selected application as its
// profiles.ini or registry.dat lists them, plus a profile folder picked by hand.

#include <optional>
#include <string>
#include <vector>

namespace tessarin {

struct TSharedState;
class IUserInterface;

// Rebuilds state.ProfileList (kept sorted as the list shows it) and
// state.ProfileRecords (file order) for state.AppNumber; state.ProfileDir becomes
// the application's profile root and state.ProfileInUse names the profile the
// application opens, when its profiles.ini tells. A portable selection (10) reads no profile file,
// it only lists the portable entry.
void ListProfiles(TSharedState& state);

// Reads profiles.ini, else registry.dat or appreg, of one root (ending in '/') into
// state.ProfileRecords (replaced) and state.ProfileList (added to). False only when
// a binary registry holds no profile node.
bool ParseProfileRoot(TSharedState& state, const std::string& root);

// The profile folder behind a list entry, ending in '/': the first record of that
// exact name, else the portable folder when one was picked; nullopt otherwise.
std::optional<std::string> ResolveSelectedProfile(const TSharedState& state,
                                                  const std::string& selectedEntry);

// The Find-profile button: asks for a folder with the folder-browse dialog. A folder
// without prefs.js is refused with an error box. Returns true when the portable entry
// or folder changed.
bool AddPortableProfile(TSharedState& state, IUserInterface& ui);

// Inserts text into a list kept in the order the sorted list control shows it
// (letters compare without case; equal texts keep the order they came in).
void InsertSorted(std::vector<std::string>& list, const std::string& text);

} // namespace tessarin
