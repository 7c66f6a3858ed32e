#pragma once
// Reading one archive entry's content in pieces, decrypted and decompressed.

#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tessarin {

enum class TReadOutcome {
    Done,
    PasswordRefused,  // missing or wrong password (or data a wrong password garbled)
    DecryptionFailed, // the cipher failed (not the password); failure is empty
    Failed,           // anything else; failure says what
};

struct TEntryOutput {
    // Takes the next piece of content; false (with failure set) stops the read.
    std::function<bool(const char* data, std::size_t size, std::string& failure)> Write;
    // Called with the number of content bytes written so far, every megabyte or so.
    // May throw; the read is then abandoned and every handle released.
    std::function<void(std::uint64_t done)> Progress;
};

// Reads entry index of za (stat as zip_stat_index gives it) with password (empty for
// none). buffer is scratch space, grown as needed. With a lock, threads can read
// entries of one za at the same time: each libzip call is made holding it, and the
// inflating, decrypting and writing are done without it.
TReadOutcome ReadEntry(zip_t* za, zip_uint64_t index, const zip_stat_t& stat,
                       const std::string& password, std::vector<char>& buffer,
                       const TEntryOutput& output, std::string& failure,
                       std::mutex* lock = nullptr);

} // namespace tessarin
