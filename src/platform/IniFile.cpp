#include "platform/IniFile.h"

#include "platform/FileUtil.h"

#include <stdexcept>

namespace tessarin {

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string Unquote(std::string value)
{
    if (value.size() >= 2) {
        const char first = value.front();
        if ((first == '"' || first == '\'') && value.back() == first)
            value = value.substr(1, value.size() - 2);
    }
    if (value.size() > TIniFile::MaxValueLength)
        value.resize(TIniFile::MaxValueLength);
    return value;
}
} // namespace

std::string Trim(std::string_view s)
{
    std::size_t begin = 0;
    std::size_t end = s.size();
    while (begin < end && IsBlank(s[begin]))
        ++begin;
    while (end > begin && IsBlank(s[end - 1]))
        --end;
    return std::string(s.substr(begin, end - begin));
}

TIniFile TIniFile::FromText(std::string_view text)
{
    TIniFile ini;
    // A UTF-8 byte order mark would otherwise glue itself to the first section name.
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);

    Section* current = nullptr;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos)
            eol = text.size();
        const std::string line = Trim(text.substr(pos, eol - pos));
        pos = eol + 1;
        if (line.empty())
            continue;
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            const std::string name =
                Trim(std::string_view(line).substr(1, close == std::string::npos ? std::string::npos
                                                                                 : close - 1));
            ini.sections_.push_back(Section{name, {}});
            current = &ini.sections_.back();
            continue;
        }
        const std::size_t eq = line.find('=');
        if (current == nullptr || eq == std::string::npos)
            continue; // lines outside a section and lines without '=' are not pairs
        current->entries.push_back(
            Entry{Trim(std::string_view(line).substr(0, eq)),
                  Unquote(Trim(std::string_view(line).substr(eq + 1)))});
    }
    return ini;
}

TIniFile TIniFile::FromFile(const std::filesystem::path& path)
{
    std::string text;
    std::error_code ec;
    if (!ReadWholeFile(path, text, ec)) {
        if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory)
            return {};
        // A folder in the file's place, or a read that fails part-way, is no empty file:
        // a caller that rewrites the file would otherwise drop what it could not read.
        throw std::runtime_error("cannot read " + path.string() + ": " + ec.message());
    }
    return FromText(text);
}

const TIniFile::Section* TIniFile::FindSection(std::string_view name) const
{
    for (const Section& s : sections_)
        if (EqualsNoCase(s.name, name))
            return &s;
    return nullptr;
}

const TIniFile::Entry* TIniFile::FindEntry(std::string_view section, std::string_view key) const
{
    const Section* s = FindSection(section);
    if (s == nullptr)
        return nullptr;
    for (const Entry& e : s->entries)
        if (EqualsNoCase(e.key, key))
            return &e;
    return nullptr;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view def) const
{
    const Entry* e = FindEntry(section, key);
    return e != nullptr ? e->value : std::string(def);
}

bool TIniFile::SectionExists(std::string_view section) const { return FindSection(section) != nullptr; }

bool TIniFile::KeyExists(std::string_view section, std::string_view key) const
{
    return FindEntry(section, key) != nullptr;
}

std::vector<std::string> TIniFile::SectionNames() const
{
    std::vector<std::string> names;
    names.reserve(sections_.size());
    for (const Section& s : sections_)
        names.push_back(s.name);
    return names;
}

std::vector<std::string> TIniFile::KeyNames(std::string_view section) const
{
    std::vector<std::string> names;
    if (const Section* s = FindSection(section))
        for (const Entry& e : s->entries)
            names.push_back(e.key);
    return names;
}

} // namespace tessarin
