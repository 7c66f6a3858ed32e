#pragma once
// Applications on the object road (batch mode): each object reads its row of the
// application table, detects its installation with the scan's lookups and finds its
// own profiles.

#include "profiles/AppProfile.h"
#include "profiles/Catalogue.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessarin {

// The placeholder in profile-root patterns that stands for the application-data
// folder (the home folder here).
inline constexpr const char* AppDataPlaceholder = "[AppData]";

class TMozApp {
public:
    // Detects the application in source and reads its profile list.
    TMozApp(std::uint8_t number, const TInstallationSource& source);
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

private:
    // Starts an empty profile list and reads file; false when it cannot be read.
    bool StartList(const std::string& file, std::string& data);

    int number_ = 0;
    std::string home_;
    std::string name_;
    std::string shortName_;
    std::string version_;
    std::vector<std::string> profileRoots_;
    std::vector<std::string> executables_;
    std::string installFolder_;
    bool installed_ = false;
    std::optional<std::vector<TAppProfile>> profiles_;
};

// A class name for each application batch mode serves.
template <std::uint8_t Number> class TMozAppOf final : public TMozApp {
public:
    explicit TMozAppOf(const TInstallationSource& source) : TMozApp(Number, source) {}
};
using TSeaMonkeyApp = TMozAppOf<AppSeaMonkey>;
using TFirefoxApp = TMozAppOf<AppFirefox>;
using TThunderbirdApp = TMozAppOf<AppThunderbird>;
using TSunbirdApp = TMozAppOf<AppSunbird>;
using TPostBoxApp = TMozAppOf<AppPostBox>;

// Lower-cases ASCII letters; other bytes (UTF-8 included) stay as they are.
std::string LowerCase(std::string text);

} // namespace tessarin
