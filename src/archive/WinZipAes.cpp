// SHA1_Transform is deprecated as an interface, not as code: it is the compression
// function the key derivation below needs. Before any OpenSSL header.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "archive/WinZipAes.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/params.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

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

void PutBigEndian(const SHA_CTX& state, unsigned char* out)
{
    for (const unsigned word : {state.h0, state.h1, state.h2, state.h3, state.h4}) {
        *out++ = static_cast<unsigned char>(word >> 24);
        *out++ = static_cast<unsigned char>(word >> 16);
        *out++ = static_cast<unsigned char>(word >> 8);
        *out++ = static_cast<unsigned char>(word);
    }
}

} // namespace

// PBKDF2-HMAC-SHA1. Every entry of an encrypted archive needs its own 4000 HMACs;
// OpenSSL's PKCS5_PBKDF2_HMAC spends more time dispatching each one than hashing.
// Here the two pad states are hashed once and each HMAC is two bare compressions of
// one padded block: twice as fast, which is what a password costs per file.
void Pbkdf2HmacSha1(const std::string& password, const unsigned char* salt, std::size_t saltLength,
                    int iterations, unsigned char* out, std::size_t outLength)
{
    constexpr std::size_t BlockSize = 64;
    constexpr std::size_t DigestSize = 20;
    unsigned char key[BlockSize] = {};
    if (password.size() > BlockSize)
        SHA1(reinterpret_cast<const unsigned char*>(password.data()), password.size(), key);
    else
        std::memcpy(key, password.data(), password.size());
    unsigned char pad[BlockSize];
    SHA_CTX inner;
    SHA_CTX outer;
    for (std::size_t i = 0; i < BlockSize; ++i)
        pad[i] = static_cast<unsigned char>(key[i] ^ 0x36);
    SHA1_Init(&inner);
    SHA1_Update(&inner, pad, BlockSize);
    for (std::size_t i = 0; i < BlockSize; ++i)
        pad[i] = static_cast<unsigned char>(key[i] ^ 0x5c);
    SHA1_Init(&outer);
    SHA1_Update(&outer, pad, BlockSize);
    OPENSSL_cleanse(key, sizeof key);
    OPENSSL_cleanse(pad, sizeof pad);

    // A digest as the second block of an HMAC: the digest, 0x80, zeros, the bit length.
    unsigned char message[BlockSize] = {};
    message[DigestSize] = 0x80;
    constexpr unsigned Bits = (BlockSize + DigestSize) * 8;
    message[BlockSize - 2] = static_cast<unsigned char>(Bits >> 8);
    message[BlockSize - 1] = static_cast<unsigned char>(Bits & 0xFF);

    for (std::uint32_t block = 1; outLength > 0; ++block) {
        unsigned char u[DigestSize];
        unsigned char t[DigestSize];
        const unsigned char index[4] = {
            static_cast<unsigned char>(block >> 24), static_cast<unsigned char>(block >> 16),
            static_cast<unsigned char>(block >> 8), static_cast<unsigned char>(block)};
        SHA_CTX c = inner;
        SHA1_Update(&c, salt, saltLength);
        SHA1_Update(&c, index, sizeof index);
        SHA1_Final(u, &c);
        c = outer;
        SHA1_Update(&c, u, DigestSize);
        SHA1_Final(u, &c);
        std::memcpy(t, u, DigestSize);
        for (int i = 1; i < iterations; ++i) {
            std::memcpy(message, u, DigestSize);
            c = inner;
            SHA1_Transform(&c, message);
            PutBigEndian(c, message);
            c = outer;
            SHA1_Transform(&c, message);
            PutBigEndian(c, u);
            for (std::size_t k = 0; k < DigestSize; ++k)
                t[k] ^= u[k];
        }
        const std::size_t n = std::min(outLength, DigestSize);
        std::memcpy(out, t, n);
        out += n;
        outLength -= n;
        OPENSSL_cleanse(t, sizeof t);
        OPENSSL_cleanse(u, sizeof u);
    }
    OPENSSL_cleanse(message, sizeof message);
    OPENSSL_cleanse(&inner, sizeof inner);
    OPENSSL_cleanse(&outer, sizeof outer);
}

TWinZipAes::~TWinZipAes()
{
    OPENSSL_cleanse(keys_.data(), keys_.size());
}

bool TWinZipAes::Derive(const std::string& password, const unsigned char* salt)
{
    Pbkdf2HmacSha1(password, salt, SaltLength(), KeyIterations, keys_.data(),
                   2 * keyLength_ + VerifierLength);
    return true;
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
