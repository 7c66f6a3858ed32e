#pragma once
// Readers of the two files in which Mozilla applications list their profiles:
// profiles.ini and the old suite's binary registry.dat (appreg on Linux). Both
// take any bytes: a damaged or hostile file yields what can be read, never a crash
// or a hang.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessarin {

// One [ProfileN] section as stored.
struct TProfilesIniEntry {
    std::string Name;
    std::string Path;
    std::int64_t IsRelative = 0; // as the INI integer reader reads it; 0 when missing
    bool IsDefault = false;      // "Default=1": the profile the old profile manager picks
};

// Sections Profile0, Profile1, ... up to the first number that has no section;
// sections without "name" or "path", or with an empty name, are skipped. Section and
// key names compare without case.
std::vector<TProfilesIniEntry> ReadProfilesIni(std::string_view text);

// The "Default" path of each install section, in file order: the profile each
// installation of the application really opens. In profiles.ini those are the
// "[Install<hash>]" sections; in installs.ini (installsIni) every section.
std::vector<std::string> ReadInstallDefaults(std::string_view text, bool installsIni);

// An INI integer as the platform reads it: optional sign, then decimal digits up to
// the first other character; 0 when there are none.
std::int64_t ParseIniInteger(std::string_view text);

// The profile folder a profiles.ini entry stands for, under root (ending in '/'),
// without trailing separator. nullopt for a folder that would be harmful to back up
// or restore into: a relative path that leaves root or names root itself (".."
// segments), an absolute path that is not absolute here (a Windows path), or one
// that is root or one of its parent folders (the home folder, "/").
std::optional<std::string> ResolveProfileFolder(const std::string& root, const std::string& path,
                                                bool relative);
// The same guard for a folder read from registry.dat (always absolute).
bool IsUsableProfileFolder(const std::string& root, const std::string& folder);

struct TRegistryDatProfile {
    std::string Name;
    std::string Folder; // as stored, without a trailing separator added
};

struct TRegistryDatContents {
    bool HasProfileNode = false;               // the walk reached a first profile node
    std::vector<TRegistryDatProfile> Profiles; // in file order; nameless or folderless left out
};

// Walks the node tree of registry.dat down to the profile nodes and reads each
// node's name and its "directory" value. Offsets outside the data, zero links, link
// cycles and a failed backward search end the walk (or skip the one profile) with
// what was read so far. The work is bounded for any input.
TRegistryDatContents ReadRegistryDat(std::string_view data);

} // namespace tessarin
