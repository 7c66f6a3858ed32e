#pragma once
// Entry names and the specs that select them. Archive entry names always use '/';
// a name read from an archive is untrusted until SafeEntryComponents accepts it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessarin {

// Whether text holds a '*' or '?'.
bool HasWildcard(std::string_view text);

// File-name mask matching as the ZIP engine always did it, for the backup's walk and the
// restore alike: '*' is any run of characters, '?' one character, letters compare
// without case, and "*.*" matches every name, with or without a dot. Every other
// character stands for itself: '[' and '\' are no sets or escapes, since mail
// folders have names like "[Gmail]" and "Why?".
bool NameMatchesMask(std::string_view name, std::string_view mask);

// The path components of an entry name when it stays inside the folder it is
// extracted to; nullopt for names that could reach outside it or that another system
// would read differently: absolute names, ".." components, drive letters, backslashes.
// Empty and "." components are dropped; a trailing '/' (folder entry) is allowed.
std::optional<std::vector<std::string>> SafeEntryComponents(std::string_view name);

// A spec as callers give it to an extraction: "name", "folder/name", a bare mask
// ("*.mab") or "folder/mask". Either separator is accepted.
class TExtractSpec {
public:
    explicit TExtractSpec(std::string_view spec);

    // Whether an entry (its full stored name, a folder entry ending in '/') is taken.
    // A mask selects, at any depth below its folder, every entry whose own name
    // matches; a plain name selects that entry, or everything below it when it names
    // a folder.
    bool Matches(std::string_view entryName) const;

private:
    std::string folder_; // without trailing '/'; empty for the archive's root
    std::string mask_;   // last component when it holds a wildcard, else empty
    std::string name_;   // the whole spec when it holds no wildcard
};

} // namespace tessarin
