#include "archive/FileSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <random>
#include <vector>

namespace tessarin {
namespace {

constexpr std::size_t ReadPiece = std::size_t{1} << 20;
constexpr std::size_t WritePiece = std::size_t{1} << 20;
// How much is written before the disk is asked to take it.
constexpr std::uint64_t WriteBackStep = std::uint64_t{16} << 20;

bool WriteAll(int fd, const unsigned char* data, std::size_t size, std::uint64_t at)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        at += static_cast<std::uint64_t>(n);
    }
    return true;
}

class TArchiveFile {
public:
    explicit TArchiveFile(std::string path) : path_(std::move(path)) { zip_error_init(&error_); }
    ~TArchiveFile()
    {
        if (readFd_ >= 0)
            ::close(readFd_);
        Discard();
        zip_error_fini(&error_);
    }
    TArchiveFile(const TArchiveFile&) = delete;
    TArchiveFile& operator=(const TArchiveFile&) = delete;

    static zip_int64_t Callback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd)
    {
        auto* self = static_cast<TArchiveFile*>(userdata);
        if (cmd == ZIP_SOURCE_FREE) {
            delete self;
            return 0;
        }
        return self->Handle(data, len, cmd);
    }

private:
    zip_int64_t Fail(int zipError, int systemError)
    {
        zip_error_set(&error_, zipError, systemError);
        return -1;
    }

    zip_int64_t Handle(void* data, zip_uint64_t len, zip_source_cmd_t cmd)
    {
        switch (cmd) {
        case ZIP_SOURCE_SUPPORTS:
            return ZIP_SOURCE_SUPPORTS_WRITABLE |
                   ZIP_SOURCE_MAKE_COMMAND_BITMASK(ZIP_SOURCE_ACCEPT_EMPTY);
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&error_, data, len);
        case ZIP_SOURCE_STAT:
            return Stat(data, len);
        case ZIP_SOURCE_OPEN:
            return Open();
        case ZIP_SOURCE_READ:
            return Read(static_cast<unsigned char*>(data), len);
        case ZIP_SOURCE_CLOSE:
            if (readFd_ >= 0)
                ::close(readFd_);
            readFd_ = -1;
            return 0;
        case ZIP_SOURCE_SEEK: {
            const zip_int64_t at =
                zip_source_seek_compute_offset(readPos_, size_, data, len, &error_);
            if (at < 0)
                return -1;
            readPos_ = static_cast<std::uint64_t>(at);
            return 0;
        }
        case ZIP_SOURCE_TELL:
            return static_cast<zip_int64_t>(readPos_);
        case ZIP_SOURCE_BEGIN_WRITE:
            return BeginWrite();
        case ZIP_SOURCE_WRITE:
            return Write(static_cast<const unsigned char*>(data), len);
        case ZIP_SOURCE_SEEK_WRITE: {
            const zip_int64_t at =
                zip_source_seek_compute_offset(writePos_, writeEnd_, data, len, &error_);
            if (at < 0)
                return -1;
            writePos_ = static_cast<std::uint64_t>(at);
            return 0;
        }
        case ZIP_SOURCE_TELL_WRITE:
            return static_cast<zip_int64_t>(writePos_);
        case ZIP_SOURCE_COMMIT_WRITE:
            return CommitWrite();
        case ZIP_SOURCE_ROLLBACK_WRITE:
            Discard();
            return 0;
        case ZIP_SOURCE_REMOVE:
            if (::unlink(path_.c_str()) != 0 && errno != ENOENT)
                return Fail(ZIP_ER_REMOVE, errno);
            return 0;
        case ZIP_SOURCE_ACCEPT_EMPTY:
            return 0; // an archive without entries is removed, as libzip's own file does
        default:
            return Fail(ZIP_ER_OPNOTSUPP, 0);
        }
    }

    zip_int64_t Stat(void* data, zip_uint64_t len)
    {
        auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &error_);
        if (st == nullptr)
            return -1;
        struct stat info {};
        if (readFd_ >= 0 ? ::fstat(readFd_, &info) != 0 : ::stat(path_.c_str(), &info) != 0)
            return Fail(ZIP_ER_READ, errno); // ENOENT: no archive yet
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        st->size = static_cast<zip_uint64_t>(info.st_size);
        st->mtime = info.st_mtime;
        return sizeof(*st);
    }

    zip_int64_t Open()
    {
        readFd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        if (readFd_ < 0 || ::fstat(readFd_, &info) != 0)
            return Fail(ZIP_ER_OPEN, errno);
        size_ = static_cast<std::uint64_t>(info.st_size);
        readPos_ = 0;
        bufferAt_ = 0;
        buffer_.clear();
        return 0;
    }

    zip_int64_t Read(unsigned char* out, zip_uint64_t len)
    {
        std::uint64_t done = 0;
        while (done < len && readPos_ < size_) {
            if (readPos_ < bufferAt_ || readPos_ >= bufferAt_ + buffer_.size()) {
                // libzip reads entries in pieces, seeking before each: one read serves many.
                buffer_.resize(ReadPiece);
                ssize_t n;
                do
                    n = ::pread(readFd_, buffer_.data(), buffer_.size(),
                                static_cast<off_t>(readPos_));
                while (n < 0 && errno == EINTR);
                if (n < 0)
                    return Fail(ZIP_ER_READ, errno);
                buffer_.resize(static_cast<std::size_t>(n));
                bufferAt_ = readPos_;
                if (n == 0)
                    break;
            }
            const std::size_t from = static_cast<std::size_t>(readPos_ - bufferAt_);
            const std::size_t n = static_cast<std::size_t>(
                std::min<std::uint64_t>(len - done, buffer_.size() - from));
            std::memcpy(out + done, buffer_.data() + from, n);
            done += n;
            readPos_ += n;
        }
        return static_cast<zip_int64_t>(done);
    }

    zip_int64_t BeginWrite()
    {
        // Beside the archive, so the rename stays on one file system. A backup holds
        // keys, passwords and mail: nobody else may read it while it is written (the
        // caller gives the finished file the mode it should have).
        std::random_device random;
        const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        for (int attempt = 0; attempt < 100 && writeFd_ < 0; ++attempt) {
            std::string name = path_ + ".";
            for (int i = 0; i < 6; ++i)
                name += letters[random() % (sizeof(letters) - 1)];
            writeFd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (writeFd_ >= 0)
                tempPath_ = std::move(name);
            else if (errno != EEXIST)
                return Fail(ZIP_ER_TMPOPEN, errno);
        }
        if (writeFd_ < 0)
            return Fail(ZIP_ER_TMPOPEN, EEXIST);
        writePos_ = writeEnd_ = pendingAt_ = syncedTo_ = 0;
        pending_.clear();
        pending_.reserve(WritePiece);
        return 0;
    }

    zip_int64_t Write(const unsigned char* data, zip_uint64_t len)
    {
        // libzip goes back to complete each entry's local header: inside the pending
        // bytes that costs a copy, not a write.
        if (writePos_ < pendingAt_ || writePos_ > pendingAt_ + pending_.size()) {
            if (!Flush())
                return -1;
            pendingAt_ = writePos_;
        }
        const std::size_t from = static_cast<std::size_t>(writePos_ - pendingAt_);
        const std::size_t overlap = std::min<std::size_t>(pending_.size() - from, len);
        std::memcpy(pending_.data() + from, data, overlap);
        pending_.insert(pending_.end(), data + overlap, data + len);
        writePos_ += len;
        writeEnd_ = std::max(writeEnd_, writePos_);
        if (pending_.size() >= WritePiece && !Flush())
            return -1;
        return static_cast<zip_int64_t>(len);
    }

    bool Flush()
    {
        if (pending_.empty())
            return true;
        if (!WriteAll(writeFd_, pending_.data(), pending_.size(), pendingAt_)) {
            Fail(ZIP_ER_WRITE, errno);
            return false;
        }
        pendingAt_ += pending_.size();
        pending_.clear();
#ifdef __linux__
        // Start the disk on what is written so far; the final sync then waits for little.
        if (pendingAt_ >= syncedTo_ + WriteBackStep) {
            ::sync_file_range(writeFd_, static_cast<off_t>(syncedTo_),
                              static_cast<off_t>(pendingAt_ - syncedTo_), SYNC_FILE_RANGE_WRITE);
            syncedTo_ = pendingAt_;
        }
#endif
        return true;
    }

    zip_int64_t CommitWrite()
    {
        if (!Flush())
            return -1;
        if (::fsync(writeFd_) != 0) {
            const int error = errno;
            Discard();
            return Fail(ZIP_ER_WRITE, error);
        }
        const int closed = ::close(writeFd_);
        writeFd_ = -1;
        if (closed != 0 || ::rename(tempPath_.c_str(), path_.c_str()) != 0) {
            const int error = errno;
            Discard();
            return Fail(closed != 0 ? ZIP_ER_WRITE : ZIP_ER_RENAME, error);
        }
        tempPath_.clear();
        return 0;
    }

    void Discard()
    {
        if (writeFd_ >= 0)
            ::close(writeFd_);
        writeFd_ = -1;
        if (!tempPath_.empty())
            ::unlink(tempPath_.c_str());
        tempPath_.clear();
        pending_ = {};
    }

    std::string path_;
    zip_error_t error_{};
    int readFd_ = -1;
    std::uint64_t size_ = 0;
    std::uint64_t readPos_ = 0;
    std::uint64_t bufferAt_ = 0;
    std::vector<unsigned char> buffer_;
    int writeFd_ = -1;
    std::string tempPath_;
    std::uint64_t writePos_ = 0;
    std::uint64_t writeEnd_ = 0;
    std::uint64_t pendingAt_ = 0; // where pending_ goes in the file
    std::uint64_t syncedTo_ = 0;
    std::vector<unsigned char> pending_;
};

} // namespace

zip_source_t* NewArchiveFileSource(const std::string& path, zip_error_t* error)
{
    auto* file = new (std::nothrow) TArchiveFile(path);
    if (file == nullptr) {
        zip_error_set(error, ZIP_ER_MEMORY, 0);
        return nullptr;
    }
    zip_source_t* source = zip_source_function_create(&TArchiveFile::Callback, file, error);
    if (source == nullptr)
        delete file;
    return source;
}

zip_t* OpenArchiveFile(const std::string& path, int flags, int* errorCode)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_t* za = nullptr;
    if (zip_source_t* source = NewArchiveFileSource(path, &error)) {
        za = zip_open_from_source(source, flags, &error);
        if (za == nullptr)
            zip_source_free(source); // still ours when the open fails
    }
    if (za == nullptr && errorCode != nullptr)
        *errorCode = zip_error_code_zip(&error);
    zip_error_fini(&error);
    return za;
}

} // namespace tessarin
