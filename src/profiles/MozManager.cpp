#include "profiles/MozManager.h"

#include "config/Environment.h"

namespace tessarin {

TMozManager::TMozManager(const TEnvironment& env)
{
    // One look at the system serves every application.
    const TInstallationSource source = MachineInstallations(env);
    for (const TApplication& row : Applications()) {
        if (*row.BatchName == '\0')
            continue;
        auto app = std::make_unique<TMozApp>(row.Number, source);
        if (app->IsInstalled())
            apps_.push_back(std::move(app));
    }
}

TMozApp* TMozManager::FindApp(const std::string& name) const
{
    const std::string wanted = LowerCase(name);
    if (wanted.empty())
        return nullptr;
    TMozApp* found = nullptr;
    for (const auto& app : apps_)
        if (app->GetShortName().find(wanted) != std::string::npos)
            found = app.get();
    return found;
}

} // namespace tessarin
