#pragma once
// Conversions between the system code page and UTF-8. On POSIX everything is
// UTF-8 already, so both are the identity; they stay so a Windows build has one
// place to convert.

#include <string>
#include <string_view>

namespace tessarin {

inline std::string AnsiToUtf8(std::string_view text) { return std::string(text); }
inline std::string Utf8ToAnsi(std::string_view text) { return std::string(text); }

} // namespace tessarin
