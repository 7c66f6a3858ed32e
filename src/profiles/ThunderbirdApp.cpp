#include "profiles/ThunderbirdApp.h"

#include "platform/RegistryView.h"
#include "profiles/Catalogue.h"

namespace tessarin {

TThunderbirdApp::TThunderbirdApp()
{
    Construct();
}

void TThunderbirdApp::InitDefinition()
{
    constexpr std::uint8_t number = AppThunderbird;
    number_ = number;
    name_ = "Mozilla Thunderbird";
    shortName_ = "thunderbird";
    SetProfileRoots(ProfileRootCandidates(number));
    executables_ = ApplicationExecutables(number);
}

void TThunderbirdApp::DetectInstallation()
{
    registry_ = OpenMachineRegistry();
    DetectWith(*registry_);
    registry_.reset();
}

} // namespace tessarin
