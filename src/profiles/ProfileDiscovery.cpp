#include "profiles/ProfileDiscovery.h"

#include "config/Environment.h"
#include "config/L10n.h"
#include "config/SharedState.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "platform/UserInterface.h"
#include "profiles/Catalogue.h"
#include "profiles/ProfileFiles.h"

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

bool LessNoCase(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lx = static_cast<unsigned char>(x >= 'A' && x <= 'Z' ? x - 'A' + 'a' : x);
        const auto ly = static_cast<unsigned char>(y >= 'A' && y <= 'Z' ? y - 'A' + 'a' : y);
        return lx < ly;
    });
}

bool IsFile(const fs::path& p)
{
    std::error_code ec;
    return fs::exists(p, ec);
}

std::string PortableEntryText()
{
    return Text("Tessarin14", "LANG_PORTABLE_PROFILE");
}

} // namespace

void InsertSorted(std::vector<std::string>& list, const std::string& text)
{
    list.insert(std::upper_bound(list.begin(), list.end(), text, LessNoCase), text);
}

namespace {

// The same order as InsertSorted for each name in turn, in n log n: inserting one by
// one moves the list for every name, which a profile list of many thousand entries
// turns into minutes.
void InsertAllSorted(std::vector<std::string>& list, std::vector<std::string> names)
{
    std::stable_sort(names.begin(), names.end(), LessNoCase);
    const auto middle = static_cast<std::ptrdiff_t>(list.size());
    list.insert(list.end(), std::make_move_iterator(names.begin()),
                std::make_move_iterator(names.end()));
    std::inplace_merge(list.begin(), list.begin() + middle, list.end(), LessNoCase);
}

struct TListedProfile {
    const TProfilesIniEntry* Entry;
    std::string Folder;
};

// The profile the application itself opens: the one an install section names
// (profiles.ini, then installs.ini), else the one marked Default=1 that has been used.
// A first start makes an unused "default" marked Default=1 beside the profile it
// really uses. Empty when neither is known.
std::string ProfileInUse(const std::string& root, std::string_view profilesIni,
                         const std::vector<TListedProfile>& listed)
{
    std::vector<std::string> defaults = ReadInstallDefaults(profilesIni, false);
    std::string installs;
    std::error_code ec;
    if (IsFile(root + "installs.ini") && ReadWholeFile(root + "installs.ini", installs, ec))
        for (std::string& path : ReadInstallDefaults(installs, true))
            defaults.push_back(std::move(path));
    for (const std::string& path : defaults)
        for (const TListedProfile& profile : listed)
            if (profile.Entry->Path == path)
                return profile.Entry->Name;
    for (const TListedProfile& profile : listed)
        if (profile.Entry->IsDefault && fs::is_regular_file(profile.Folder + "/prefs.js", ec))
            return profile.Entry->Name;
    return {};
}

} // namespace

bool ParseProfileRoot(TSharedState& state, const std::string& root)
{
    state.ProfileRecords.clear();
    state.ProfileInUse.clear();
    if (root.empty())
        return true;
    const std::string folder = WithTrailingSeparator(root);
    std::string data;
    std::error_code ec;

    if (IsFile(folder + "profiles.ini")) {
        if (!ReadWholeFile(folder + "profiles.ini", data, ec))
            return true; // an unreadable list reads as an empty one
        std::vector<std::string> names;
        const std::vector<TProfilesIniEntry> entries = ReadProfilesIni(data);
        std::vector<TListedProfile> listed;
        for (const TProfilesIniEntry& entry : entries) {
            // Only the low byte of IsRelative counts.
            const bool relative = (static_cast<std::uint64_t>(entry.IsRelative) & 0xFF) != 0;
            const std::optional<std::string> profile =
                ResolveProfileFolder(folder, entry.Path, relative);
            if (!profile)
                continue;
            state.ProfileRecords.push_back({entry.Name, *profile});
            names.push_back(entry.Name);
            listed.push_back({&entry, *profile});
        }
        InsertAllSorted(state.ProfileList, std::move(names));
        state.ProfileInUse = ProfileInUse(folder, data, listed);
        return true;
    }

    std::string registry = folder + "registry.dat";
    if (!IsFile(registry))
        registry = folder + "appreg";
    if (!IsFile(registry))
        return true;
    if (!ReadWholeFile(registry, data, ec))
        return true;
    const TRegistryDatContents contents = ReadRegistryDat(data);
    if (!contents.HasProfileNode)
        return false;
    std::vector<std::string> names;
    for (const TRegistryDatProfile& profile : contents.Profiles) {
        if (!IsUsableProfileFolder(folder, profile.Folder))
            continue;
        state.ProfileRecords.push_back({profile.Name, profile.Folder});
        // The old suite names its profile folders "*.slt"; other nodes are no profiles.
        if (profile.Folder.find(".slt") != std::string::npos)
            names.push_back(profile.Name);
    }
    InsertAllSorted(state.ProfileList, std::move(names));
    return true;
}

void ListProfiles(TSharedState& state)
{
    state.ProfileList.clear();
    const std::string root = ProfileRootFor(state.Env.Folders.Home, state.AppNumber);
    if (root.empty()) {
        // Portable or nothing selected: there is no profile root to read, and reading
        // the bare file names would pick up whatever lies in the working folder.
        state.ProfileRecords.clear();
        state.ProfileInUse.clear();
    } else {
        state.ProfileDir = root;
        ParseProfileRoot(state, state.ProfileDir);
        const std::string legacy = Application(state.AppNumber).LegacyRoot;
        if (!legacy.empty() && state.ProfileRecords.empty())
            ParseProfileRoot(state, WithTrailingSeparator(state.Env.Folders.Home) + legacy + "/");
    }
    if (!state.ExternalProfileDir.empty())
        InsertSorted(state.ProfileList, PortableEntryText());
}

std::optional<std::string> ResolveSelectedProfile(const TSharedState& state,
                                                  const std::string& selectedEntry)
{
    for (const TProfileRecord& record : state.ProfileRecords)
        if (record.Name == selectedEntry) {
            const std::string folder = Trim(record.Folder);
            if (folder.empty())
                return std::nullopt;
            return WithTrailingSeparator(folder);
        }
    if (!state.ExternalProfileDir.empty())
        return WithTrailingSeparator(state.ExternalProfileDir);
    return std::nullopt;
}

bool AddPortableProfile(TSharedState& state, IUserInterface& ui)
{
    const std::optional<std::string> chosenFolder =
        ui.ChooseFolder(Text("Tessarin14", "LANG_PORTABLE_SELECT_PROFILE"));
    if (!chosenFolder || chosenFolder->empty())
        return false;
    if (!IsFile(WithTrailingSeparator(*chosenFolder) + "prefs.js")) {
        ui.ErrorBox(Text("Tessarin14", "LANG_ERROR"), Text("Tessarin14", "LANG_NO_PROFIL2"));
        return false;
    }
    const std::string entry = PortableEntryText();
    if (std::find(state.ProfileList.begin(), state.ProfileList.end(), entry) ==
        state.ProfileList.end()) {
        InsertSorted(state.ProfileList, entry);
        state.ExternalProfileDir = *chosenFolder;
        return true;
    }
    // The entry is there already. When it stands for an earlier pick, the new pick
    // replaces it: keeping the first folder would back up a profile the person did
    // not choose. When a real profile carries that name, it keeps its entry.
    if (!state.ExternalProfileDir.empty() && state.ExternalProfileDir != *chosenFolder) {
        state.ExternalProfileDir = *chosenFolder;
        return true;
    }
    return false;
}

} // namespace tessarin
