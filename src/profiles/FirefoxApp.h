#pragma once
// Mozilla Firefox.

#include "profiles/MozApp.h"

#include <memory>

namespace tessarin {

class TFirefoxApp final : public TMozApp {
public:
    TFirefoxApp();

protected:
    void InitDefinition() override;
    void DetectInstallation() override;

private:
    std::shared_ptr<const IRegistryView> registry_; // held only while detecting
};

} // namespace tessarin
