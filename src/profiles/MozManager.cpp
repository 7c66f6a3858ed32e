#include "profiles/MozManager.h"

#include "profiles/FirefoxApp.h"
#include "profiles/PostBoxApp.h"
#include "profiles/SeaMonkeyApp.h"
#include "profiles/SunbirdApp.h"
#include "profiles/ThunderbirdApp.h"

namespace tessarin {

namespace {
template <typename App> void KeepWhenInstalled(std::vector<std::unique_ptr<TMozApp>>& apps)
{
    auto app = std::make_unique<App>();
    if (app->IsInstalled())
        apps.push_back(std::move(app));
}
} // namespace

TMozManager::TMozManager()
{
    KeepWhenInstalled<TSeaMonkeyApp>(apps_);
    KeepWhenInstalled<TFirefoxApp>(apps_);
    KeepWhenInstalled<TThunderbirdApp>(apps_);
    KeepWhenInstalled<TSunbirdApp>(apps_);
    KeepWhenInstalled<TPostBoxApp>(apps_);
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
