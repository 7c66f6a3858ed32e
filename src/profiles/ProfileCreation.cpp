#include "profiles/ProfileCreation.h"

#include "config/Environment.h"
#include "config/L10n.h"
#include "config/SharedState.h"
#include "platform/FileUtil.h"
#include "platform/Launcher.h"
#include "platform/UserInterface.h"
#include "profiles/Catalogue.h"
#include "profiles/MozApp.h"
#include "profiles/ProfileDiscovery.h"
#include "profiles/ProfileFiles.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

// A profile of that name is already in the root's profiles.ini: the application
// would refuse to create it, and the person would see nothing happen.
bool ListedInProfilesIni(const std::string& root, const std::string& name)
{
    if (root.empty())
        return false;
    std::string data;
    std::error_code ec;
    if (!ReadWholeFile(WithTrailingSeparator(root) + "profiles.ini", data, ec))
        return false;
    const std::vector<TProfilesIniEntry> entries = ReadProfilesIni(data);
    return std::any_of(entries.begin(), entries.end(),
                       [&](const TProfilesIniEntry& e) { return e.Name == name; });
}

} // namespace

std::string NewProfileName(const std::string& typed)
{
    return LowerCase(typed);
}

bool IsValidProfileName(const std::string& name)
{
    // A blank is allowed here: the application splits its argument at the first blank
    // and creates nothing, which the check after it ran reports.
    return !name.empty() && name.find_first_of("\\/!?<>*:\"") == std::string::npos;
}

std::vector<std::string> CreateProfileArguments(const std::string& name, const std::string& folder)
{
    if (folder.empty())
        return {"-CreateProfile", name};
    return {"-CreateProfile", name + " " + folder};
}

std::string ProfileCreationExecutable(std::uint8_t number)
{
    if (number < 1 || number > ApplicationCount || number == AppPortable)
        return {};
    const std::string& folder = InstallRecord(number).InstallFolder;
    if (folder.empty())
        return {};
    for (const std::string& name : ApplicationExecutables(number)) {
        const std::string path = WithTrailingSeparator(folder) + name;
        std::error_code ec;
        if (fs::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0)
            return path;
    }
    return {};
}

TCreateProfileResult CreateNewProfile(TSharedState& state, IUserInterface& ui)
{
    const std::optional<TNewProfileAnswer> answer = ui.AskNewProfile();
    if (!answer)
        return TCreateProfileResult::NotConfirmed;
    const std::string name = NewProfileName(answer->Name);
    const std::string caption = Text("TForm1", "LANG_WARNING");
    if (!IsValidProfileName(name)) {
        ui.WarningBox(caption, Text("TForm1", "LANG_NO_NAME"));
        return TCreateProfileResult::InvalidName;
    }
    std::error_code ec;
    if ((!state.ProfileDir.empty() &&
         fs::exists(WithTrailingSeparator(state.ProfileDir) + "Profiles/" + name, ec)) ||
        ListedInProfilesIni(state.ProfileDir, name)) {
        ui.WarningBox(caption, Text("TForm1", "LANG_PROFIL_EXIST"));
        return TCreateProfileResult::AlreadyExists;
    }
    const auto failed = [&](TCreateProfileResult result) {
        ui.WarningBox(caption, Text("TForm1", "LANG_BAD_CREATE"));
        return result;
    };
    const std::string executable = ProfileCreationExecutable(state.AppNumber);
    if (executable.empty())
        return failed(TCreateProfileResult::NoExecutable);
    const TRunResult run = state.Env.Launcher->Run(
        executable, CreateProfileArguments(name, answer->Location), ProfileCreationTimeout);
    if (run.Status == TRunResult::TStatus::NotStarted)
        return failed(TCreateProfileResult::StartFailed);
    // The exit status says little (an application may end with 0 having refused the
    // switch): the profile list decides. Listing anew also finds a root the
    // application has only just created.
    ListProfiles(state);
    if (std::any_of(state.ProfileRecords.begin(), state.ProfileRecords.end(),
                    [&](const TProfileRecord& r) { return r.Name == name; }))
        return TCreateProfileResult::Created;
    return failed(run.Status == TRunResult::TStatus::TimedOut ? TCreateProfileResult::TimedOut
                                                              : TCreateProfileResult::NotCreated);
}

} // namespace tessarin
