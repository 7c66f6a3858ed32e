#pragma once
// Creating a new profile: Tessarin has the application itself create it, by starting
// its executable with -CreateProfile, and leaves the rest to the application.

#include <cstdint>
#include <string>
#include <vector>

namespace tessarin {

struct TSharedState;
class IUserInterface;

// What the new-profile dialog gave.
struct TNewProfileRequest {
    bool Confirmed = false; // closed with OK
    std::string Name;       // as typed
    std::string Folder;     // chosen with Browse; empty for the application's default place
};

enum class TCreateProfileResult {
    NotConfirmed,
    InvalidName, // empty or holding one of \ / ! ? < > * : "
    AlreadyExists,
    NoExecutable, // nothing to start in the installation folder
    StartFailed,
    Started,
};

// The name lower-cased (ASCII letters), as the profile is created.
std::string NewProfileName(const std::string& typed);
bool IsValidProfileName(const std::string& name);
// "-CreateProfile" and "NAME", or "NAME FOLDER" as one argument when a folder was chosen.
std::vector<std::string> CreateProfileArguments(const std::string& name, const std::string& folder);
// The first of the application's executables that exists in its installation folder
// (installation table), as a full path; empty when there is none.
std::string ProfileCreationExecutable(std::uint8_t number);

// Checks the name, then starts the executable of state.AppNumber through Launcher()
// without waiting for it. Messages (section "TForm1") through ui: LANG_NO_NAME,
// LANG_PROFIL_EXIST, and LANG_BAD_CREATE when nothing could be started.
TCreateProfileResult CreateNewProfile(const TSharedState& state, IUserInterface& ui,
                                      const TNewProfileRequest& request);

} // namespace tessarin
