#include "archive/SafeExtract.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace tessarin {

namespace {

std::error_code LastError()
{
    return {errno, std::generic_category()};
}

std::string TemporaryName()
{
    static std::atomic<unsigned> counter{0};
    // Short on purpose: the target's own name may already be as long as a name can be.
    return ".tessarin-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".part";
}

} // namespace

TFd& TFd::operator=(TFd&& other) noexcept
{
    if (this != &other)
        Reset(other.Release());
    return *this;
}

int TFd::Release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void TFd::Reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

TPendingFile::TPendingFile(TFd folder, TFd file, std::string tempName, std::string finalName,
                           std::optional<mode_t> keepMode, bool replacing)
    : folder_(std::move(folder)), file_(std::move(file)), tempName_(std::move(tempName)),
      finalName_(std::move(finalName)), keepMode_(keepMode), replacing_(replacing)
{
}

TPendingFile::~TPendingFile()
{
    if (done_ || !folder_.Valid())
        return;
    file_.Reset();
    ::unlinkat(folder_.Get(), tempName_.c_str(), 0);
}

bool TPendingFile::Write(const void* data, std::size_t size, std::error_code& ec)
{
    written_ = written_ || size > 0;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(file_.Get(), p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ec = LastError();
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool TPendingFile::Rewind(std::error_code& ec)
{
    // Only when something was written: ext4 flushes a file truncated to nothing as soon
    // as it is closed, which costs every small file a disk write of its own.
    if (!written_)
        return true;
    written_ = false;
    if (::ftruncate(file_.Get(), 0) != 0 || ::lseek(file_.Get(), 0, SEEK_SET) != 0) {
        ec = LastError();
        return false;
    }
    return true;
}

bool TPendingFile::Commit(std::optional<std::time_t> mtime, std::error_code& ec)
{
    const int fd = file_.Get();
    if (keepMode_ && ::fchmod(fd, *keepMode_) != 0) {
        ec = LastError();
        return false;
    }
    if (mtime) {
        // Mail clients compare a mailbox's time with its summary file's; keep it.
        const timespec times[2] = {{*mtime, 0}, {*mtime, 0}};
        ::futimens(fd, times);
    }
    // Replacing a file: its new content must be on disk before the name points to
    // it, or a crash could leave the person with neither version.
    if (replacing_ && ::fdatasync(fd) != 0) {
        ec = LastError();
        return false;
    }
    if (::close(file_.Release()) != 0) {
        ec = LastError();
        return false;
    }
    if (::renameat(folder_.Get(), tempName_.c_str(), folder_.Get(), finalName_.c_str()) != 0) {
        ec = LastError();
        return false;
    }
    done_ = true;
    return true;
}

TExtractTarget::TExtractTarget(const std::filesystem::path& folder, std::error_code& ec,
                               mode_t allowedModes, TIsPrivateFile isPrivate)
    : allowedModes_(allowedModes & 0777), isPrivate_(std::move(isPrivate))
{
    ec.clear();
    std::filesystem::create_directories(folder, ec);
    if (ec)
        return;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        ec = LastError();
    else
        root_.Reset(fd);
}

TFd TExtractTarget::OpenFolder(const std::vector<std::string>& components, std::size_t count,
                               std::error_code& ec)
{
    TFd current(::dup(root_.Get()));
    if (!current.Valid()) {
        ec = LastError();
        return {};
    }
    for (std::size_t i = 0; i < count; ++i) {
        const char* name = components[i].c_str();
        if (::mkdirat(current.Get(), name, 0755) != 0 && errno != EEXIST) {
            ec = LastError();
            return {};
        }
        const int next =
            ::openat(current.Get(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            ec = LastError();
            return {};
        }
        current.Reset(next);
    }
    return current;
}

bool TExtractTarget::MakeFolders(const std::vector<std::string>& components, std::error_code& ec)
{
    ec.clear();
    if (!root_.Valid()) {
        ec = std::make_error_code(std::errc::bad_file_descriptor);
        return false;
    }
    return OpenFolder(components, components.size(), ec).Valid();
}

bool TExtractTarget::RemoveFile(const std::vector<std::string>& components, std::error_code& ec)
{
    ec.clear();
    if (!root_.Valid() || components.empty()) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return false;
    }
    TFd folder(::dup(root_.Get()));
    for (std::size_t i = 0; folder.Valid() && i + 1 < components.size(); ++i)
        folder.Reset(::openat(folder.Get(), components[i].c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.Valid()) {
        // Nothing to remove where the folder is missing; a link on the way is never
        // followed (the file that follows fails there anyway).
        if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP)
            return true;
        ec = LastError();
        return false;
    }
    if (::unlinkat(folder.Get(), components.back().c_str(), 0) != 0 && errno != ENOENT) {
        ec = LastError();
        return false;
    }
    return true;
}

std::optional<TPendingFile> TExtractTarget::BeginFile(const std::vector<std::string>& components,
                                                      mode_t newMode, std::error_code& ec)
{
    ec.clear();
    if (!root_.Valid() || components.empty()) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return std::nullopt;
    }
    TFd folder = OpenFolder(components, components.size() - 1, ec);
    if (!folder.Valid())
        return std::nullopt;

    const std::string& finalName = components.back();
    std::optional<mode_t> keepMode;
    bool replacing = false;
    struct stat st {};
    if (::fstatat(folder.Get(), finalName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(st.st_mode)) {
            ec = std::make_error_code(std::errc::is_a_directory);
            return std::nullopt;
        }
        // A symbolic link in the way is replaced by the file, never written through,
        // and its mode (which says nothing) is not taken.
        if (S_ISREG(st.st_mode)) {
            keepMode = st.st_mode & allowedModes_;
            replacing = true;
        }
    } else if (errno != ENOENT) {
        ec = LastError();
        return std::nullopt;
    }

    newMode &= allowedModes_;
    if (isPrivate_ && isPrivate_(finalName)) {
        newMode = (newMode & 0700) != 0 ? (newMode & 0700) : 0600;
        if (keepMode)
            keepMode = *keepMode & ~mode_t{077};
    }
    std::string tempName = TemporaryName();
    const int fd = ::openat(folder.Get(), tempName.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, newMode);
    if (fd < 0) {
        ec = LastError();
        return std::nullopt;
    }
    return TPendingFile(std::move(folder), TFd(fd), std::move(tempName), finalName, keepMode,
                        replacing);
}

} // namespace tessarin
