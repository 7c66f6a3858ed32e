#pragma once
// WinZip AES (AE-2) for one entry: PBKDF2-HMAC-SHA1 keys from the password and the
// entry's salt, AES in counter mode with a little-endian counter starting at 1, and
// HMAC-SHA1 over the encrypted data. Done with OpenSSL so that both the archive writer's
// workers and the reader can do it off libzip's thread: libzip derives the keys inside
// zip_close, one entry after the other.

#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tessarin {

// PBKDF2 with HMAC-SHA1 (RFC 2898), as WinZip AES derives its keys: with the SHA
// instructions where the CPU has them, else with OpenSSL. False when OpenSSL fails.
bool Pbkdf2HmacSha1(const std::string& password, const unsigned char* salt, std::size_t saltLength,
                    int iterations, unsigned char* out, std::size_t outLength);

class TWinZipAes {
public:
    static constexpr std::size_t AuthCodeLength = 10;
    static constexpr std::size_t VerifierLength = 2;
    static constexpr std::size_t MaxHeaderLength = 16 + VerifierLength;

    // keyLength: 16, 24 or 32 bytes (AES-128, -192, -256).
    explicit TWinZipAes(std::size_t keyLength = 32) : keyLength_(keyLength) {}
    ~TWinZipAes();
    TWinZipAes(const TWinZipAes&) = delete;
    TWinZipAes& operator=(const TWinZipAes&) = delete;

    std::size_t SaltLength() const { return keyLength_ / 2; }
    std::size_t HeaderLength() const { return SaltLength() + VerifierLength; }

    enum class TStart { Ready, WrongPassword, Error };

    // Reading: header is the salt and password verifier the entry begins with.
    TStart Start(const std::string& password, const unsigned char* header);
    // Writing: a fresh random salt; Header() is then what the entry begins with.
    bool StartNew(const std::string& password);
    const unsigned char* Header() const { return header_.data(); }

    // Authenticates and decrypts data in place.
    bool Decrypt(unsigned char* data, std::size_t size);
    // Encrypts data in place and authenticates the result.
    bool Encrypt(unsigned char* data, std::size_t size);

    bool Authentic(const unsigned char* authCode);
    // The code the entry ends with, once all its data went through Encrypt.
    bool AuthCode(unsigned char* authCode);

private:
    struct TCipherFree {
        void operator()(EVP_CIPHER_CTX* p) const { EVP_CIPHER_CTX_free(p); }
    };
    struct TMacCtxFree {
        void operator()(EVP_MAC_CTX* p) const { EVP_MAC_CTX_free(p); }
    };

    bool Derive(const std::string& password, const unsigned char* salt);
    bool InitContexts();
    bool Crypt(unsigned char* data, std::size_t size);
    bool RefillStream();

    std::size_t keyLength_;
    std::array<unsigned char, 2 * 32 + VerifierLength> keys_{};
    std::array<unsigned char, MaxHeaderLength> header_{};
    std::unique_ptr<EVP_CIPHER_CTX, TCipherFree> cipher_;
    std::unique_ptr<EVP_MAC_CTX, TMacCtxFree> mac_;
    std::array<unsigned char, 4096> stream_{};
    std::size_t streamUsed_ = 4096;
    std::uint64_t counter_ = 0;
};

} // namespace tessarin
