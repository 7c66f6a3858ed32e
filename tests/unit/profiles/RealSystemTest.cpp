// A check against the applications really installed on this machine, run by hand:
//   TESSARIN_REAL_APPS=1 profiles_tests --gtest_filter='RealSystem.*'
// It expects Debian's firefox-esr and thunderbird packages and a profile made with
// "firefox-esr --headless -CreateProfile tessarinA" and
// "thunderbird --headless -CreateProfile tessarinB". Without the variable it is skipped,
// so the suite does not depend on what a machine has installed.

#include "config/Environment.h"
#include "config/SharedState.h"
#include "platform/IniFile.h"
#include "profiles/Catalogue.h"
#include "profiles/MozManager.h"
#include "profiles/ProfileDiscovery.h"
#include "profiles/RunningCheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

using namespace tessarin;

namespace {

std::string InstalledVersion(const std::string& folder)
{
    return TIniFile::FromFile(folder + "/application.ini").ReadString("App", "Version");
}

// The real system's, with the built-in English texts.
const TEnvironment& Real()
{
    static const TEnvironment env = [] {
        TEnvironment real = SystemEnvironment();
        real.Language = std::make_shared<Tl10n>("/nonexistent/Default.lng");
        return real;
    }();
    return env;
}

bool WaitFor(bool wanted, std::uint8_t number)
{
    for (int i = 0; i < 300; ++i) {
        if (IsApplicationRunning(*Real().Processes, number) == wanted)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

class RealSystem : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* flag = std::getenv("TESSARIN_REAL_APPS");
        if (flag == nullptr || std::string(flag) != "1")
            GTEST_SKIP() << "set TESSARIN_REAL_APPS=1 to check the installed applications";
        ResetInstallationTable();
    }
    const TCurrentEnvironment current_{Real()};
};

TEST_F(RealSystem, CatalogueFindsFirefoxEsrAndThunderbirdWithTheirProfiles)
{
    TSharedState state(Real());
    ScanInstalledApplications(state);
    for (const std::string& entry : state.ApplicationList)
        std::cout << "application list: " << entry << "\n";
    const std::string firefoxVersion = InstalledVersion("/usr/lib/firefox-esr");
    const std::string thunderbirdVersion = InstalledVersion("/usr/lib/thunderbird");
    const auto& list = state.ApplicationList;
    EXPECT_NE(std::find(list.begin(), list.end(), "Mozilla Firefox " + firefoxVersion), list.end());
    EXPECT_NE(std::find(list.begin(), list.end(), "Mozilla Thunderbird " + thunderbirdVersion),
              list.end());
    EXPECT_EQ(InstallRecord(AppFirefox).InstallFolder, "/usr/lib/firefox-esr");
    EXPECT_EQ(InstallRecord(AppThunderbird).InstallFolder, "/usr/lib/thunderbird");

    for (const auto& [number, name] :
         {std::pair<std::uint8_t, std::string>{AppFirefox, "tessarinA"},
          {AppThunderbird, "tessarinB"}}) {
        SelectApplication(state, number == AppFirefox
                                     ? "Mozilla Firefox " + firefoxVersion
                                     : "Mozilla Thunderbird " + thunderbirdVersion);
        ASSERT_EQ(state.AppNumber, number);
        ListProfiles(state);
        std::cout << "profile root: " << state.ProfileDir << "\n";
        for (const auto& r : state.ProfileRecords)
            std::cout << "  profile: " << r.Name << " -> " << r.Folder << "\n";
        const auto& profiles = state.ProfileList;
        EXPECT_NE(std::find(profiles.begin(), profiles.end(), name), profiles.end());
        const auto folder = ResolveSelectedProfile(state, name);
        ASSERT_TRUE(folder);
        EXPECT_TRUE(std::filesystem::is_directory(*folder)) << *folder;
    }

    const TMozManager manager(Real());
    for (const auto& app : manager.Apps())
        std::cout << "manager: " << app->GetShortName() << " " << app->GetVersion() << " "
                  << app->GetInstallFolder() << "\n";
    ASSERT_NE(manager.FindApp("firefox"), nullptr);
    ASSERT_NE(manager.FindApp("thunderbird"), nullptr);
    EXPECT_NE(manager.FindApp("firefox")->FindProfile("tessarina"), nullptr);
    EXPECT_NE(manager.FindApp("thunderbird")->FindProfile("tessarinb"), nullptr);
}

TEST_F(RealSystem, RunningFirefoxEsrIsDetected)
{
    ASSERT_FALSE(IsApplicationRunning(*Real().Processes, AppFirefox))
        << "close Firefox before this check";
    std::vector<std::string> args = {"/usr/lib/firefox-esr/firefox-esr",
                                     "--headless",
                                     "--no-remote",
                                     "-P",
                                     "tessarinA",
                                     "about:blank"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    const bool seen = WaitFor(true, AppFirefox);
    for (const std::string& name : Real().Processes->Names())
        if (name.find("irefox") != std::string::npos || name == "Web Content")
            std::cout << "process: " << name << "\n";
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(WaitFor(false, AppFirefox));
}

} // namespace
