#pragma once
// PBKDF2-HMAC-SHA1 with the SHA instructions of x86-64. OpenSSL's PKCS5_PBKDF2_HMAC spends
// more time dispatching each HMAC than hashing; here each HMAC is two bare compressions
// of one padded block and four output blocks are hashed side by side, which makes a
// password backup of many small files several times cheaper.

#include <cstddef>
#include <string>

namespace tessarin::detail {

// False, out untouched, when the CPU has no SHA instructions (or this is no x86-64 build).
bool Pbkdf2HmacSha1Accelerated(const std::string& password, const unsigned char* salt,
                               std::size_t saltLength, int iterations, unsigned char* out,
                               std::size_t outLength);

} // namespace tessarin::detail
