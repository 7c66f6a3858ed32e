#include "archive/WinZipAes.h"
#include "archive/Pbkdf2ShaNi.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <iostream>
#include <string>
#include <vector>

namespace tessarin::test {
namespace {

std::vector<unsigned char> Reference(const std::string& password, const std::string& salt,
                                     int iterations, std::size_t length)
{
    std::vector<unsigned char> out(length);
    PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()),
                           reinterpret_cast<const unsigned char*>(salt.data()),
                           static_cast<int>(salt.size()), iterations, static_cast<int>(length),
                           out.data());
    return out;
}

std::string Hex(const std::vector<unsigned char>& bytes)
{
    std::string out;
    for (const unsigned char b : bytes)
        out += "0123456789abcdef"[b >> 4], out += "0123456789abcdef"[b & 15];
    return out;
}

TEST(WinZipAes, KeyDerivationMatchesTheRfcVectorsAndOpenSsl)
{
    struct TCase {
        std::string Password;
        std::string Salt;
        int Iterations;
        std::size_t Length;
        std::string Published = {}; // RFC 6070
    };
    const TCase cases[] = {
        {"password", "salt", 1, 20, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"password", "salt", 2, 20, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {"password", "salt", 4096, 20, "4b007901b765489abead49d926f721d065a429c1"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, 16,
         "56fa6aa75548099dcc37d7f03425e0c3"},
        {"", "0123456789abcdef", 1000, 66},
        {"Heslo 42", "0123456789abcdef", 1, 66},
        {std::string(64, 'p'), "saltsaltsaltsalt", 1000, 66},   // exactly one block
        {std::string(65, 'p'), "saltsaltsaltsalt", 1000, 66},   // hashed first
        {"P\u0159\u00ed\u0161ern\u011b", "12345678", 1000, 34}, // AES-128
        {"x", std::string(40, 's'), 2, 41},
        {"x", std::string(60, 's'), 2, 20}, // salt and block number spill into a second block
        // Past four output blocks: a second group of lanes, full, cut or partly used.
        {"Heslo 42", "0123456789abcdef", 1000, 80},
        {"Heslo 42", "0123456789abcdef", 1000, 81},
        {"Heslo 42", "0123456789abcdef", 2, 100},
    };
    bool accelerated = false;
    for (const TCase& c : cases) {
        const auto* salt = reinterpret_cast<const unsigned char*>(c.Salt.data());
        std::vector<unsigned char> chosen(c.Length);
        std::vector<unsigned char> fast(c.Length);
        EXPECT_TRUE(
            Pbkdf2HmacSha1(c.Password, salt, c.Salt.size(), c.Iterations, chosen.data(), c.Length));
        accelerated = detail::Pbkdf2HmacSha1Accelerated(c.Password, salt, c.Salt.size(),
                                                        c.Iterations, fast.data(), c.Length);
        const std::vector<unsigned char> expected =
            Reference(c.Password, c.Salt, c.Iterations, c.Length);
        const std::string what = std::to_string(c.Password.size()) + " " +
                                 std::to_string(c.Iterations) + " " + std::to_string(c.Length);
        EXPECT_EQ(chosen, expected) << what;
        if (!c.Published.empty()) {
            EXPECT_EQ(Hex(chosen), c.Published) << what;
        }
        if (accelerated) {
            EXPECT_EQ(fast, expected) << what;
        }
    }
    std::cout << "[          ] accelerated path " << (accelerated ? "checked" : "not on this CPU")
              << "\n";
}

TEST(WinZipAes, SealedDataOpensOnlyUntouchedAndWithItsPassword)
{
    const std::string plain(10000, 'm');
    TWinZipAes writer;
    ASSERT_TRUE(writer.StartNew("Heslo 42"));
    std::string sealed = plain;
    auto* bytes = reinterpret_cast<unsigned char*>(sealed.data());
    ASSERT_TRUE(writer.Encrypt(bytes, 3000) && writer.Encrypt(bytes + 3000, sealed.size() - 3000));
    unsigned char code[TWinZipAes::AuthCodeLength];
    ASSERT_TRUE(writer.AuthCode(code));
    EXPECT_NE(sealed, plain);

    for (const bool tamper : {false, true}) {
        std::string copy = sealed;
        if (tamper)
            copy[5000] ^= 1;
        TWinZipAes reader;
        ASSERT_EQ(reader.Start("Heslo 42", writer.Header()), TWinZipAes::TStart::Ready);
        ASSERT_TRUE(reader.Decrypt(reinterpret_cast<unsigned char*>(copy.data()), copy.size()));
        EXPECT_EQ(reader.Authentic(code), !tamper);
        EXPECT_EQ(copy == plain, !tamper);
    }
    TWinZipAes wrong;
    EXPECT_EQ(wrong.Start("heslo 42", writer.Header()), TWinZipAes::TStart::WrongPassword);
}

} // namespace
} // namespace tessarin::test
