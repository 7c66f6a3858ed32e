#pragma once
// The applications batch mode can serve: the installed ones of those with a batch
// name in the application table (SeaMonkey, Firefox, Thunderbird, Sunbird and
// Postbox), in number order.

#include "profiles/MozApp.h"

#include <memory>
#include <string>
#include <vector>

namespace tessarin {

class TMozManager {
public:
    // Creates their application objects and keeps those that are installed.
    explicit TMozManager(const TEnvironment& env);

    // The last application whose short name contains the lower-cased name; nullptr
    // for an empty name or no match.
    TMozApp* FindApp(const std::string& name) const;
    const std::vector<std::unique_ptr<TMozApp>>& Apps() const { return apps_; }

private:
    std::vector<std::unique_ptr<TMozApp>> apps_;
};

} // namespace tessarin
