#include "profiles/SunbirdApp.h"

#include "platform/RegistryView.h"
#include "profiles/Catalogue.h"

namespace tessarin {

TSunbirdApp::TSunbirdApp()
{
    Construct();
}

void TSunbirdApp::InitDefinition()
{
    constexpr std::uint8_t number = AppSunbird;
    number_ = number;
    name_ = "Mozilla Sunbird";
    shortName_ = "sunbird";
    SetProfileRoots(ProfileRootCandidates(number));
    executables_ = ApplicationExecutables(number);
}

void TSunbirdApp::DetectInstallation()
{
    registry_ = OpenMachineRegistry();
    DetectWith(*registry_);
    registry_.reset();
}

} // namespace tessarin
