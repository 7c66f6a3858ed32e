#pragma once
// Applications on the object road (batch mode): each object knows its definition,
// detects its installation through the registry view and finds its own profiles.

#include "profiles/AppProfile.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessarin {

class IRegistryView;

// The placeholder in profile-root patterns that stands for the application-data
// folder (the home folder here).
inline constexpr const char* AppDataPlaceholder = "[AppData]";

class TMozApp {
public:
    virtual ~TMozApp() = default;
    TMozApp(const TMozApp&) = delete;
    TMozApp& operator=(const TMozApp&) = delete;

    int GetId() const { return number_; }
    const std::string& GetName() const { return name_; }
    const std::string& GetShortName() const { return shortName_; }
    const std::string& GetVersion() const { return version_; }
    const std::vector<std::string>& GetProfileRoots() const { return profileRoots_; }
    const std::vector<std::string>& GetExecutables() const { return executables_; }
    const std::string& GetInstallFolder() const { return installFolder_; }
    bool IsInstalled() const { return installed_; }
    // nullptr when none of the profile roots holds a profile list.
    const std::vector<TAppProfile>* GetProfiles() const
    {
        return profiles_ ? &*profiles_ : nullptr;
    }

    // The last profile whose lower-cased name contains fragment (which the caller
    // passes lower-cased); nullptr for an empty fragment or no match.
    const TAppProfile* FindProfile(const std::string& fragment) const;
    // The same, among the matches whose folder holds a prefs.js (a first start leaves
    // an unused "default" beside the profile in use); FindProfile's when none does.
    const TAppProfile* FindUsedProfile(const std::string& fragment) const;

    // Looks for the first profile root holding profiles.ini, registry.dat or appreg
    // and reads it; no such root leaves the application without a profile list.
    void FindProfiles();
    void LoadProfilesIni(const std::string& file);
    void LoadRegistryDat(const std::string& file);

protected:
    TMozApp() = default;
    // InitDefinition, DetectInstallation, FindProfiles. Each final class calls it at the
    // end of its constructor, where the virtual calls reach its own overrides.
    void Construct();

    virtual void InitDefinition() = 0;
    virtual void DetectInstallation() = 0;

    // The scan's lookups for this application, then version, folder and installed
    // copied from the installation table.
    void DetectWith(const IRegistryView& registry);
    // "[AppData]/" + each root relative to the home folder.
    void SetProfileRoots(const std::vector<std::string>& relativeRoots);

    int number_ = 0;
    std::string name_;
    std::string shortName_;
    std::string version_;
    std::vector<std::string> profileRoots_;
    std::vector<std::string> executables_;
    std::string installFolder_;
    bool installed_ = false;
    std::optional<std::vector<TAppProfile>> profiles_;
};

// The home folder without its trailing separator, which "[AppData]" stands for.
std::string AppDataFolder();

// Lower-cases ASCII letters; other bytes (UTF-8 included) stay as they are.
std::string LowerCase(std::string text);

} // namespace tessarin
