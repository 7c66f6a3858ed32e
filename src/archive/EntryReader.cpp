#include "archive/EntryReader.h"

#include "archive/ZipHandles.h"
#include "config/L10n.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

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
        done_ += size;
        if (output_.Progress && done_ - reported_ >= ProgressStep) {
            reported_ = done_;
            output_.Progress(done_);
        }
        return true;
    }
    std::uint64_t Done() const { return done_; }

private:
    const TEntryOutput& output_;
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
// AE-2 entries (what 7-Zip and WinZip write) carry no CRC: the authentication code
// protects them instead. libzip 1.7 still checks their CRC field (which is 0) and
// fails every such entry at its end, so they are decrypted here from the raw entry
// with OpenSSL: PBKDF2-HMAC-SHA1 keys, AES in counter mode with a little-endian
// counter starting at 1, HMAC-SHA1 over the encrypted data.

using TCipherCtx = TUniqueCPtr<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>;
using TMac = TUniqueCPtr<EVP_MAC, EVP_MAC_free>;
using TMacCtx = TUniqueCPtr<EVP_MAC_CTX, EVP_MAC_CTX_free>;

constexpr std::size_t AuthCodeLength = 10;
constexpr std::size_t VerifierLength = 2;
constexpr int KeyIterations = 1000;

class TWinZipAes {
public:
    // method: ZIP_EM_AES_128, _192 or _256.
    explicit TWinZipAes(std::uint16_t method)
        : keyLength_(method == ZIP_EM_AES_128   ? 16
                     : method == ZIP_EM_AES_192 ? 24
                                                : 32)
    {
    }
    ~TWinZipAes() { OPENSSL_cleanse(keys_.data(), keys_.size()); }
    TWinZipAes(const TWinZipAes&) = delete;
    TWinZipAes& operator=(const TWinZipAes&) = delete;

    std::size_t SaltLength() const { return keyLength_ / 2; }
    std::size_t HeaderLength() const { return SaltLength() + VerifierLength; }

    enum class TStart { Ready, WrongPassword, Error };

    // header: salt and password verifier, as the entry begins.
    TStart Start(const std::string& password, const unsigned char* header)
    {
        const std::size_t derived = 2 * keyLength_ + VerifierLength;
        if (PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()), header,
                                   static_cast<int>(SaltLength()), KeyIterations,
                                   static_cast<int>(derived), keys_.data()) != 1)
            return TStart::Error;
        if (CRYPTO_memcmp(keys_.data() + 2 * keyLength_, header + SaltLength(), VerifierLength) !=
            0)
            return TStart::WrongPassword;

        const EVP_CIPHER* cipher = keyLength_ == 16   ? EVP_aes_128_ecb()
                                   : keyLength_ == 24 ? EVP_aes_192_ecb()
                                                      : EVP_aes_256_ecb();
        cipher_.reset(EVP_CIPHER_CTX_new());
        mac_.reset(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
        if (!cipher_ || !mac_)
            return TStart::Error;
        macCtx_.reset(EVP_MAC_CTX_new(mac_.get()));
        char digest[] = "SHA1";
        const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string("digest", digest, 0),
                                     OSSL_PARAM_construct_end()};
        if (!macCtx_ ||
            EVP_EncryptInit_ex(cipher_.get(), cipher, nullptr, keys_.data(), nullptr) != 1 ||
            EVP_CIPHER_CTX_set_padding(cipher_.get(), 0) != 1 ||
            EVP_MAC_init(macCtx_.get(), keys_.data() + keyLength_, keyLength_, params) != 1)
            return TStart::Error;
        return TStart::Ready;
    }

    // Authenticates and decrypts data in place.
    bool Decrypt(unsigned char* data, std::size_t size)
    {
        if (EVP_MAC_update(macCtx_.get(), data, size) != 1)
            return false;
        for (std::size_t i = 0; i < size; ++i) {
            if (streamUsed_ == stream_.size() && !RefillStream())
                return false;
            data[i] ^= stream_[streamUsed_++];
        }
        return true;
    }

    bool Authentic(const unsigned char* authCode)
    {
        unsigned char mac[EVP_MAX_MD_SIZE];
        std::size_t length = 0;
        if (EVP_MAC_final(macCtx_.get(), mac, &length, sizeof mac) != 1 || length < AuthCodeLength)
            return false;
        return CRYPTO_memcmp(mac, authCode, AuthCodeLength) == 0;
    }

private:
    // The next 4 KiB of key stream: encrypted counter blocks.
    bool RefillStream()
    {
        std::array<unsigned char, 4096> counters{};
        for (std::size_t block = 0; block < counters.size() / 16; ++block) {
            ++counter_;
            std::uint64_t value = counter_;
            for (std::size_t b = 0; b < 8; ++b, value >>= 8)
                counters[block * 16 + b] = static_cast<unsigned char>(value & 0xFF);
        }
        int length = 0;
        if (EVP_EncryptUpdate(cipher_.get(), stream_.data(), &length, counters.data(),
                              static_cast<int>(counters.size())) != 1 ||
            length != static_cast<int>(stream_.size()))
            return false;
        streamUsed_ = 0;
        return true;
    }

    std::size_t keyLength_;
    std::array<unsigned char, 2 * 32 + VerifierLength> keys_{};
    TCipherCtx cipher_;
    TMac mac_;
    TMacCtx macCtx_;
    std::array<unsigned char, 4096> stream_{};
    std::size_t streamUsed_ = 4096;
    std::uint64_t counter_ = 0;
};

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
    std::vector<char> output_ = std::vector<char>(ChunkSize);
};

// Reads exactly size raw bytes; the raw stream's own end is never read, because
// libzip would check the (absent) CRC there.
bool ReadExactly(zip_file_t* file, unsigned char* data, std::size_t size, std::string& failure)
{
    while (size > 0) {
        const zip_int64_t n = zip_fread(file, data, size);
        if (n <= 0) {
            failure = n < 0 ? zip_file_strerror(file) : "Premature end of file";
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

TReadOutcome ReadAe2(zip_t* za, zip_uint64_t index, const zip_stat_t& stat,
                     const std::string& password, std::vector<char>& buffer,
                     const TEntryOutput& output, std::string& failure)
{
    if (password.empty()) {
        failure = "No password provided";
        return TReadOutcome::PasswordRefused;
    }
    if (stat.comp_method != ZIP_CM_STORE && stat.comp_method != ZIP_CM_DEFLATE) {
        failure = "Compression method not supported";
        return TReadOutcome::Failed;
    }
    TWinZipAes aes(stat.encryption_method);
    if (!(stat.valid & ZIP_STAT_COMP_SIZE) ||
        stat.comp_size < aes.HeaderLength() + AuthCodeLength) {
        failure = "Zip archive inconsistent";
        return TReadOutcome::Failed;
    }
    TZipFilePtr file(zip_fopen_index(za, index, ZIP_FL_ENCRYPTED));
    if (!file) {
        failure = zip_strerror(za);
        zip_error_clear(za);
        return TReadOutcome::Failed;
    }
    std::array<unsigned char, 16 + VerifierLength> header{};
    if (!ReadExactly(file.get(), header.data(), aes.HeaderLength(), failure))
        return TReadOutcome::Failed;
    switch (aes.Start(password, header.data())) {
    case TWinZipAes::TStart::Ready:
        break;
    case TWinZipAes::TStart::WrongPassword:
        failure = "Wrong password provided";
        return TReadOutcome::PasswordRefused;
    case TWinZipAes::TStart::Error:
        failure = Text("Messages", "LANG_DECRYPTION_FAILED");
        return TReadOutcome::Failed;
    }

    const bool deflated = stat.comp_method == ZIP_CM_DEFLATE;
    TInflater inflater;
    if (deflated && !inflater.Ok()) {
        failure = "Zlib error";
        return TReadOutcome::Failed;
    }
    TProgressCounter counter(output);
    std::uint64_t left = stat.comp_size - aes.HeaderLength() - AuthCodeLength;
    auto* data = reinterpret_cast<unsigned char*>(buffer.data());
    while (left > 0) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        if (!ReadExactly(file.get(), data, piece, failure))
            return TReadOutcome::Failed;
        if (!aes.Decrypt(data, piece)) {
            failure = Text("Messages", "LANG_DECRYPTION_FAILED");
            return TReadOutcome::Failed;
        }
        if (deflated ? !inflater.Feed(data, piece, counter, failure)
                     : !counter.Write(buffer.data(), piece, failure))
            return TReadOutcome::Failed;
        left -= piece;
    }
    std::array<unsigned char, AuthCodeLength> authCode{};
    if (!ReadExactly(file.get(), authCode.data(), authCode.size(), failure))
        return TReadOutcome::Failed;
    if (!aes.Authentic(authCode.data())) {
        // What a wrong password that passed the two-byte check looks like, or damage.
        failure = "authentication code does not match";
        return TReadOutcome::PasswordRefused;
    }
    if ((deflated && !inflater.Finished()) ||
        ((stat.valid & ZIP_STAT_SIZE) && counter.Done() != stat.size)) {
        failure = "Zip archive inconsistent";
        return TReadOutcome::Failed;
    }
    return TReadOutcome::Done;
}

} // namespace

TReadOutcome ReadEntry(zip_t* za, zip_uint64_t index, const zip_stat_t& stat,
                       const std::string& password, std::vector<char>& buffer,
                       const TEntryOutput& output, std::string& failure)
{
    if (buffer.size() < ChunkSize)
        buffer.resize(ChunkSize);
    const bool encrypted =
        (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE;
    const bool aes = encrypted && (stat.encryption_method == ZIP_EM_AES_128 ||
                                   stat.encryption_method == ZIP_EM_AES_192 ||
                                   stat.encryption_method == ZIP_EM_AES_256);
    if (aes && (stat.valid & ZIP_STAT_CRC) && stat.crc == 0)
        return ReadAe2(za, index, stat, password, buffer, output, failure);
    return ReadWithLibzip(za, index, encrypted, password, buffer, output, failure);
}

} // namespace tessarin
