#pragma once
// Postbox.

#include "profiles/MozApp.h"

#include <memory>

namespace tessarin {

class TPostBoxApp final : public TMozApp {
public:
    TPostBoxApp();

protected:
    void InitDefinition() override;
    void DetectInstallation() override;

private:
    std::shared_ptr<const IRegistryView> registry_; // held only while detecting
};

} // namespace tessarin
