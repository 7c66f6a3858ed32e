#pragma once
// Read-only view of the machine-wide registry (HKEY_LOCAL_MACHINE) in which the
// catalogue looks up installed applications. Off Windows there is no registry, so
// the real view is synthesised from the application.ini files of the applications
// actually installed; tests inject a view built from a small text file.

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessarin {

class TIniFile;

class IRegistryView {
public:
    virtual ~IRegistryView() = default;

    // Key paths use backslashes ("SOFTWARE\mozilla\Mozilla Firefox") and compare
    // without regard to case; a trailing backslash is ignored. Keys are never created.
    virtual bool KeyExists(std::string_view key) const = 0;
    // The string value of valueName under key; nullopt when the key or value is missing.
    // An existing empty value gives an empty text.
    virtual std::optional<std::string> ReadString(std::string_view key,
                                                  std::string_view valueName) const = 0;
    // Names of the direct subkeys, in the order they were added.
    virtual std::vector<std::string> SubKeyNames(std::string_view key) const = 0;
};

// A registry held in memory. Adding a key adds its parents too.
class TMemoryRegistry : public IRegistryView {
public:
    bool KeyExists(std::string_view key) const override;
    std::optional<std::string> ReadString(std::string_view key,
                                          std::string_view valueName) const override;
    std::vector<std::string> SubKeyNames(std::string_view key) const override;

    void AddKey(std::string_view key);
    void SetValue(std::string_view key, std::string_view valueName, std::string_view data);

    // INI text: each section names a key, each pair is a string value of it:
    //   [SOFTWARE\mozilla\Mozilla Firefox]
    //   CurrentVersion=3.6.3 (en-US)
    static TMemoryRegistry FromText(std::string_view text);
    // A missing file gives an empty registry; an unreadable one throws std::runtime_error.
    static TMemoryRegistry FromFile(const std::filesystem::path& file);

private:
    static TMemoryRegistry FromIni(const TIniFile& ini);

    struct Key {
        std::string name;                  // last path element as first added
        std::vector<std::string> children; // lower-cased full paths, in order added
        std::vector<std::pair<std::string, std::string>> values; // name, data
    };
    Key* FindOrAdd(std::string_view key);
    const Key* Find(std::string_view key) const;

    std::map<std::string, Key> keys_; // lower-cased normalised path -> key
};

// Where installed applications are looked for: each folder of Folders may hold an
// application.ini; so may each direct subfolder of ParentFolders (/opt/<app>).
struct TInstallSearch {
    std::vector<std::string> Folders;
    std::vector<std::string> ParentFolders;
};

// The known installation places of Debian packages, /opt, snaps and flatpaks (system
// and per-user). sysroot is prepended to the system places and home is the user's
// home folder; both exist so the layout can be tested against a fake tree.
TInstallSearch DefaultInstallSearch(const std::string& sysroot, const std::string& home);

// One installation found by its application.ini.
struct TInstalledApplication {
    std::string Name;    // [App] Name=
    std::string Version; // [App] Version=
    std::string Folder;  // the folder holding application.ini, without trailing separator
};

// Every installation under the search places with an [App] Name and a Version, in
// search order. Unreadable or malformed application.ini files are skipped.
std::vector<TInstalledApplication> FindInstalledApplications(const TInstallSearch& search);

// The registry as the catalogue expects it on Windows: for each application known by
// its Name=, the version key with "CurrentVersion" (the first installation found
// wins) and, for every installation found, "<version>\Main" with "Install Directory".
TMemoryRegistry SynthesiseRegistry(const std::vector<TInstalledApplication>& installed);

// The view the catalogue uses: the one a test set, or else a fresh synthesis of the
// machine's installations (so a scan always sees what is installed now).
std::shared_ptr<const IRegistryView> OpenMachineRegistry();
// nullptr goes back to the real view.
void SetMachineRegistry(std::shared_ptr<const IRegistryView> registry);

} // namespace tessarin
