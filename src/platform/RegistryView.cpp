#include "platform/RegistryView.h"

#include "platform/Folders.h"
#include "platform/IniFile.h"

#include <algorithm>
#include <mutex>
#include <set>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

// Windows ignores a leading or trailing backslash in a subkey path.
std::string_view StripSlashes(std::string_view key)
{
    while (!key.empty() && key.front() == '\\')
        key.remove_prefix(1);
    while (!key.empty() && key.back() == '\\')
        key.remove_suffix(1);
    return key;
}

// Where the catalogue expects each application. Must stay in line with the registry
// table of the catalogue (src/profiles/Catalogue.cpp); Debian's old rebranded builds
// are the same applications.
struct TKnownApplication {
    const char* IniName;
    const char* VersionKey;
    const char* FolderKeyPrefix;
};
constexpr TKnownApplication KnownApplications[] = {
    {"SeaMonkey", "SOFTWARE\\mozilla\\SeaMonkey\\", "SOFTWARE\\mozilla\\SeaMonkey\\"},
    {"Iceape", "SOFTWARE\\mozilla\\SeaMonkey\\", "SOFTWARE\\mozilla\\SeaMonkey\\"},
    {"Firefox", "SOFTWARE\\mozilla\\Mozilla Firefox", "SOFTWARE\\mozilla\\Mozilla Firefox\\"},
    {"Iceweasel", "SOFTWARE\\mozilla\\Mozilla Firefox", "SOFTWARE\\mozilla\\Mozilla Firefox\\"},
    {"Thunderbird", "SOFTWARE\\mozilla\\Mozilla Thunderbird",
     "SOFTWARE\\mozilla\\Mozilla Thunderbird\\"},
    {"Icedove", "SOFTWARE\\mozilla\\Mozilla Thunderbird",
     "SOFTWARE\\mozilla\\Mozilla Thunderbird\\"},
    {"Sunbird", "SOFTWARE\\mozilla\\Mozilla Sunbird", "SOFTWARE\\mozilla\\Mozilla Sunbird\\"},
    {"Iceowl", "SOFTWARE\\mozilla\\Mozilla Sunbird", "SOFTWARE\\mozilla\\Mozilla Sunbird\\"},
    {"Flock", "SOFTWARE\\Flock", "SOFTWARE\\Flock\\Flock\\"},
    {"Netscape", "SOFTWARE\\mozilla\\Netscape Navigator",
     "SOFTWARE\\mozilla\\Netscape Navigator\\"},
    {"Spicebird", "SOFTWARE\\mozilla\\Spicebird", "SOFTWARE\\mozilla\\Spicebird\\"},
    {"Songbird", "SOFTWARE\\mozilla\\Songbird", "SOFTWARE\\mozilla\\Songbird\\"},
    {"Postbox", "SOFTWARE\\PostBox\\PostBox", "SOFTWARE\\PostBox\\PostBox\\"},
    {"Wyzo", "SOFTWARE\\mozilla\\Wyzo", "SOFTWARE\\mozilla\\Wyzo\\"},
};

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

std::mutex g_registryMutex;
std::shared_ptr<const IRegistryView> g_registry;

} // namespace

TMemoryRegistry::Key* TMemoryRegistry::FindOrAdd(std::string_view key)
{
    key = StripSlashes(key);
    std::string path;
    Key* parent = nullptr;
    std::size_t start = 0;
    while (start <= key.size()) {
        std::size_t end = key.find('\\', start);
        if (end == std::string_view::npos)
            end = key.size();
        const std::string_view part = key.substr(start, end - start);
        const std::string childPath =
            path.empty() ? ToLowerAscii(part) : path + "\\" + ToLowerAscii(part);
        auto [it, added] = keys_.try_emplace(childPath);
        if (added) {
            it->second.name = std::string(part);
            if (parent != nullptr)
                parent->children.push_back(childPath);
            else
                keys_[""].children.push_back(childPath);
        }
        parent = &it->second;
        path = childPath;
        if (end == key.size())
            break;
        start = end + 1;
    }
    return parent;
}

const TMemoryRegistry::Key* TMemoryRegistry::Find(std::string_view key) const
{
    const auto it = keys_.find(ToLowerAscii(StripSlashes(key)));
    return it == keys_.end() ? nullptr : &it->second;
}

bool TMemoryRegistry::KeyExists(std::string_view key) const
{
    return !StripSlashes(key).empty() && Find(key) != nullptr;
}

std::optional<std::string> TMemoryRegistry::ReadString(std::string_view key,
                                                       std::string_view valueName) const
{
    const Key* k = StripSlashes(key).empty() ? nullptr : Find(key);
    if (k == nullptr)
        return std::nullopt;
    for (const auto& [name, data] : k->values)
        if (EqualsNoCase(name, valueName))
            return data;
    return std::nullopt;
}

std::vector<std::string> TMemoryRegistry::SubKeyNames(std::string_view key) const
{
    std::vector<std::string> names;
    const Key* k = Find(key);
    if (k == nullptr)
        return names;
    for (const std::string& child : k->children)
        names.push_back(keys_.at(child).name);
    return names;
}

void TMemoryRegistry::AddKey(std::string_view key)
{
    if (!StripSlashes(key).empty())
        FindOrAdd(key);
}

void TMemoryRegistry::SetValue(std::string_view key, std::string_view valueName,
                               std::string_view data)
{
    if (StripSlashes(key).empty())
        return;
    Key* k = FindOrAdd(key);
    for (auto& [name, value] : k->values)
        if (EqualsNoCase(name, valueName)) {
            value = std::string(data);
            return;
        }
    k->values.emplace_back(std::string(valueName), std::string(data));
}

TMemoryRegistry TMemoryRegistry::FromText(std::string_view text)
{
    return FromIni(TIniFile::FromText(text));
}

TMemoryRegistry TMemoryRegistry::FromFile(const fs::path& file)
{
    return FromIni(TIniFile::FromFile(file)); // a missing file reads as empty
}

TMemoryRegistry TMemoryRegistry::FromIni(const TIniFile& ini)
{
    TMemoryRegistry registry;
    for (const std::string& section : ini.SectionNames()) {
        registry.AddKey(section);
        for (const std::string& name : ini.KeyNames(section))
            if (!registry.ReadString(section, name)) // first pair wins, as in the INI reader
                registry.SetValue(section, name, ini.ReadString(section, name));
    }
    return registry;
}

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

TMemoryRegistry SynthesiseRegistry(const std::vector<TInstalledApplication>& installed)
{
    TMemoryRegistry registry;
    for (const TInstalledApplication& app : installed) {
        const auto known = std::find_if(
            std::begin(KnownApplications), std::end(KnownApplications),
            [&](const TKnownApplication& k) { return EqualsNoCase(k.IniName, app.Name); });
        if (known == std::end(KnownApplications))
            continue;
        if (!registry.ReadString(known->VersionKey, "CurrentVersion"))
            registry.SetValue(known->VersionKey, "CurrentVersion", app.Version);
        const std::string mainKey = std::string(known->FolderKeyPrefix) + app.Version + "\\Main";
        if (!registry.ReadString(mainKey, "Install Directory"))
            registry.SetValue(mainKey, "Install Directory", app.Folder);
    }
    return registry;
}

std::shared_ptr<const IRegistryView> OpenMachineRegistry()
{
    {
        std::lock_guard lock(g_registryMutex);
        if (g_registry)
            return g_registry;
    }
    const TInstallSearch search = DefaultInstallSearch("/", Folders().Home);
    return std::make_shared<TMemoryRegistry>(SynthesiseRegistry(FindInstalledApplications(search)));
}

void SetMachineRegistry(std::shared_ptr<const IRegistryView> registry)
{
    std::lock_guard lock(g_registryMutex);
    g_registry = std::move(registry);
}

} // namespace tessarin
