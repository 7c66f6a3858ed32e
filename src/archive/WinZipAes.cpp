#include "archive/WinZipAes.h"

#include "archive/Pbkdf2ShaNi.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstring>

namespace tessarin {

namespace {

constexpr int KeyIterations = 1000;

// One HMAC algorithm for the whole program: fetching it per entry costs a lookup
// in OpenSSL's provider tables under a lock.
EVP_MAC* HmacAlgorithm()
{
    static EVP_MAC* const mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    return mac;
}

} // namespace

// Every entry of an encrypted archive needs its own 4000 HMACs: what a password costs per file.
bool Pbkdf2HmacSha1(const std::string& password, const unsigned char* salt, std::size_t saltLength,
                    int iterations, unsigned char* out, std::size_t outLength)
{
    if (detail::Pbkdf2HmacSha1Accelerated(password, salt, saltLength, iterations, out, outLength))
        return true;
    return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt,
                             static_cast<int>(saltLength), iterations, EVP_sha1(),
                             static_cast<int>(outLength), out) == 1;
}

TWinZipAes::~TWinZipAes()
{
    OPENSSL_cleanse(keys_.data(), keys_.size());
}

bool TWinZipAes::Derive(const std::string& password, const unsigned char* salt)
{
    return Pbkdf2HmacSha1(password, salt, SaltLength(), KeyIterations, keys_.data(),
                          2 * keyLength_ + VerifierLength);
}

bool TWinZipAes::InitContexts()
{
    const EVP_CIPHER* cipher = keyLength_ == 16   ? EVP_aes_128_ecb()
                               : keyLength_ == 24 ? EVP_aes_192_ecb()
                                                  : EVP_aes_256_ecb();
    cipher_.reset(EVP_CIPHER_CTX_new());
    if (!cipher_ || HmacAlgorithm() == nullptr)
        return false;
    mac_.reset(EVP_MAC_CTX_new(HmacAlgorithm()));
    char digest[] = "SHA1";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_end()};
    return mac_ && EVP_EncryptInit_ex(cipher_.get(), cipher, nullptr, keys_.data(), nullptr) == 1 &&
           EVP_CIPHER_CTX_set_padding(cipher_.get(), 0) == 1 &&
           EVP_MAC_init(mac_.get(), keys_.data() + keyLength_, keyLength_, params) == 1;
}

TWinZipAes::TStart TWinZipAes::Start(const std::string& password, const unsigned char* header)
{
    if (!Derive(password, header))
        return TStart::Error;
    if (CRYPTO_memcmp(keys_.data() + 2 * keyLength_, header + SaltLength(), VerifierLength) != 0)
        return TStart::WrongPassword;
    return InitContexts() ? TStart::Ready : TStart::Error;
}

bool TWinZipAes::StartNew(const std::string& password)
{
    if (RAND_bytes(header_.data(), static_cast<int>(SaltLength())) != 1 ||
        !Derive(password, header_.data()) || !InitContexts())
        return false;
    std::memcpy(header_.data() + SaltLength(), keys_.data() + 2 * keyLength_, VerifierLength);
    return true;
}

bool TWinZipAes::Decrypt(unsigned char* data, std::size_t size)
{
    return EVP_MAC_update(mac_.get(), data, size) == 1 && Crypt(data, size);
}

bool TWinZipAes::Encrypt(unsigned char* data, std::size_t size)
{
    return Crypt(data, size) && EVP_MAC_update(mac_.get(), data, size) == 1;
}

bool TWinZipAes::Crypt(unsigned char* data, std::size_t size)
{
    while (size > 0) {
        if (streamUsed_ == stream_.size() && !RefillStream())
            return false;
        const std::size_t n = std::min(size, stream_.size() - streamUsed_);
        const unsigned char* key = stream_.data() + streamUsed_;
        // Eight bytes at a time: the compiler cannot tell data and key apart.
        std::size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            std::uint64_t a;
            std::uint64_t b;
            std::memcpy(&a, data + i, 8);
            std::memcpy(&b, key + i, 8);
            a ^= b;
            std::memcpy(data + i, &a, 8);
        }
        for (; i < n; ++i)
            data[i] ^= key[i];
        data += n;
        size -= n;
        streamUsed_ += n;
    }
    return true;
}

bool TWinZipAes::Authentic(const unsigned char* authCode)
{
    unsigned char code[EVP_MAX_MD_SIZE];
    std::size_t length = 0;
    if (EVP_MAC_final(mac_.get(), code, &length, sizeof code) != 1 || length < AuthCodeLength)
        return false;
    return CRYPTO_memcmp(code, authCode, AuthCodeLength) == 0;
}

bool TWinZipAes::AuthCode(unsigned char* authCode)
{
    unsigned char code[EVP_MAX_MD_SIZE];
    std::size_t length = 0;
    if (EVP_MAC_final(mac_.get(), code, &length, sizeof code) != 1 || length < AuthCodeLength)
        return false;
    std::memcpy(authCode, code, AuthCodeLength);
    return true;
}

// The next 4 KiB of key stream: encrypted counter blocks.
bool TWinZipAes::RefillStream()
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

} // namespace tessarin
