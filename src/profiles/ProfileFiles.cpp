#include "profiles/ProfileFiles.h"

#include "platform/IniFile.h"
#include "platform/TextConv.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <unordered_map>
#include <unordered_set>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

std::string LowerAscii(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Calls found(name, text) for each section of INI text in file order, the text with
// its header line. Each piece is then read by the platform's INI reader, which keeps
// its rules for names and values.
template <typename Found> void ForEachSection(std::string_view text, Found found)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    std::string currentName;
    std::size_t currentStart = std::string_view::npos;
    const auto close = [&](std::size_t end) {
        if (currentStart != std::string_view::npos)
            found(currentName, text.substr(currentStart, end - currentStart));
    };
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos)
            eol = text.size();
        const std::string line = Trim(text.substr(pos, eol - pos));
        if (!line.empty() && line.front() == '[') {
            close(pos);
            const std::size_t bracket = line.find(']');
            currentName = Trim(std::string_view(line).substr(
                1, bracket == std::string::npos ? std::string::npos : bracket - 1));
            currentStart = pos;
        }
        pos = eol + 1;
    }
    close(text.size());
}

// The first section of each name, by lower-cased name, so that a file with thousands
// of sections is read in linear time.
std::unordered_map<std::string, std::string_view> IndexSections(std::string_view text)
{
    std::unordered_map<std::string, std::string_view> sections;
    ForEachSection(text, [&](const std::string& name, std::string_view section) {
        sections.try_emplace(LowerAscii(name), section);
    });
    return sections;
}

std::string Normal(const std::string& path)
{
    std::string out = fs::path(path).lexically_normal().string();
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

// child lies below parent (both normalised, absolute).
bool IsBelow(const std::string& child, const std::string& parent)
{
    if (parent == "/")
        return child.size() > 1 && child.front() == '/';
    return child.size() > parent.size() && child.compare(0, parent.size(), parent) == 0 &&
           child[parent.size()] == '/';
}

std::uint32_t ReadU32(std::string_view data, std::size_t offset, bool& ok)
{
    if (offset > data.size() || data.size() - offset < 4) {
        ok = false;
        return 0;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(data.data() + offset);
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

constexpr std::size_t MaxNameBytes = 4096;
// A profile's folder sits right behind its node; a real file never needs more.
constexpr std::size_t MaxBackwardWalk = 64 * 1024;
// Bounds the whole file's backward walks and name reads, so a file of many crafted
// nodes stays fast and small.
constexpr std::size_t WalkBudget = 16 * 1024 * 1024;
constexpr std::size_t MaxProfiles = 100000;

enum : std::size_t { NodeSelf = 0, NodeName = 4, NodeSibling = 12, NodeChild = 16, NodeValue = 20 };

// The name runs from its offset up to the node, padded with zero bytes. Its bytes
// count against the budget too: nodes may share one long name region. Nullopt when
// the budget does not reach.
std::optional<std::string> NodeNameAt(std::string_view data, std::uint32_t nameOffset,
                                      std::uint32_t node, std::size_t& budget)
{
    std::string name;
    if (nameOffset < node && nameOffset < data.size()) {
        const std::size_t end =
            std::min<std::size_t>({node, data.size(), nameOffset + MaxNameBytes});
        if (end - nameOffset > budget)
            return std::nullopt;
        budget -= end - nameOffset;
        for (std::size_t i = nameOffset; i < end; ++i)
            if (data[i] != '\0')
                name += data[i];
    }
    return name;
}

// Backwards from the first value entry to the 32-bit value that equals the node's
// offset, collecting the non-zero bytes on the way (given back in file order). Nullopt
// when no such value is met within the walk.
std::optional<std::string> BytesBackToNode(std::string_view data, std::uint32_t firstValue,
                                           std::uint32_t node, std::size_t& budget)
{
    std::string collected;
    std::size_t start = firstValue;
    std::size_t steps = 0;
    while (start > 0 && steps < MaxBackwardWalk && budget > 0) {
        const std::size_t i = --start;
        ++steps;
        --budget;
        if (data[i] != '\0')
            collected += data[i];
        bool inside = true;
        if (ReadU32(data, i, inside) == node && inside) {
            std::reverse(collected.begin(), collected.end());
            return collected;
        }
    }
    return std::nullopt;
}

// The folder behind the "directory" entry name in those bytes.
std::string DirectoryIn(const std::string& collected)
{
    const std::size_t word = collected.find("directory");
    if (word != std::string::npos)
        return collected.substr(word + 9);
    return collected.size() > 11 ? collected.substr(11) : std::string();
}

} // namespace

std::int64_t ParseIniInteger(std::string_view text)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    std::int64_t value = 0;
    constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max() / 10 - 9;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if (value < limit)
            value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

std::vector<TProfilesIniEntry> ReadProfilesIni(std::string_view text)
{
    std::vector<TProfilesIniEntry> entries;
    const auto sections = IndexSections(text);
    for (std::size_t n = 0;; ++n) {
        const std::string name = "Profile" + std::to_string(n);
        const auto it = sections.find(LowerAscii(name));
        if (it == sections.end())
            break;
        const TIniFile ini = TIniFile::FromText(it->second);
        if (!ini.KeyExists(name, "name") || !ini.KeyExists(name, "path"))
            continue;
        TProfilesIniEntry entry;
        entry.Name = Utf8ToAnsi(ini.ReadString(name, "name"));
        entry.Path = Utf8ToAnsi(ini.ReadString(name, "path"));
        entry.IsRelative = ParseIniInteger(ini.ReadString(name, "IsRelative", "0"));
        entry.IsDefault = ParseIniInteger(ini.ReadString(name, "Default", "0")) != 0;
        if (entry.Name.empty())
            continue; // nothing to show or to pick it by
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<std::string> ReadInstallDefaults(std::string_view text, bool installsIni)
{
    std::vector<std::string> defaults;
    ForEachSection(text, [&](const std::string& name, std::string_view section) {
        if (!installsIni && LowerAscii(name).rfind("install", 0) != 0)
            return;
        const TIniFile ini = TIniFile::FromText(section);
        if (std::string path = Utf8ToAnsi(ini.ReadString(name, "Default")); !path.empty())
            defaults.push_back(std::move(path));
    });
    return defaults;
}

std::optional<std::string> ResolveProfileFolder(const std::string& root, const std::string& path,
                                                bool relative)
{
    if (path.empty() || root.empty())
        return std::nullopt;
    const std::string base = Normal(root);
    if (relative) {
        // Joined as text: a stored "/x" stays below the root.
        const std::string folder = Normal(base + "/" + path);
        if (!IsBelow(folder, base))
            return std::nullopt;
        return folder;
    }
    if (path.front() != '/')
        return std::nullopt;
    const std::string folder = Normal(path);
    if (folder == base || IsBelow(base, folder))
        return std::nullopt;
    return folder;
}

bool IsUsableProfileFolder(const std::string& root, const std::string& folder)
{
    return ResolveProfileFolder(root, folder, false).has_value();
}

TRegistryDatContents ReadRegistryDat(std::string_view data)
{
    TRegistryDatContents contents;
    bool ok = true;
    const auto link = [&](std::uint32_t node, std::size_t field) -> std::uint32_t {
        return ReadU32(data, static_cast<std::size_t>(node) + field, ok);
    };

    // Root, then down to the node whose children are the profiles. A zero link on the
    // way means there is no such node.
    std::uint32_t p = ReadU32(data, 12, ok);
    for (std::size_t field : {NodeChild, NodeSibling, NodeChild, NodeSelf, NodeChild}) {
        if (!ok || p == 0)
            return contents;
        p = link(p, field);
    }
    if (!ok || p == 0)
        return contents;
    contents.HasProfileNode = true;

    std::unordered_set<std::uint32_t> visited;
    std::size_t budget = WalkBudget;
    while (p != 0 && visited.insert(p).second && contents.Profiles.size() < MaxProfiles) {
        const std::uint32_t nameOffset = link(p, NodeName);
        const std::uint32_t firstValue = link(p, NodeValue);
        const std::uint32_t sibling = link(p, NodeSibling);
        if (!ok)
            break;
        const std::optional<std::string> name = NodeNameAt(data, nameOffset, p, budget);
        if (!name)
            break; // the file has used up its share of work: keep what was read
        // A value entry past the end means the folder was cut off with it: the profile
        // is left out rather than listed with part of a folder.
        if (firstValue > data.size()) {
            p = sibling;
            continue;
        }
        const std::optional<std::string> collected = BytesBackToNode(data, firstValue, p, budget);
        if (!collected && budget == 0)
            break; // the file has used up its share of work: keep what was read
        if (collected) {
            std::string ansiName = Utf8ToAnsi(*name);
            std::string folder = Utf8ToAnsi(DirectoryIn(*collected));
            if (!ansiName.empty() && !folder.empty())
                contents.Profiles.push_back({std::move(ansiName), std::move(folder)});
        }
        p = sibling;
    }
    return contents;
}

} // namespace tessarin
