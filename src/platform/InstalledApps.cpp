#include "platform/InstalledApps.h"

#include "platform/IniFile.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

std::optional<TInstalledApplication> ReadApplicationIni(const fs::path& folder)
{
    std::error_code ec;
    const fs::path file = folder / "application.ini";
    if (!fs::is_regular_file(file, ec))
        return std::nullopt;
    try {
        const TIniFile ini = TIniFile::FromFile(file);
        if (!ini.KeyExists("App", "Name") || !ini.KeyExists("App", "Version"))
            return std::nullopt;
        TInstalledApplication app;
        app.Name = ini.ReadString("App", "Name");
        app.Version = ini.ReadString("App", "Version");
        // A backslash would turn the version into extra key levels.
        if (app.Name.empty() || app.Version.empty() || app.Version.find('\\') != std::string::npos)
            return std::nullopt;
        std::string text = folder.lexically_normal().string();
        while (text.size() > 1 && text.back() == '/')
            text.pop_back();
        app.Folder = text;
        return app;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

TInstallSearch DefaultInstallSearch(const std::string& sysroot, const std::string& home)
{
    const auto sys = [&](const std::string& p) {
        return sysroot.empty() || sysroot == "/" ? p : (fs::path(sysroot) / p.substr(1)).string();
    };
    const std::string userFlatpak = (fs::path(home) / ".local/share/flatpak/app").string();
    TInstallSearch search;
    search.Folders = {
        sys("/usr/lib/firefox-esr"),
        sys("/usr/lib/firefox"),
        sys("/usr/lib64/firefox"),
        sys("/usr/lib/thunderbird"),
        sys("/usr/lib64/thunderbird"),
        sys("/usr/lib/seamonkey"),
        sys("/usr/lib64/seamonkey"),
        sys("/usr/lib/iceweasel"),
        sys("/usr/lib/icedove"),
        sys("/usr/lib/iceape"),
        sys("/snap/firefox/current/usr/lib/firefox"),
        sys("/snap/thunderbird/current/usr/lib/thunderbird"),
        sys("/var/lib/flatpak/app/org.mozilla.firefox/current/active/files/lib/firefox"),
        sys("/var/lib/flatpak/app/org.mozilla.Thunderbird/current/active/files/lib/thunderbird"),
        userFlatpak + "/org.mozilla.firefox/current/active/files/lib/firefox",
        userFlatpak + "/org.mozilla.Thunderbird/current/active/files/lib/thunderbird",
    };
    search.ParentFolders = {sys("/opt")};
    return search;
}

std::vector<TInstalledApplication> FindInstalledApplications(const TInstallSearch& search)
{
    std::vector<TInstalledApplication> found;
    std::set<std::string> seen;
    const auto consider = [&](const fs::path& folder) {
        std::error_code ec;
        // The same installation may be reached twice (a symlinked /usr/lib64).
        const fs::path canonical = fs::canonical(folder, ec);
        const std::string id = ec ? folder.lexically_normal().string() : canonical.string();
        if (seen.count(id) != 0)
            return;
        if (auto app = ReadApplicationIni(folder)) {
            seen.insert(id);
            found.push_back(std::move(*app));
        }
    };
    for (const std::string& folder : search.Folders)
        consider(folder);
    for (const std::string& parent : search.ParentFolders) {
        std::error_code ec;
        std::vector<fs::path> children;
        for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec))
            if (std::error_code dirEc; it->is_directory(dirEc))
                children.push_back(it->path());
        std::sort(children.begin(), children.end()); // directory order is arbitrary
        for (const fs::path& child : children)
            consider(child);
    }
    return found;
}

} // namespace tessarin
