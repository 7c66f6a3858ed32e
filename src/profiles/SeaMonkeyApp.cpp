#include "profiles/SeaMonkeyApp.h"

#include "platform/RegistryView.h"
#include "profiles/Catalogue.h"

namespace tessarin {

TSeaMonkeyApp::TSeaMonkeyApp()
{
    Construct();
}

void TSeaMonkeyApp::InitDefinition()
{
    constexpr std::uint8_t number = AppSeaMonkey;
    number_ = number;
    name_ = "SeaMonkey";
    shortName_ = "seamonkey";
    // The old suite kept its registry (appreg) directly in ~/.mozilla.
    std::vector<std::string> roots = ProfileRootCandidates(number);
    roots.push_back(".mozilla");
    SetProfileRoots(roots);
    executables_ = ApplicationExecutables(number);
}

void TSeaMonkeyApp::DetectInstallation()
{
    registry_ = OpenMachineRegistry();
    DetectWith(*registry_);
    registry_.reset();
}

} // namespace tessarin
