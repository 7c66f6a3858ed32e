#include "platform/RegistryView.h"

#include "platform/IniFile.h"

#include <algorithm>

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

} // namespace tessarin
