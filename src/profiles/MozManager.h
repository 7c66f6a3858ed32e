#pragma once
// The applications batch mode can serve: the installed ones of SeaMonkey, Firefox,
// Thunderbird, Sunbird and Postbox, in that order.

#include "profiles/MozApp.h"

#include <memory>
#include <string>
#include <vector>

namespace tessarin {

class TMozManager {
public:
    // Creates the five application objects and keeps those that are installed.
    TMozManager();

    // The last application whose short name contains the lower-cased name; nullptr
    // for an empty name or no match.
    TMozApp* FindApp(const std::string& name) const;
    const std::vector<std::unique_ptr<TMozApp>>& Apps() const { return apps_; }

private:
    std::vector<std::unique_ptr<TMozApp>> apps_;
};

} // namespace tessarin
