#pragma once
// INI reading with the rules of the Windows profile-string functions, which the
// settings file, the language file, task files and profiles.ini were written for.

#include "platform/AsciiCase.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tessarin {

class TIniFile {
public:
    // Longest value the profile-string functions return (a 2048-byte buffer).
    static constexpr std::size_t MaxValueLength = 2047;

    TIniFile() = default;

    static TIniFile FromText(std::string_view text);
    // A missing file gives an empty reader; a file that exists but cannot be read
    // throws std::runtime_error.
    static TIniFile FromFile(const std::filesystem::path& path);

    // Section and key names compare without regard to case; the first match wins.
    // Blanks around the value are dropped, then one pair of surrounding single or
    // double quotes, then everything past MaxValueLength characters.
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view def = {}) const;
    bool SectionExists(std::string_view section) const;
    bool KeyExists(std::string_view section, std::string_view key) const;
    std::vector<std::string> SectionNames() const;
    std::vector<std::string> KeyNames(std::string_view section) const;

private:
    struct Entry {
        std::string key;
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };
    const Section* FindSection(std::string_view name) const;
    const Entry* FindEntry(std::string_view section, std::string_view key) const;

    std::vector<Section> sections_;
};

std::string Trim(std::string_view s);

} // namespace tessarin
