#pragma once
// File helpers shared by every writer of a user's file: a file is never left
// half-written, because data goes to a temporary file beside it first.

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace tessarin {

// Writes data to a temporary file in the target's folder, flushes it to disk and
// renames it over the target. On failure the target is untouched, the temporary
// file is gone and ec says why. When target is a symbolic link, the file it leads
// to is replaced and the link stays.
bool WriteFileAtomically(const std::filesystem::path& target, std::string_view data,
                         std::error_code& ec);

// Whether a folder link that leads to target leads back up to (or onto) one of the
// walked trees tops: following it would walk a tree again, or everything around it.
bool LeadsBackUp(const std::string& target, const std::vector<std::string>& tops);

// A path with "." and ".." resolved lexically and without a trailing separator, so
// that "/a/Work/" and "/a/./Work" name the same folder as "/a/Work".
std::string NormalPath(const std::string& path);

// Reads a whole file; false with ec set when it cannot be read.
bool ReadWholeFile(const std::filesystem::path& path, std::string& data, std::error_code& ec);

// A private folder under the system's temporary folder (mode 0700), removed with
// everything in it when the object goes. Scratch space that never touches a
// user's own files.
class TPrivateTempDir {
public:
    TPrivateTempDir();
    ~TPrivateTempDir();
    TPrivateTempDir(const TPrivateTempDir&) = delete;
    TPrivateTempDir& operator=(const TPrivateTempDir&) = delete;
    // Ends in the separator.
    const std::string& Folder() const { return folder_; }

private:
    std::string folder_;
};

// A name for a temporary file beside target: same folder, hidden, unique per call and
// not taken yet. Short (".tsr-PID-N") whatever the target's name, so a target name
// as long as the file system allows still leaves room for libzip's own suffix.
std::filesystem::path TemporarySibling(const std::filesystem::path& target);

// Whether name is one of our temporary files and the process that made it is gone:
// ".tsr-PID-N", ".NAME.tmp-PID-N" (older versions), ".tessarin-PID-N.part" (extraction),
// each also with libzip's ".XXXXXX" suffix.
bool IsStaleTemporaryName(std::string_view name);

// Removes the stale temporary files (see IsStaleTemporaryName) of the current user in
// folder, left there by runs that were killed. Returns how many went.
int RemoveStaleTemporaries(const std::filesystem::path& folder);

} // namespace tessarin
