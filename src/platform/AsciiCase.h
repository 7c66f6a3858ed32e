#pragma once
// Letter case the way the Windows file and profile-string functions ignore it: ASCII
// letters only, whatever the locale, so a name compares the same on every machine.

#include <cstddef>
#include <string>
#include <string_view>

namespace tessarin {

constexpr char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string ToLowerAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = LowerAscii(c);
    return out;
}

constexpr bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

constexpr bool StartsWithNoCase(std::string_view text, std::string_view head)
{
    return text.size() >= head.size() && EqualsNoCase(text.substr(0, head.size()), head);
}

constexpr bool EndsWithNoCase(std::string_view text, std::string_view tail)
{
    return text.size() >= tail.size() && EqualsNoCase(text.substr(text.size() - tail.size()), tail);
}

} // namespace tessarin
