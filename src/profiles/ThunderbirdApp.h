#pragma once
// Mozilla Thunderbird.

#include "profiles/MozApp.h"

#include <memory>

namespace tessarin {

class TThunderbirdApp final : public TMozApp {
public:
    TThunderbirdApp();

protected:
    void InitDefinition() override;
    void DetectInstallation() override;

private:
    std::shared_ptr<const IRegistryView> registry_; // held only while detecting
};

} // namespace tessarin
