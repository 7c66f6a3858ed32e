#include "archive/ArchiveNames.h"

#include "platform/AsciiCase.h"

#include <cstddef>

namespace tessarin {

namespace {

bool StartsWithFolder(std::string_view name, std::string_view folder)
{
    return name.size() > folder.size() && name[folder.size()] == '/' &&
           EqualsNoCase(name.substr(0, folder.size()), folder);
}

std::string_view WithoutTrailingSlash(std::string_view name)
{
    while (!name.empty() && name.back() == '/')
        name.remove_suffix(1);
    return name;
}

// Backslashes to '/', no empty or "." components, no leading or trailing '/'.
std::string NormalizeSpec(std::string_view spec)
{
    std::string out;
    std::string part;
    auto flush = [&] {
        if (!part.empty() && part != ".") {
            if (!out.empty())
                out += '/';
            out += part;
        }
        part.clear();
    };
    for (char c : spec) {
        if (c == '/' || c == '\\')
            flush();
        else
            part += c;
    }
    flush();
    return out;
}

} // namespace

bool HasWildcard(std::string_view text)
{
    return text.find_first_of("*?") != std::string_view::npos;
}

bool NameMatchesMask(std::string_view name, std::string_view mask)
{
    if (mask == "*.*" || mask == "*")
        return true;
    // Greedy matching with one backtrack point: linear for the masks in use.
    std::size_t n = 0, m = 0;
    std::size_t starMask = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || LowerAscii(mask[m]) == LowerAscii(name[n]))) {
            ++n;
            ++m;
        } else if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (starMask != std::string_view::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

std::optional<std::vector<std::string>> SafeEntryComponents(std::string_view name)
{
    if (name.empty() || name.front() == '/')
        return std::nullopt;
    if (name.find('\\') != std::string_view::npos)
        return std::nullopt;
    // "C:" or "C:x" would be a drive on Windows.
    if (name.size() >= 2 && name[1] == ':' &&
        ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
        return std::nullopt;

    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string_view::npos)
            end = name.size();
        const std::string_view part = name.substr(start, end - start);
        if (part == "..")
            return std::nullopt;
        if (!part.empty() && part != ".")
            parts.emplace_back(part);
        start = end + 1;
    }
    if (parts.empty())
        return std::nullopt;
    return parts;
}

TExtractSpec::TExtractSpec(std::string_view spec)
{
    const std::string normal = NormalizeSpec(spec);
    const std::size_t slash = normal.rfind('/');
    const std::string last = slash == std::string::npos ? normal : normal.substr(slash + 1);
    if (HasWildcard(last)) {
        mask_ = last;
        folder_ = slash == std::string::npos ? std::string() : normal.substr(0, slash);
    } else {
        name_ = normal;
    }
}

bool TExtractSpec::Matches(std::string_view entryName) const
{
    const std::string_view entry = WithoutTrailingSlash(entryName);
    if (entry.empty())
        return false;
    if (!mask_.empty()) {
        if (!folder_.empty() && !StartsWithFolder(entry, folder_))
            return false;
        const std::size_t slash = entry.rfind('/');
        const std::string_view own =
            slash == std::string_view::npos ? entry : entry.substr(slash + 1);
        return NameMatchesMask(own, mask_);
    }
    if (name_.empty())
        return false;
    return EqualsNoCase(entry, name_) || StartsWithFolder(entry, name_);
}

} // namespace tessarin
