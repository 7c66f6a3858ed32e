#include "profiles/MozManager.h"

namespace tessarin {

TMozManager::TMozManager()
{
    // One look at the system serves every application.
    const TInstallationSource source = MachineInstallations();
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
