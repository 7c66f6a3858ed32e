#pragma once
// Mozilla Sunbird.

#include "profiles/MozApp.h"

#include <memory>

namespace tessarin {

class TSunbirdApp final : public TMozApp {
public:
    TSunbirdApp();

protected:
    void InitDefinition() override;
    void DetectInstallation() override;

private:
    std::shared_ptr<const IRegistryView> registry_; // held only while detecting
};

} // namespace tessarin
