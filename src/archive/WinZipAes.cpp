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
#include <utility>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#include <immintrin.h>
#endif

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

constexpr std::size_t ShaBlockSize = 64;
constexpr std::size_t DigestSize = 20;

// HMAC-SHA1 with the key's two pad blocks hashed once: each HMAC then starts from these.
struct THmacStates {
    SHA_CTX Inner;
    SHA_CTX Outer;

    explicit THmacStates(const std::string& password)
    {
        unsigned char key[ShaBlockSize] = {};
        if (password.size() > ShaBlockSize)
            SHA1(reinterpret_cast<const unsigned char*>(password.data()), password.size(), key);
        else
            std::memcpy(key, password.data(), password.size());
        unsigned char pad[ShaBlockSize];
        for (std::size_t i = 0; i < ShaBlockSize; ++i)
            pad[i] = static_cast<unsigned char>(key[i] ^ 0x36);
        SHA1_Init(&Inner);
        SHA1_Update(&Inner, pad, ShaBlockSize);
        for (std::size_t i = 0; i < ShaBlockSize; ++i)
            pad[i] = static_cast<unsigned char>(key[i] ^ 0x5c);
        SHA1_Init(&Outer);
        SHA1_Update(&Outer, pad, ShaBlockSize);
        OPENSSL_cleanse(key, sizeof key);
        OPENSSL_cleanse(pad, sizeof pad);
    }
    ~THmacStates()
    {
        OPENSSL_cleanse(&Inner, sizeof Inner);
        OPENSSL_cleanse(&Outer, sizeof Outer);
    }
    THmacStates(const THmacStates&) = delete;
    THmacStates& operator=(const THmacStates&) = delete;

    // The first HMAC of output block `block`: over the salt and the block's number.
    void First(const unsigned char* salt, std::size_t saltLength, std::uint32_t block,
               unsigned char* u) const
    {
        const unsigned char index[4] = {
            static_cast<unsigned char>(block >> 24), static_cast<unsigned char>(block >> 16),
            static_cast<unsigned char>(block >> 8), static_cast<unsigned char>(block)};
        SHA_CTX c = Inner;
        SHA1_Update(&c, salt, saltLength);
        SHA1_Update(&c, index, sizeof index);
        SHA1_Final(u, &c);
        c = Outer;
        SHA1_Update(&c, u, DigestSize);
        SHA1_Final(u, &c);
        OPENSSL_cleanse(&c, sizeof c);
    }
};

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TESSARIN_SHA_NI 1
#define TESSARIN_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))
#define TESSARIN_SHA_INLINE TESSARIN_SHA_TARGET inline __attribute__((always_inline))

bool CpuHasShaNi()
{
    static const bool has = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_SSSE3) == 0 || (c & bit_SSE4_1) == 0)
            return false;
        return __get_cpuid_count(7, 0, &a, &b, &c, &d) != 0 && (b & bit_SHA) != 0;
    }();
    return has;
}

// Output blocks whose chains run side by side: one chain waits on sha1rnds4 most of the time.
// Loops over lanes are unrolled: otherwise -O2 keeps the lanes in memory, not registers.
constexpr int Lanes = 4;

// SHA-NI keeps A..D in one vector, A in the high dword, and E in the high dword of another.
struct TShaState {
    __m128i Abcd;
    __m128i E;
};

TESSARIN_SHA_INLINE __m128i ByteSwapMask()
{
    return _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
}

TESSARIN_SHA_INLINE TShaState LoadState(const SHA_CTX& c)
{
    return {_mm_set_epi32(static_cast<int>(c.h0), static_cast<int>(c.h1), static_cast<int>(c.h2),
                          static_cast<int>(c.h3)),
            _mm_set_epi32(static_cast<int>(c.h4), 0, 0, 0)};
}

TESSARIN_SHA_INLINE TShaState LoadDigest(const unsigned char* digest)
{
    std::uint32_t e;
    std::memcpy(&e, digest + 16, 4);
    return {
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(digest)), ByteSwapMask()),
        _mm_set_epi32(static_cast<int>(__builtin_bswap32(e)), 0, 0, 0)};
}

TESSARIN_SHA_INLINE void StoreDigest(const TShaState& s, unsigned char* digest)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(digest), _mm_shuffle_epi8(s.Abcd, ByteSwapMask()));
    const std::uint32_t e =
        __builtin_bswap32(static_cast<std::uint32_t>(_mm_extract_epi32(s.E, 3)));
    std::memcpy(digest + 16, &e, 4);
}

// Rounds 4R..4R+3 of every lane. w holds the lane's last four message vectors.
template <int R>
TESSARIN_SHA_INLINE void QuadRound(TShaState (&s)[Lanes], __m128i (&previous)[Lanes],
                                   __m128i (&w)[Lanes][4], __m128i startE)
{
#pragma GCC unroll 4
    for (int l = 0; l < Lanes; ++l) {
        __m128i& m = w[l][R % 4];
        if constexpr (R >= 4)
            m = _mm_sha1msg2_epu32(
                _mm_xor_si128(_mm_sha1msg1_epu32(m, w[l][(R + 1) % 4]), w[l][(R + 2) % 4]),
                w[l][(R + 3) % 4]);
        const __m128i e = R == 0 ? _mm_add_epi32(startE, m) : _mm_sha1nexte_epu32(previous[l], m);
        previous[l] = s[l].Abcd;
        s[l].Abcd = _mm_sha1rnds4_epu32(s[l].Abcd, e, R / 5);
    }
}

template <int... R>
TESSARIN_SHA_INLINE void AllRounds(std::integer_sequence<int, R...>, TShaState (&s)[Lanes],
                                   __m128i (&previous)[Lanes], __m128i (&w)[Lanes][4],
                                   __m128i startE)
{
    (QuadRound<R>(s, previous, w, startE), ...);
}

// Second block of an HMAC in every lane: the digest in s, from the pad state `start`.
TESSARIN_SHA_INLINE void HmacBlock(TShaState (&s)[Lanes], const TShaState& start)
{
    // The digest, 0x80, zeros and the bit length of pad block plus digest.
    const __m128i padding = _mm_set_epi32(0, static_cast<int>(0x80000000u), 0, 0);
    const __m128i bits = _mm_set_epi32(0, 0, 0, static_cast<int>((ShaBlockSize + DigestSize) * 8));
    __m128i w[Lanes][4];
    __m128i previous[Lanes];
#pragma GCC unroll 4
    for (int l = 0; l < Lanes; ++l) {
        w[l][0] = s[l].Abcd;
        w[l][1] = _mm_or_si128(s[l].E, padding);
        w[l][2] = _mm_setzero_si128();
        w[l][3] = bits;
        s[l].Abcd = start.Abcd;
    }
    AllRounds(std::make_integer_sequence<int, 20>(), s, previous, w, start.E);
#pragma GCC unroll 4
    for (int l = 0; l < Lanes; ++l) {
        s[l].E = _mm_sha1nexte_epu32(previous[l], start.E);
        s[l].Abcd = _mm_add_epi32(s[l].Abcd, start.Abcd);
    }
}

TESSARIN_SHA_TARGET void ShaNiChains(const THmacStates& hmac, const unsigned char* salt,
                                     std::size_t saltLength, int iterations, unsigned char* out,
                                     std::size_t outLength)
{
    const TShaState inner = LoadState(hmac.Inner);
    const TShaState outer = LoadState(hmac.Outer);
    unsigned char u[Lanes][DigestSize];
    for (std::uint32_t first = 1; outLength > 0; first += Lanes) {
        TShaState s[Lanes];
        TShaState t[Lanes];
#pragma GCC unroll 4
        for (int l = 0; l < Lanes; ++l) {
            hmac.First(salt, saltLength, first + l, u[l]);
            s[l] = t[l] = LoadDigest(u[l]);
        }
        for (int i = 1; i < iterations; ++i) {
            HmacBlock(s, inner);
            HmacBlock(s, outer);
#pragma GCC unroll 4
            for (int l = 0; l < Lanes; ++l) {
                t[l].Abcd = _mm_xor_si128(t[l].Abcd, s[l].Abcd);
                t[l].E = _mm_xor_si128(t[l].E, s[l].E);
            }
        }
        for (int l = 0; l < Lanes && outLength > 0; ++l) {
            StoreDigest(t[l], u[l]);
            const std::size_t n = std::min(outLength, DigestSize);
            std::memcpy(out, u[l], n);
            out += n;
            outLength -= n;
        }
    }
    OPENSSL_cleanse(u, sizeof u);
}
#endif

} // namespace

namespace detail {

// Here the two pad states are hashed once and each HMAC is two bare compressions of one
// padded block: twice as fast as OpenSSL's PKCS5_PBKDF2_HMAC, which spends more time
// dispatching each HMAC than hashing.
void Pbkdf2HmacSha1Portable(const std::string& password, const unsigned char* salt,
                            std::size_t saltLength, int iterations, unsigned char* out,
                            std::size_t outLength)
{
    const THmacStates hmac(password);
    // A digest as the second block of an HMAC: the digest, 0x80, zeros, the bit length.
    unsigned char message[ShaBlockSize] = {};
    message[DigestSize] = 0x80;
    constexpr unsigned Bits = (ShaBlockSize + DigestSize) * 8;
    message[ShaBlockSize - 2] = static_cast<unsigned char>(Bits >> 8);
    message[ShaBlockSize - 1] = static_cast<unsigned char>(Bits & 0xFF);

    for (std::uint32_t block = 1; outLength > 0; ++block) {
        unsigned char u[DigestSize];
        unsigned char t[DigestSize];
        hmac.First(salt, saltLength, block, u);
        std::memcpy(t, u, DigestSize);
        SHA_CTX c;
        for (int i = 1; i < iterations; ++i) {
            std::memcpy(message, u, DigestSize);
            c = hmac.Inner;
            SHA1_Transform(&c, message);
            PutBigEndian(c, message);
            c = hmac.Outer;
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
        OPENSSL_cleanse(&c, sizeof c);
    }
    OPENSSL_cleanse(message, sizeof message);
}

bool Pbkdf2HmacSha1Accelerated(const std::string& password, const unsigned char* salt,
                               std::size_t saltLength, int iterations, unsigned char* out,
                               std::size_t outLength)
{
#ifdef TESSARIN_SHA_NI
    if (!CpuHasShaNi())
        return false;
    const THmacStates hmac(password);
    ShaNiChains(hmac, salt, saltLength, iterations, out, outLength);
    return true;
#else
    (void)password, (void)salt, (void)saltLength, (void)iterations, (void)out, (void)outLength;
    return false;
#endif
}

} // namespace detail

// Every entry of an encrypted archive needs its own 4000 HMACs: what a password costs per file.
void Pbkdf2HmacSha1(const std::string& password, const unsigned char* salt, std::size_t saltLength,
                    int iterations, unsigned char* out, std::size_t outLength)
{
    if (!detail::Pbkdf2HmacSha1Accelerated(password, salt, saltLength, iterations, out, outLength))
        detail::Pbkdf2HmacSha1Portable(password, salt, saltLength, iterations, out, outLength);
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
