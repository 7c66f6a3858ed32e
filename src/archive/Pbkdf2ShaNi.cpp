#include "archive/Pbkdf2ShaNi.h"

#include <openssl/crypto.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#include <immintrin.h>
#define TESSARIN_SHA_NI 1
#endif

namespace tessarin::detail {

#ifdef TESSARIN_SHA_NI
namespace {

#define TESSARIN_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))
#define TESSARIN_SHA_INLINE TESSARIN_SHA_TARGET inline __attribute__((always_inline))

constexpr std::size_t ShaBlockSize = 64;
constexpr std::size_t DigestSize = 20;

// Output blocks whose chains run side by side: one chain waits on sha1rnds4 most of the time.
// Loops over lanes are unrolled: otherwise -O2 keeps the lanes in memory, not registers.
constexpr int Lanes = 4;

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

// SHA-NI keeps A..D in one vector, A in the high dword, and E in the high dword of another.
struct TShaState {
    __m128i Abcd;
    __m128i E;
};

TESSARIN_SHA_INLINE __m128i ByteSwapMask()
{
    return _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
}

TESSARIN_SHA_INLINE TShaState InitialState()
{
    return {_mm_set_epi32(0x67452301, static_cast<int>(0xEFCDAB89u), static_cast<int>(0x98BADCFEu),
                          0x10325476),
            _mm_set_epi32(static_cast<int>(0xC3D2E1F0u), 0, 0, 0)};
}

TESSARIN_SHA_INLINE __m128i LoadWords(const unsigned char* bytes)
{
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)),
                            ByteSwapMask());
}

TESSARIN_SHA_INLINE TShaState LoadDigest(const unsigned char* digest)
{
    std::uint32_t e;
    std::memcpy(&e, digest + 16, 4);
    return {LoadWords(digest), _mm_set_epi32(static_cast<int>(__builtin_bswap32(e)), 0, 0, 0)};
}

TESSARIN_SHA_INLINE void StoreDigest(const TShaState& s, unsigned char* digest)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(digest), _mm_shuffle_epi8(s.Abcd, ByteSwapMask()));
    const std::uint32_t e =
        __builtin_bswap32(static_cast<std::uint32_t>(_mm_extract_epi32(s.E, 3)));
    std::memcpy(digest + 16, &e, 4);
}

// Rounds 4R..4R+3 of every lane. w holds the lane's last four message vectors.
template <int R, int N>
TESSARIN_SHA_INLINE void QuadRound(TShaState (&s)[N], __m128i (&previous)[N], __m128i (&w)[N][4],
                                   __m128i startE)
{
#pragma GCC unroll 4
    for (int l = 0; l < N; ++l) {
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

template <int N, int... R>
TESSARIN_SHA_INLINE void AllRounds(std::integer_sequence<int, R...>, TShaState (&s)[N],
                                   __m128i (&previous)[N], __m128i (&w)[N][4], __m128i startE)
{
    (QuadRound<R, N>(s, previous, w, startE), ...);
}

// One compression in every lane, all from the state start, each lane's block in w.
template <int N>
TESSARIN_SHA_INLINE void Compress(TShaState (&s)[N], __m128i (&w)[N][4], const TShaState start)
{
    __m128i previous[N];
#pragma GCC unroll 4
    for (int l = 0; l < N; ++l)
        s[l].Abcd = start.Abcd;
    AllRounds<N>(std::make_integer_sequence<int, 20>(), s, previous, w, start.E);
#pragma GCC unroll 4
    for (int l = 0; l < N; ++l) {
        s[l].E = _mm_sha1nexte_epu32(previous[l], start.E);
        s[l].Abcd = _mm_add_epi32(s[l].Abcd, start.Abcd);
    }
}

TESSARIN_SHA_TARGET void CompressBlock(TShaState& state, const unsigned char* block)
{
    __m128i w[1][4];
    for (int k = 0; k < 4; ++k)
        w[0][k] = LoadWords(block + 16 * k);
    TShaState s[1];
    Compress(s, w, state);
    state = s[0];
}

// The digest of a message whose first block state has taken in already; data is the rest.
TESSARIN_SHA_TARGET void Finish(TShaState state, const unsigned char* data, std::size_t length,
                                unsigned char* digest)
{
    const std::size_t full = length / ShaBlockSize * ShaBlockSize;
    for (std::size_t at = 0; at < full; at += ShaBlockSize)
        CompressBlock(state, data + at);
    unsigned char last[2 * ShaBlockSize] = {};
    const std::size_t rest = length - full;
    std::memcpy(last, data + full, rest);
    last[rest] = 0x80;
    const std::size_t end = rest + 9 <= ShaBlockSize ? ShaBlockSize : 2 * ShaBlockSize;
    const std::uint64_t bits = (ShaBlockSize + length) * 8;
    for (std::size_t b = 0; b < 8; ++b)
        last[end - 1 - b] = static_cast<unsigned char>(bits >> (8 * b));
    for (std::size_t at = 0; at < end; at += ShaBlockSize)
        CompressBlock(state, last + at);
    StoreDigest(state, digest);
    OPENSSL_cleanse(last, sizeof last);
    OPENSSL_cleanse(&state, sizeof state);
}

// HMAC-SHA1 with the key's two pad blocks hashed once: each HMAC then starts from these.
struct THmacPads {
    TShaState Inner;
    TShaState Outer;
};

TESSARIN_SHA_TARGET THmacPads PadStates(const std::string& password)
{
    unsigned char key[ShaBlockSize] = {};
    if (password.size() > ShaBlockSize)
        SHA1(reinterpret_cast<const unsigned char*>(password.data()), password.size(), key);
    else
        std::memcpy(key, password.data(), password.size());
    THmacPads pads{InitialState(), InitialState()};
    unsigned char pad[ShaBlockSize];
    for (std::size_t i = 0; i < ShaBlockSize; ++i)
        pad[i] = static_cast<unsigned char>(key[i] ^ 0x36);
    CompressBlock(pads.Inner, pad);
    for (std::size_t i = 0; i < ShaBlockSize; ++i)
        pad[i] = static_cast<unsigned char>(key[i] ^ 0x5c);
    CompressBlock(pads.Outer, pad);
    OPENSSL_cleanse(key, sizeof key);
    OPENSSL_cleanse(pad, sizeof pad);
    return pads;
}

// The first HMAC of output block `block`: over the salt and the block's number, which
// takes the last four bytes of message.
TESSARIN_SHA_TARGET void FirstHmac(const THmacPads& pads, std::vector<unsigned char>& message,
                                   std::uint32_t block, unsigned char* u)
{
    unsigned char* index = message.data() + message.size() - 4;
    for (int b = 0; b < 4; ++b)
        index[b] = static_cast<unsigned char>(block >> (24 - 8 * b));
    Finish(pads.Inner, message.data(), message.size(), u);
    Finish(pads.Outer, u, DigestSize, u);
}

// Second block of an HMAC in every lane: the digest in s, from the pad state `start`.
TESSARIN_SHA_INLINE void HmacBlock(TShaState (&s)[Lanes], const TShaState& start)
{
    // The digest, 0x80, zeros and the bit length of pad block plus digest.
    const __m128i padding = _mm_set_epi32(0, static_cast<int>(0x80000000u), 0, 0);
    const __m128i bits = _mm_set_epi32(0, 0, 0, static_cast<int>((ShaBlockSize + DigestSize) * 8));
    __m128i w[Lanes][4];
#pragma GCC unroll 4
    for (int l = 0; l < Lanes; ++l) {
        w[l][0] = s[l].Abcd;
        w[l][1] = _mm_or_si128(s[l].E, padding);
        w[l][2] = _mm_setzero_si128();
        w[l][3] = bits;
    }
    Compress(s, w, start);
}

TESSARIN_SHA_TARGET void ShaNiChains(const THmacPads& pads, const unsigned char* salt,
                                     std::size_t saltLength, int iterations, unsigned char* out,
                                     std::size_t outLength)
{
    std::vector<unsigned char> message(saltLength + 4);
    std::copy_n(salt, saltLength, message.begin());
    unsigned char u[Lanes][DigestSize];
    TShaState s[Lanes];
    TShaState t[Lanes];
    for (std::uint32_t first = 1; outLength > 0; first += Lanes) {
#pragma GCC unroll 4
        for (int l = 0; l < Lanes; ++l) {
            FirstHmac(pads, message, first + static_cast<std::uint32_t>(l), u[l]);
            s[l] = t[l] = LoadDigest(u[l]);
        }
        for (int i = 1; i < iterations; ++i) {
            HmacBlock(s, pads.Inner);
            HmacBlock(s, pads.Outer);
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
    OPENSSL_cleanse(s, sizeof s);
    OPENSSL_cleanse(t, sizeof t);
}

} // namespace
#endif

bool Pbkdf2HmacSha1Accelerated(const std::string& password, const unsigned char* salt,
                               std::size_t saltLength, int iterations, unsigned char* out,
                               std::size_t outLength)
{
#ifdef TESSARIN_SHA_NI
    if (!CpuHasShaNi())
        return false;
    THmacPads pads = PadStates(password);
    ShaNiChains(pads, salt, saltLength, iterations, out, outLength);
    OPENSSL_cleanse(&pads, sizeof pads);
    return true;
#else
    (void)password, (void)salt, (void)saltLength, (void)iterations, (void)out, (void)outLength;
    return false;
#endif
}

} // namespace tessarin::detail
