#include "engine/OutsideMail.h"

#include "config/Environment.h"
#include "config/L10n.h"
#include "engine/Components.h"
#include "engine/PrefsParser.h"
#include "profiles/Catalogue.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

// What the rules look at: the folder and the places it must keep clear of, every one
// of them normalised with its links followed, so that no link can lead around a rule.
struct TPlaces {
    fs::path Folder;
    fs::path Home;
    fs::path Profile;
    std::vector<fs::path> ProfileRoots;
};

fs::path Resolved(const fs::path& path, std::error_code& ec)
{
    fs::path out = fs::weakly_canonical(path.lexically_normal(), ec);
    if (!out.empty() && out.filename().empty())
        out = out.parent_path();
    return out;
}

bool Within(const fs::path& path, const fs::path& folder)
{
    return !folder.empty() && IsPathWithin(path, folder);
}

bool StrictlyBelow(const fs::path& path, const fs::path& folder)
{
    return Within(path, folder) && path != folder;
}

bool BelowAProfileRoot(const TPlaces& p)
{
    return std::any_of(p.ProfileRoots.begin(), p.ProfileRoots.end(),
                       [&](const fs::path& root) { return StrictlyBelow(p.Folder, root); });
}

bool HiddenInHome(const TPlaces& p)
{
    if (!Within(p.Folder, p.Home) || p.Folder == p.Home)
        return false;
    const fs::path relative = p.Folder.lexically_relative(p.Home);
    const bool hidden = std::any_of(relative.begin(), relative.end(), [](const fs::path& part) {
        return part.native().starts_with('.');
    });
    return hidden && !BelowAProfileRoot(p);
}

// Folders beside the profiles from which the browser starts programs or loads
// libraries that the files there name.
bool HostProgramFolder(const TPlaces& p)
{
    if (!Within(p.Folder, p.Home))
        return false;
    const fs::path relative = p.Folder.lexically_relative(p.Home);
    return std::any_of(relative.begin(), relative.end(), [](const fs::path& part) {
        return part == "native-messaging-hosts" || part == "pkcs11-modules" ||
               part == "managed-storage";
    });
}

bool SystemFolder(const TPlaces& p)
{
    auto part = p.Folder.begin();
    if (part == p.Folder.end() || ++part == p.Folder.end())
        return false;
    const std::string top = part->string();
    constexpr std::array<std::string_view, 10> System = {"etc",  "usr", "bin", "sbin", "boot",
                                                         "dev",  "proc", "sys", "run", "var"};
    return top.starts_with("lib") ||
           std::find(System.begin(), System.end(), top) != System.end();
}

bool OwnedByAnother(const TPlaces& p)
{
    struct stat st {};
    return ::stat(p.Folder.c_str(), &st) == 0 && st.st_uid != ::geteuid();
}

struct TRule {
    const char* Refusal;
    bool (*Refuses)(const TPlaces&);
};

// In order; the first rule that refuses gives the reason.
constexpr TRule Rules[] = {
    // Mail over the home folder itself would replace ~/.bashrc, ~/.profile and the rest.
    {"LANG_OUTSIDE_HOME", [](const TPlaces& p) { return p.Folder == p.Home; }},
    // "/" or "/home": everything of the person's, the profile included, lies below.
    {"LANG_OUTSIDE_HOLDS_PROFILE",
     [](const TPlaces& p) {
         return p.Folder == p.Folder.root_path() || StrictlyBelow(p.Home, p.Folder) ||
                StrictlyBelow(p.Profile, p.Folder);
     }},
    // The profile's own mail comes back with the profile's files, not from outside.
    {"LANG_OUTSIDE_IN_PROFILE", [](const TPlaces& p) { return Within(p.Folder, p.Profile); }},
    // ~/.ssh, ~/.config, ~/.local, ~/.gnupg hold keys, autostart entries and programs;
    // mail lives there only below the applications' own profile roots.
    {"LANG_OUTSIDE_HIDDEN", HiddenInHome},
    {"LANG_OUTSIDE_HIDDEN", HostProgramFolder},
    // The system's own folders are never a person's mail, and a restore run as root
    // must not write there.
    {"LANG_OUTSIDE_SYSTEM", SystemFolder},
    // Another user's folder: as root, a restore must not write into someone else's files.
    {"LANG_OUTSIDE_OTHER_OWNER", OwnedByAnother},
};

std::vector<fs::path> ProfileRoots(const std::string& home)
{
    std::vector<fs::path> roots;
    std::error_code ec;
    for (std::uint8_t number = 1; number <= 12; ++number)
        for (const std::string& root : ProfileRootCandidates(number))
            if (fs::path r = Resolved(fs::path(home) / root, ec); !ec)
                roots.push_back(std::move(r));
    if (fs::path r = Resolved(OldSuiteProfileRoot(home), ec); !ec)
        roots.push_back(std::move(r));
    return roots;
}

std::string VerdictLine(const TOutsideFolderVerdict& v)
{
    return v.Allowed() ? v.Folder : v.Folder + " (" + Text("Messages", v.Refusal) + ")";
}

} // namespace

TOutsideFolderVerdict CheckOutsideMailFolder(const std::string& folder,
                                             const std::string& profileDir, const std::string& home)
{
    TOutsideFolderVerdict verdict{folder, {}, nullptr};
    // A relative or Windows path would land below whatever folder the program runs in.
    if (!folder.starts_with('/')) {
        verdict.Refusal = "LANG_OUTSIDE_NOT_ABSOLUTE";
        return verdict;
    }
    std::error_code ec;
    TPlaces places;
    places.Folder = Resolved(folder, ec);
    if (ec || places.Folder.empty()) {
        verdict.Refusal = "LANG_OUTSIDE_UNREADABLE";
        return verdict;
    }
    if (!home.empty())
        places.Home = Resolved(home, ec);
    if (!profileDir.empty())
        places.Profile = Resolved(profileDir, ec);
    places.ProfileRoots = ProfileRoots(home);
    for (const TRule& rule : Rules)
        if (rule.Refuses(places)) {
            verdict.Refusal = rule.Refusal;
            return verdict;
        }
    verdict.Resolved = places.Folder.string();
    return verdict;
}

bool RestoresOutsideMail(const TSharedState& state)
{
    return state.BackupFormat == 2 && state.Boxes[ComponentEmails].Checked &&
           !RestoreSkips(ComponentEmails, state.AppNumber) && !state.ExternalMailDirs.empty();
}

bool ConfirmOutsideMailFolders(const TSharedState& state, IUserInterface& ui)
{
    if (!RestoresOutsideMail(state))
        return true;
    const std::string profile = SelectedProfileFolder(state);
    std::string restored;
    std::string refused;
    for (const std::string& folder : state.ExternalMailDirs) {
        const TOutsideFolderVerdict verdict =
            CheckOutsideMailFolder(folder, profile, state.Env.Folders.Home);
        (verdict.Allowed() ? restored : refused) += "\n" + VerdictLine(verdict);
    }
    std::string text;
    if (!restored.empty())
        text += Text("Tessarin15", "LANG_OUTSIDE_MAIL_TO") + restored + "\n\n";
    if (!refused.empty())
        text += Text("Tessarin15", "LANG_OUTSIDE_MAIL_REFUSED") + refused + "\n\n";
    text += Text("Tessarin15", "LANG_OUTSIDE_MAIL_CONTINUE");
    return ui.QuestionBox(Text("TForm1", "LANG_QUESTION"), text);
}

} // namespace tessarin
