#pragma once
// The SeaMonkey suite and the older Mozilla suite before it.

#include "profiles/MozApp.h"

#include <memory>

namespace tessarin {

class TSeaMonkeyApp final : public TMozApp {
public:
    TSeaMonkeyApp();

protected:
    void InitDefinition() override;
    void DetectInstallation() override;

private:
    std::shared_ptr<const IRegistryView> registry_; // held only while detecting
};

} // namespace tessarin
