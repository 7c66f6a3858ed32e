#pragma once
// Creating a new profile: Tessarin has the application itself create it, by running
// its executable with -CreateProfile, waits for it and checks its profile list.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace tessarin {

struct TSharedState;
class IUserInterface;

enum class TCreateProfileResult {
    NotConfirmed,
    InvalidName, // empty, or holding a blank or one of \ / ! ? < > * : "
    AlreadyExists,
    NoExecutable, // nothing to start in the installation folder
    StartFailed,
    TimedOut,   // the application did not end in time and the profile is not listed
    NotCreated, // the application ended without listing the profile
    Created,
};

// How long the application may take before the wizard gives up waiting.
inline constexpr std::chrono::seconds ProfileCreationTimeout{60};

// The name lower-cased (ASCII letters), as the profile is created.
std::string NewProfileName(const std::string& typed);
bool IsValidProfileName(const std::string& name);
// "-CreateProfile" and "NAME", or "NAME FOLDER" as one argument when a folder was chosen.
std::vector<std::string> CreateProfileArguments(const std::string& name, const std::string& folder);
// The first of the application's executables that exists in its installation folder
// (installation table), as a full path; empty when there is none.
std::string ProfileCreationExecutable(std::uint8_t number);

// The New-profile button: asks with the new-profile dialog, checks the name, runs the
// executable of state.AppNumber through the environment's launcher and waits for it, then lists the
// profiles again (state.ProfileList, ProfileRecords, ProfileDir) and looks for the new
// one. Messages (section "TForm1") through ui: LANG_NO_NAME, LANG_PROFIL_EXIST, and
// LANG_BAD_CREATE whenever the profile did not come into being.
TCreateProfileResult CreateNewProfile(TSharedState& state, IUserInterface& ui);

} // namespace tessarin
