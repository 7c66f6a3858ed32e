#include "engine/BackupFormat.h"

#include "archive/ArchiveNames.h"
#include "platform/IniFile.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace tessarin {

namespace {
// A whole decimal integer, optional sign; anything else is no number.
std::optional<std::int32_t> ParseInt(std::string_view s)
{
    const std::string t = Trim(s);
    if (t.empty())
        return std::nullopt;
    const char* begin = t.data();
    if (*begin == '+')
        ++begin;
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(begin, t.data() + t.size(), value);
    if (ec != std::errc() || end != t.data() + t.size())
        return std::nullopt;
    return value;
}

std::string ReplaceAll(std::string s, std::string_view what)
{
    for (std::size_t pos; (pos = s.find(what)) != std::string::npos;)
        s.erase(pos, what.size());
    return s;
}
} // namespace

bool TBackupIndex::HasComponent(int component) const
{
    for (std::size_t i = 0; i < IndexFlagComponents.size(); ++i)
        if (IndexFlagComponents[i] == component)
            return i < Flags.size() && Flags[i] == 'Y';
    return false;
}

std::vector<std::string> SplitLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(pos));
            break;
        }
        lines.emplace_back(text.substr(pos, end - pos));
        pos = end + 1;
        if (text[end] == '\r' && pos < text.size() && text[pos] == '\n')
            ++pos;
    }
    return lines;
}

std::string BuildBackupIndexText(int appNumber,
                                 const std::array<TComponentBox, ComponentCount + 1>& boxes,
                                 const std::vector<std::string>& externalMailDirs,
                                 const std::vector<TUnknowItem>& unknownItems,
                                 std::string_view version)
{
    const std::string eol = "\r\n";
    std::string out;
    out += std::string(IndexMagic) + eol;
    out += "Revize: " + std::to_string(appNumber) + eol;
    // A line break in the version would shift every line after it.
    std::string versionText(version.substr(0, version.find_first_of("\r\n")));
    out += "Verze: " + versionText + eol;
    out += std::string(IndexSeparator) + eol;
    for (int component : IndexFlagComponents)
        out += boxes[component].Checked ? 'Y' : 'N';
    out += eol + IndexSeparator + eol;
    for (const std::string& dir : externalMailDirs)
        out += dir + eol;
    out += std::string(IndexSeparator) + eol;
    for (const TUnknowItem& item : unknownItems)
        out += std::string(item.IsFolder() ? "dir" : "file") + eol + item.GetName() + eol;
    out += std::string(IndexSeparator) + eol;
    return out;
}

TBackupIndex ParseBackupIndex(std::string_view text, bool legacy)
{
    const std::vector<std::string> lines = SplitLines(text);
    std::size_t next = 0;
    auto readLine = [&]() -> std::optional<std::string> {
        if (next >= lines.size())
            return std::nullopt;
        return lines[next++];
    };

    TBackupIndex index;
    readLine(); // magic
    index.AppNumber = ParseInt(ReplaceAll(readLine().value_or(""), "Revize: ")).value_or(0);
    if (const auto version = readLine()) {
        const std::string line = Trim(*version);
        index.Version = line.starts_with("Verze:") ? Trim(line.substr(6)) : std::string();
    }
    readLine(); // separator
    index.Flags = Trim(readLine().value_or(""));
    readLine(); // separator
    if (legacy)
        return index;

    while (auto line = readLine()) {
        if (*line == IndexSeparator)
            break;
        index.ExternalMailDirs.push_back(*line);
    }
    while (auto kind = readLine()) {
        if (*kind == IndexSeparator)
            break;
        const auto name = readLine();
        if (!name)
            break;
        index.UnknownItems.emplace_back(*name, kind->starts_with("dir"));
    }
    return index;
}

std::vector<std::string> OutsideMailArchiveNames(const std::vector<std::string>& folders)
{
    std::vector<std::string> names;
    names.reserve(folders.size());
    auto taken = [&names](const std::string& name) {
        return std::any_of(names.begin(), names.end(),
                           [&](const std::string& other) { return EqualsNoCase(other, name); });
    };
    for (const std::string& folder : folders) {
        std::string_view path(folder);
        while (path.size() > 1 && path.back() == '/')
            path.remove_suffix(1);
        const std::string own(path.substr(path.rfind('/') + 1));
        std::string name = own;
        for (int n = 2; !name.empty() && taken(name); ++n)
            name = own + "~" + std::to_string(n);
        names.push_back(std::move(name));
    }
    return names;
}

int CompareVersions(std::string_view a, std::string_view b)
{
    auto next = [](std::string_view& s) -> std::uint64_t {
        std::uint64_t value = 0;
        std::size_t i = 0;
        for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
            value = std::min<std::uint64_t>(value * 10 + static_cast<unsigned>(s[i] - '0'), 1u << 30);
        const std::size_t dot = s.find('.', i);
        s = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
        return value;
    };
    while (!a.empty() || !b.empty()) {
        const std::uint64_t x = next(a);
        const std::uint64_t y = next(b);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

bool IsLegacyBackupFor(std::string_view text, int appNumber)
{
    const std::vector<std::string> lines = SplitLines(text.substr(0, 4096));
    if (lines.size() < 2 || Trim(lines[0]) != IndexMagic)
        return false;
    std::string revision = Trim(lines[1]);
    revision = revision.size() > 7 ? revision.substr(7) : std::string();
    // A revision that is no number is no legacy backup of any application.
    const auto number = ParseInt(revision);
    return number && *number == appNumber;
}

void ApplyIndexToBoxes(const TBackupIndex& index, TSharedState& state)
{
    for (int component : IndexFlagComponents) {
        const bool has = index.HasComponent(component);
        state.Boxes[component].Checked = has;
        state.Boxes[component].Enabled = has;
    }
    state.Boxes[ComponentAccountsOnly].Checked = false;
    state.Boxes[ComponentAccountsOnly].Enabled = false;
    state.Boxes[ComponentAccountsOnly].Visible = false;
}

} // namespace tessarin
