#include "platform/KeyStore.h"

#include "platform/FileUtil.h"
#include "platform/Folders.h"
#include "platform/IniFile.h"

#include <algorithm>
#include <vector>

namespace fs = std::filesystem;

namespace tessarin {

namespace {
std::string ToLower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}
} // namespace

TIniKeyStore::TIniKeyStore(fs::path file) : file_(std::move(file)) {}

std::optional<std::string> TIniKeyStore::ReadString(const std::string& key,
                                                    const std::string& valueName) const
{
    try {
        const TIniFile ini = TIniFile::FromFile(file_);
        if (!ini.KeyExists(key, valueName))
            return std::nullopt;
        return ini.ReadString(key, valueName);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool TIniKeyStore::WriteString(const std::string& key, const std::string& valueName,
                               const std::string& data)
{
    // A line break would split the value into a second, bogus pair; a value longer than
    // the reader returns would come back cut.
    if (data.size() > TIniFile::MaxValueLength || data.find_first_of("\r\n") != std::string::npos ||
        valueName.find_first_of("=\r\n") != std::string::npos ||
        key.find_first_of("[]\r\n") != std::string::npos)
        return false;
    TIniFile ini;
    try {
        ini = TIniFile::FromFile(file_);
    } catch (const std::exception&) {
        return false; // never replace a file we could not read
    }
    std::vector<std::string> sections = ini.SectionNames();
    if (std::none_of(sections.begin(), sections.end(),
                     [&](const std::string& s) { return EqualsNoCase(s, key); }))
        sections.push_back(key);

    std::string out;
    for (const std::string& section : sections) {
        out += "[" + section + "]\n";
        bool written = false;
        for (const std::string& name : ini.KeyNames(section)) {
            if (EqualsNoCase(section, key) && EqualsNoCase(name, valueName)) {
                if (written)
                    continue;
                out += valueName + "=\"" + data + "\"\n";
                written = true;
            } else {
                out += name + "=\"" + ini.ReadString(section, name) + "\"\n";
            }
        }
        if (EqualsNoCase(section, key) && !written)
            out += valueName + "=\"" + data + "\"\n";
        out += "\n";
    }
    std::error_code ec;
    fs::create_directories(file_.parent_path(), ec);
    return WriteFileAtomically(file_, out, ec);
}

std::optional<std::string> TMemoryKeyStore::ReadString(const std::string& key,
                                                       const std::string& valueName) const
{
    const auto it = values_.find({ToLower(key), ToLower(valueName)});
    if (it == values_.end())
        return std::nullopt;
    return it->second;
}

bool TMemoryKeyStore::WriteString(const std::string& key, const std::string& valueName,
                                  const std::string& data)
{
    values_[{ToLower(key), ToLower(valueName)}] = data;
    return true;
}

} // namespace tessarin
