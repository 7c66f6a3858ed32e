#include "profiles/MozApp.h"

#include "platform/FileUtil.h"
#include "platform/Folders.h"
#include "profiles/Catalogue.h"
#include "profiles/ProfileFiles.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

bool Exists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(path, ec);
}

std::string ReplaceAll(std::string text, const std::string& what, const std::string& with)
{
    for (std::size_t pos = text.find(what); pos != std::string::npos;
         pos = text.find(what, pos + with.size()))
        text.replace(pos, what.size(), with);
    return text;
}

// The folder part of a file, ending in '/'.
std::string FolderOf(const std::string& file)
{
    const std::size_t slash = file.find_last_of('/');
    return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

std::string WithoutFirst(std::string text, const std::string& part)
{
    if (!part.empty())
        if (const std::size_t pos = text.find(part); pos != std::string::npos)
            text.erase(pos, part.size());
    return text;
}

} // namespace

std::string LowerCase(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

TMozApp::TMozApp(std::uint8_t number, const TInstallationSource& source)
    : number_(number), home_(source.Home)
{
    const TApplication& app = Application(number);
    name_ = app.ProductName;
    shortName_ = app.BatchName;
    executables_.assign(app.Executables.begin(), app.Executables.end());
    for (const char* root : app.ProfileRoots)
        profileRoots_.push_back(std::string(AppDataPlaceholder) + "/" + root);
    if (*app.LegacyRoot != '\0')
        profileRoots_.push_back(std::string(AppDataPlaceholder) + "/" + app.LegacyRoot);

    // Batch mode shows no application list; the entries the lookups add are dropped.
    std::vector<std::string> unusedList;
    LookUpApplication(source, number, unusedList);
    if (IsKnownApplication(number)) {
        const TInstallRecord& record = InstallRecord(number);
        installed_ = record.Installed;
        if (installed_) {
            version_ = record.Version;
            installFolder_ = record.InstallFolder;
        }
    }
    FindProfiles();
}

const TAppProfile* TMozApp::FindProfile(const std::string& fragment) const
{
    if (fragment.empty() || !profiles_)
        return nullptr;
    const TAppProfile* found = nullptr;
    for (const TAppProfile& profile : *profiles_)
        if (LowerCase(profile.GetName()).find(fragment) != std::string::npos)
            found = &profile;
    return found;
}

const TAppProfile* TMozApp::FindUsedProfile(const std::string& fragment) const
{
    if (fragment.empty() || !profiles_)
        return nullptr;
    const TAppProfile* found = nullptr;
    std::error_code ec;
    for (const TAppProfile& profile : *profiles_)
        if (LowerCase(profile.GetName()).find(fragment) != std::string::npos &&
            fs::is_regular_file(WithTrailingSeparator(profile.GetPath()) + "prefs.js", ec))
            found = &profile;
    return found ? found : FindProfile(fragment);
}

void TMozApp::FindProfiles()
{
    profiles_.reset();
    // The home folder without its trailing separator, which "[AppData]" stands for.
    std::string appData = home_;
    while (appData.size() > 1 && appData.back() == '/')
        appData.pop_back();
    std::vector<std::string> roots;
    for (const std::string& pattern : profileRoots_)
        roots.push_back(ReplaceAll(pattern, AppDataPlaceholder, appData));
    const std::string found = FirstRootWithProfileList(roots);
    if (found.empty())
        return;
    const std::string root = WithTrailingSeparator(found);
    profiles_.emplace();
    if (Exists(root + "profiles.ini"))
        LoadProfilesIni(root + "profiles.ini");
    else if (Exists(root + "registry.dat"))
        LoadRegistryDat(root + "registry.dat");
    else
        LoadRegistryDat(root + "appreg");
}

bool TMozApp::StartList(const std::string& file, std::string& data)
{
    if (!profiles_)
        profiles_.emplace();
    std::error_code ec;
    return ReadWholeFile(file, data, ec);
}

void TMozApp::LoadProfilesIni(const std::string& file)
{
    std::string data;
    if (!StartList(file, data))
        return;
    const std::string folder = FolderOf(file);
    for (const TProfilesIniEntry& entry : ReadProfilesIni(data)) {
        // Here only 1 means relative.
        const bool relative = entry.IsRelative == 1;
        const std::optional<std::string> path = ResolveProfileFolder(folder, entry.Path, relative);
        if (!path)
            continue;
        const std::string relativePath = relative ? entry.Path : WithoutFirst(entry.Path, folder);
        profiles_->emplace_back(entry.Name, relativePath, WithTrailingSeparator(*path));
    }
}

void TMozApp::LoadRegistryDat(const std::string& file)
{
    std::string data;
    if (!StartList(file, data))
        return;
    const std::string folder = FolderOf(file);
    for (const TRegistryDatProfile& profile : ReadRegistryDat(data).Profiles) {
        if (!IsUsableProfileFolder(folder, profile.Folder))
            continue;
        profiles_->emplace_back(profile.Name, WithoutFirst(profile.Folder, folder), profile.Folder);
    }
}

} // namespace tessarin
