#include "archive/EntryReader.h"

#include "archive/WinZipAes.h"
#include "archive/ZipHandles.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

namespace tessarin {

namespace {

constexpr std::size_t ChunkSize = 256 * 1024;
constexpr std::uint64_t ProgressStep = 1u << 20;

bool IsPasswordError(int code, bool encrypted)
{
    if (code == ZIP_ER_NOPASSWD || code == ZIP_ER_WRONGPASSWD)
        return true;
    // A wrong password can pass the one- or two-byte check of the header; it then
    // shows as damaged data.
    return encrypted &&
           (code == ZIP_ER_CRC || code == ZIP_ER_ZLIB || code == ZIP_ER_COMPRESSED_DATA);
}

// Counts bytes written and reports them every ProgressStep.
class TProgressCounter {
public:
    explicit TProgressCounter(const TEntryOutput& output) : output_(output) {}
    bool Write(const char* data, std::size_t size, std::string& failure)
    {
        if (size == 0)
            return true;
        if (!output_.Write(data, size, failure))
            return false;
        crc_ = libdeflate_crc32(crc_, data, size);
        done_ += size;
        if (output_.Progress && done_ - reported_ >= ProgressStep) {
            reported_ = done_;
            output_.Progress(done_);
        }
        return true;
    }
    std::uint64_t Done() const { return done_; }
    std::uint32_t Crc() const { return crc_; }

private:
    const TEntryOutput& output_;
    std::uint32_t crc_ = 0;
    std::uint64_t done_ = 0;
    std::uint64_t reported_ = 0;
};

TReadOutcome ReadWithLibzip(zip_t* za, zip_uint64_t index, bool encrypted,
                            const std::string& password, std::vector<char>& buffer,
                            const TEntryOutput& output, std::string& failure)
{
    TZipFilePtr file(password.empty() ? zip_fopen_index(za, index, 0)
                                      : zip_fopen_index_encrypted(za, index, 0, password.c_str()));
    if (!file) {
        const int code = zip_error_code_zip(zip_get_error(za));
        failure = zip_strerror(za);
        zip_error_clear(za);
        return IsPasswordError(code, encrypted) ? TReadOutcome::PasswordRefused
                                                : TReadOutcome::Failed;
    }
    TProgressCounter counter(output);
    for (;;) {
        const zip_int64_t n = zip_fread(file.get(), buffer.data(), buffer.size());
        if (n < 0) {
            const int code = zip_error_code_zip(zip_file_get_error(file.get()));
            failure = zip_file_strerror(file.get());
            return IsPasswordError(code, encrypted) ? TReadOutcome::PasswordRefused
                                                    : TReadOutcome::Failed;
        }
        if (n == 0)
            return TReadOutcome::Done;
        if (!counter.Write(buffer.data(), static_cast<std::size_t>(n), failure))
            return TReadOutcome::Failed;
    }
}

// ---- WinZip AES, version AE-2 -----------------------------------------------------
//
// Every AES entry is decrypted here from the raw entry with OpenSSL, on the thread
// that reads it. AE-2 entries (what 7-Zip and WinZip write) carry no CRC: the
// authentication code protects them instead, and libzip 1.7 still checks their CRC
// field (which is 0) and fails every such entry at its end. Entries that do carry a
// CRC (ours, libzip's) get it checked as well. OpenSSL's AES is also several times
// faster than the one libzip was built with.

constexpr std::size_t AuthCodeLength = TWinZipAes::AuthCodeLength;

class TInflater {
public:
    TInflater() { ok_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK; }
    ~TInflater()
    {
        if (ok_)
            inflateEnd(&stream_);
    }
    TInflater(const TInflater&) = delete;
    TInflater& operator=(const TInflater&) = delete;

    bool Ok() const { return ok_; }
    bool Finished() const { return finished_; }

    // Inflates input, handing the output on; false on damaged data.
    bool Feed(const unsigned char* input, std::size_t size, TProgressCounter& out,
              std::string& failure)
    {
        stream_.next_in = const_cast<unsigned char*>(input);
        stream_.avail_in = static_cast<uInt>(size);
        while (stream_.avail_in > 0 && !finished_) {
            stream_.next_out = reinterpret_cast<unsigned char*>(output_.data());
            stream_.avail_out = static_cast<uInt>(output_.size());
            const int rc = inflate(&stream_, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
                failure = "Compressed data invalid";
                return false;
            }
            finished_ = rc == Z_STREAM_END;
            const std::size_t produced = output_.size() - stream_.avail_out;
            if (!out.Write(output_.data(), produced, failure))
                return false;
            if (rc == Z_BUF_ERROR && produced == 0)
                break;
        }
        return true;
    }

private:
    z_stream stream_{};
    bool ok_ = false;
    bool finished_ = false;
    // One per thread: a fresh one per entry would clear 256 KiB for every small file.
    static thread_local inline std::vector<char> output_ = std::vector<char>(ChunkSize);
};

// The archive's lock, when it has one, for the libzip calls of one statement: workers
// share one handle, and libzip's are not for two threads at a time.
std::unique_lock<std::mutex> HoldArchive(std::mutex* mutex)
{
    return mutex != nullptr ? std::unique_lock(*mutex) : std::unique_lock<std::mutex>();
}

// An entry's raw data, opened, read and closed under the archive's lock.
class TRawEntry {
public:
    TRawEntry(zip_t* za, zip_uint64_t index, zip_flags_t flags, std::mutex* lock) : lock_(lock)
    {
        const auto hold = HoldArchive(lock_);
        file_ = zip_fopen_index(za, index, flags);
        if (file_ == nullptr) {
            error_ = zip_strerror(za);
            zip_error_clear(za);
        }
    }
    ~TRawEntry()
    {
        const auto hold = HoldArchive(lock_);
        if (file_ != nullptr)
            zip_fclose(file_);
    }
    TRawEntry(const TRawEntry&) = delete;
    TRawEntry& operator=(const TRawEntry&) = delete;

    bool Opened(std::string& failure) const
    {
        failure = error_;
        return file_ != nullptr;
    }
    // Reads exactly size raw bytes; the raw stream's own end is never read, because
    // libzip would check the (absent) CRC of an AE-2 entry there.
    bool ReadExactly(unsigned char* data, std::size_t size, std::string& failure)
    {
        const auto hold = HoldArchive(lock_);
        while (size > 0) {
            const zip_int64_t n = zip_fread(file_, data, size);
            if (n <= 0) {
                failure = n < 0 ? zip_file_strerror(file_) : "Premature end of file";
                return false;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    std::mutex* lock_;
    zip_file_t* file_ = nullptr;
    std::string error_;
};

bool IsAes(const zip_stat_t& stat)
{
    return (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) &&
           (stat.encryption_method == ZIP_EM_AES_128 ||
            stat.encryption_method == ZIP_EM_AES_192 || stat.encryption_method == ZIP_EM_AES_256);
}

std::size_t AesKeyLength(const zip_stat_t& stat)
{
    return stat.encryption_method == ZIP_EM_AES_128   ? 16
           : stat.encryption_method == ZIP_EM_AES_192 ? 24
                                                      : 32;
}

// Reads the AES header (salt and password check) and derives the keys.
TReadOutcome StartAes(TRawEntry& file, TWinZipAes& aes, const std::string& password,
                      std::string& failure)
{
    std::array<unsigned char, TWinZipAes::MaxHeaderLength> header{};
    if (!file.ReadExactly(header.data(), aes.HeaderLength(), failure))
        return TReadOutcome::Failed;
    switch (aes.Start(password, header.data())) {
    case TWinZipAes::TStart::Ready:
        return TReadOutcome::Done;
    case TWinZipAes::TStart::WrongPassword:
        failure = "Wrong password provided";
        return TReadOutcome::PasswordRefused;
    case TWinZipAes::TStart::Error:
        break;
    }
    return TReadOutcome::DecryptionFailed;
}

// The entry's stored bytes between the AES header and its authentication code,
// decrypted and inflated into counter.
TReadOutcome CopyContent(TRawEntry& file, TWinZipAes* aes, std::uint64_t left, TInflater* inflater,
                         std::vector<char>& buffer, TProgressCounter& counter, std::string& failure)
{
    auto* data = reinterpret_cast<unsigned char*>(buffer.data());
    while (left > 0) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        if (!file.ReadExactly(data, piece, failure))
            return TReadOutcome::Failed;
        if (aes && !aes->Decrypt(data, piece))
            return TReadOutcome::DecryptionFailed;
        if (inflater ? !inflater->Feed(data, piece, counter, failure)
                     : !counter.Write(buffer.data(), piece, failure))
            return TReadOutcome::Failed;
        left -= piece;
    }
    return TReadOutcome::Done;
}

// After the content: the authentication code, the size and the CRC.
TReadOutcome CheckEnd(TRawEntry& file, TWinZipAes* aes, const zip_stat_t& stat,
                      std::size_t overhead, const TInflater* inflater,
                      const TProgressCounter& counter, std::string& failure)
{
    if (aes) {
        std::array<unsigned char, AuthCodeLength> authCode{};
        if (!file.ReadExactly(authCode.data(), authCode.size(), failure))
            return TReadOutcome::Failed;
        if (!aes->Authentic(authCode.data())) {
            // What a wrong password that passed the two-byte check looks like, or damage.
            failure = "authentication code does not match";
            return TReadOutcome::PasswordRefused;
        }
    }
    // Some writers store an empty file as a deflated entry of no bytes at all.
    const bool emptyStream = stat.comp_size == overhead && counter.Done() == 0;
    if ((inflater && !inflater->Finished() && !emptyStream) ||
        ((stat.valid & ZIP_STAT_SIZE) && counter.Done() != stat.size)) {
        failure = "Zip archive inconsistent";
        return TReadOutcome::Failed;
    }
    // AE-2 writers leave the CRC 0: the authentication code stands for it.
    const bool crcKnown = (stat.valid & ZIP_STAT_CRC) && !(aes && stat.crc == 0);
    if (crcKnown && counter.Crc() != stat.crc) {
        failure = "CRC error";
        return TReadOutcome::Failed;
    }
    return TReadOutcome::Done;
}

// Stored or deflated entries, plain or AES: the raw bytes are taken from libzip under
// the lock, and decrypted, inflated, checked and written outside it, so that workers
// sharing one archive handle do their real work in parallel.
TReadOutcome ReadRaw(zip_t* za, std::mutex* lock, zip_uint64_t index, const zip_stat_t& stat,
                     const std::string& password, std::vector<char>& buffer,
                     const TEntryOutput& output, std::string& failure)
{
    std::optional<TWinZipAes> aes;
    if (IsAes(stat)) {
        if (password.empty()) {
            failure = "No password provided";
            return TReadOutcome::PasswordRefused;
        }
        aes.emplace(AesKeyLength(stat));
    }
    const std::size_t overhead = aes ? aes->HeaderLength() + AuthCodeLength : 0;
    if (!(stat.valid & ZIP_STAT_COMP_SIZE) || stat.comp_size < overhead) {
        failure = "Zip archive inconsistent";
        return TReadOutcome::Failed;
    }
    TRawEntry file(za, index, aes ? ZIP_FL_ENCRYPTED : ZIP_FL_COMPRESSED, lock);
    if (!file.Opened(failure))
        return TReadOutcome::Failed;
    TWinZipAes* const cipher = aes ? &*aes : nullptr;
    if (cipher) {
        const TReadOutcome started = StartAes(file, *cipher, password, failure);
        if (started != TReadOutcome::Done)
            return started;
    }
    const bool deflated = stat.comp_method == ZIP_CM_DEFLATE;
    TInflater inflater;
    if (deflated && !inflater.Ok()) {
        failure = "Zlib error";
        return TReadOutcome::Failed;
    }
    TInflater* const inflating = deflated ? &inflater : nullptr;
    TProgressCounter counter(output);
    const TReadOutcome copied =
        CopyContent(file, cipher, stat.comp_size - overhead, inflating, buffer, counter, failure);
    if (copied != TReadOutcome::Done)
        return copied;
    return CheckEnd(file, cipher, stat, overhead, inflating, counter, failure);
}

} // namespace

TReadOutcome ReadEntry(zip_t* za, zip_uint64_t index, const zip_stat_t& stat,
                       const std::string& password, std::vector<char>& buffer,
                       const TEntryOutput& output, std::string& failure, std::mutex* lock)
{
    if (buffer.size() < ChunkSize)
        buffer.resize(ChunkSize);
    const bool encrypted =
        (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE;
    const bool aes = encrypted && (stat.encryption_method == ZIP_EM_AES_128 ||
                                   stat.encryption_method == ZIP_EM_AES_192 ||
                                   stat.encryption_method == ZIP_EM_AES_256);
    // The directory's size bounds what is written: an entry that inflates past it
    // (a hostile archive) stops there instead of filling the disk.
    const std::uint64_t limit = (stat.valid & ZIP_STAT_SIZE) ? stat.size : UINT64_MAX;
    std::uint64_t written = 0;
    const TEntryOutput bounded{[&](const char* data, std::size_t size, std::string& why) {
                                   if (size > limit - written) {
                                       why = "Zip archive inconsistent";
                                       return false;
                                   }
                                   written += size;
                                   return output.Write(data, size, why);
                               },
                               output.Progress};
    const bool plainOrAes = !encrypted || aes;
    if (plainOrAes && (stat.valid & ZIP_STAT_COMP_METHOD) &&
        (stat.comp_method == ZIP_CM_STORE || stat.comp_method == ZIP_CM_DEFLATE))
        return ReadRaw(za, lock, index, stat, password, buffer, bounded, failure);
    // Other methods and traditional encryption: libzip does it all, holding the lock.
    const auto hold = HoldArchive(lock);
    return ReadWithLibzip(za, index, encrypted, password, buffer, bounded, failure);
}

} // namespace tessarin
