#include "profiles/FirefoxApp.h"

#include "platform/RegistryView.h"
#include "profiles/Catalogue.h"

namespace tessarin {

TFirefoxApp::TFirefoxApp()
{
    Construct();
}

void TFirefoxApp::InitDefinition()
{
    constexpr std::uint8_t number = AppFirefox;
    number_ = number;
    name_ = "Mozilla Firefox";
    shortName_ = "firefox";
    SetProfileRoots(ProfileRootCandidates(number));
    executables_ = ApplicationExecutables(number);
}

void TFirefoxApp::DetectInstallation()
{
    registry_ = OpenMachineRegistry();
    DetectWith(*registry_);
    registry_.reset();
}

} // namespace tessarin
