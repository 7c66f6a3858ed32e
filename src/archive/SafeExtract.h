#pragma once
// Writing extracted files below one folder without ever leaving it. Every folder on
// the way is opened relative to its parent without following symbolic links, so a
// link planted in the target (or by an earlier entry) cannot redirect a write. A
// file goes to a temporary name beside its target and replaces it only when
// complete, so an existing file is never left half-written.

#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace tessarin {

// Whether the file of that name (a last name component) may be read by its owner only.
using TIsPrivateFile = std::function<bool(std::string_view fileName)>;

// An open file descriptor, closed on destruction.
class TFd {
public:
    TFd() = default;
    explicit TFd(int fd) : fd_(fd) {}
    ~TFd() { Reset(); }
    TFd(TFd&& other) noexcept : fd_(other.Release()) {}
    TFd& operator=(TFd&& other) noexcept;
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release();
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

// A file being extracted: written to a temporary name in its folder, renamed over
// the target by Commit. Dropped without Commit, the temporary file is removed.
class TPendingFile {
public:
    TPendingFile(TFd folder, TFd file, std::string tempName, std::string finalName,
                 std::optional<mode_t> keepMode, bool replacing);
    ~TPendingFile();
    TPendingFile(TPendingFile&&) noexcept = default;
    TPendingFile(const TPendingFile&) = delete;
    TPendingFile& operator=(const TPendingFile&) = delete;

    bool Write(const void* data, std::size_t size, std::error_code& ec);
    // Empties the file again (a second try with another password).
    bool Rewind(std::error_code& ec);
    // Sets the modification time (when given), closes and renames into place.
    bool Commit(std::optional<std::time_t> mtime, std::error_code& ec);

private:
    TFd folder_;
    TFd file_;
    std::string tempName_;
    std::string finalName_;
    std::optional<mode_t> keepMode_;
    bool replacing_ = false;
    bool done_ = false;
    bool written_ = false;
};

class TExtractTarget {
public:
    // Opens the target folder, creating it (and its parents) when missing. The target
    // itself may be reached through a symbolic link: the caller chose it. Files written
    // below it never get mode bits outside allowedModes (set-uid and set-gid never).
    TExtractTarget(const std::filesystem::path& folder, std::error_code& ec,
                   mode_t allowedModes = 0777, TIsPrivateFile isPrivate = {});

    // Creates the folders named by components (relative, already checked) below the
    // target. Fails with ELOOP/ENOTDIR when one of them is a symbolic link or a file.
    bool MakeFolders(const std::vector<std::string>& components, std::error_code& ec);

    // Starts the file named by components (the last one is the file name). A new file
    // gets newMode; an existing one keeps its permissions (both within the allowed
    // modes); a private file (see
    // the constructor) loses any access of group and others either way. Fails
    // when the name is an existing folder or a folder on the way is a symbolic link.
    std::optional<TPendingFile> BeginFile(const std::vector<std::string>& components,
                                          mode_t newMode, std::error_code& ec);

    // Removes the file named by components when it is there (never through a link
    // on the way); a missing file or folder is no failure.
    bool RemoveFile(const std::vector<std::string>& components, std::error_code& ec);

private:
    // Opens the folder holding components[0..count) below the target, creating them.
    TFd OpenFolder(const std::vector<std::string>& components, std::size_t count,
                   std::error_code& ec);

    TFd root_;
    mode_t allowedModes_ = 0777;
    TIsPrivateFile isPrivate_;
};

} // namespace tessarin
