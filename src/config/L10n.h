#pragma once
// Language texts: looked up by section and key in Default.lng beside the
// executable, falling back to the built-in English table.

#include "platform/IniFile.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace tessarin {

// One row of the built-in English table.
struct TLanguageRow {
    std::string_view Key;
    std::string_view Text;
};

// The built-in table, in its order (a key may stand in it more than once: the last row counts).
std::span<const TLanguageRow> DefaultLanguageTable();

// Windows take at most this many characters of a font name.
inline constexpr std::size_t MaxFontNameLength = 31;

// The first MaxFontNameLength characters of name; a UTF-8 sequence is never cut in two.
std::string CutFontName(std::string_view name);

class Tl10n {
public:
    // Opens the language file; a missing or unreadable file is no error, every
    // lookup then falls back to the built-in table.
    explicit Tl10n(std::filesystem::path file);

    std::string GetText(const std::string& section, const std::string& key) const;
    // GetText, then the first "%s" replaced by arg.
    std::string GetTextWithArg(const std::string& section, const std::string& key,
                               const std::string& arg) const;
    std::string GetTextWithArgs(const std::string& section, const std::string& key,
                                const std::string& first, const std::string& second) const;
    // The built-in English text of key (matched with case; last row wins).
    static std::string DefaultText(const std::string& key);
    std::string GetFontName() const;
    // GetFontName cut to what a window takes; empty means "keep the designed font".
    std::string GetUsableFontName() const { return CutFontName(GetFontName()); }
    // Throws std::invalid_argument when "DefaultCharset" is not an integer.
    int GetFontCharset() const;

private:
    struct TParsed;
    // The file as it is now, parsed only when its text differs from the last lookup's.
    std::shared_ptr<const TIniFile> Current() const;

    std::filesystem::path file_;
    std::shared_ptr<TParsed> parsed_;
};

// The current environment's language (CurrentEnvironment()).
const Tl10n& Language();

// Shorthands for the two sections most texts live in.
inline std::string Text(const std::string& section, const std::string& key)
{
    return Language().GetText(section, key);
}

} // namespace tessarin
