#include "profiles/PostBoxApp.h"

#include "platform/RegistryView.h"
#include "profiles/Catalogue.h"

namespace tessarin {

TPostBoxApp::TPostBoxApp()
{
    Construct();
}

void TPostBoxApp::InitDefinition()
{
    constexpr std::uint8_t number = AppPostBox;
    number_ = number;
    name_ = "Postbox";
    shortName_ = "postbox";
    SetProfileRoots(ProfileRootCandidates(number));
    executables_ = ApplicationExecutables(number);
}

void TPostBoxApp::DetectInstallation()
{
    registry_ = OpenMachineRegistry();
    DetectWith(*registry_);
    registry_.reset();
}

} // namespace tessarin
