#pragma once
// Read-only view of the machine-wide registry (HKEY_LOCAL_MACHINE) in which the
// catalogue looks up installed applications where one is set: tests set a view built
// from a small text file. Off Windows there is no registry: the application.ini files
// of the applications actually installed answer the catalogue directly
// (InstalledApps.h).

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

} // namespace tessarin
