#pragma once
// Reads a written archive back before it takes the place of an earlier one: every entry
// to its end, where libzip checks its CRC (and an AES entry's authentication code).
// The entries are shared out among worker threads, each with its own read-only handle.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tessarin {

struct TVerifyFailure {
    std::string Entry; // empty when the archive as a whole does not open
    std::string Reason;
    bool DecryptionFailed = false; // Reason is empty then: the caller words it
};

struct TVerifyOptions {
    unsigned Threads = 0; // 0: one per core
    // Called on the calling thread at once and then every few hundredths of a second
    // while the workers read, with the content bytes read so far and in all. May throw
    // (a close query answered Yes): the workers stop first and the exception comes out.
    std::function<void(std::uint64_t done, std::uint64_t total)> Pump;
};

// Nothing when every entry reads back whole with password (empty for none); else the
// first entry, in archive order, that did not, and why.
std::optional<TVerifyFailure> VerifyArchive(const std::string& path, const std::string& password,
                                            const TVerifyOptions& options = {});

} // namespace tessarin
