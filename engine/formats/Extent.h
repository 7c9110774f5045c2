#pragma once

#include <cstdint>

namespace morrow {

// What a format reader found at a candidate: the file's length in bytes from the candidate's
// start, or why the candidate is not a file of its kind. "Not this format" is no error: the
// carver skips the candidate.
struct Extent {
    std::uint64_t length = 0;
    const char* whyNot = nullptr; // null when found
    // The structure broke before its end (overwritten sectors, the end of the evidence): length
    // is where its last sound part ends.
    bool truncated = false;

    explicit operator bool() const { return whyNot == nullptr; }
    static Extent found(std::uint64_t length, bool truncated = false) {
        return Extent{length, nullptr, truncated};
    }
    static Extent rejected(const char* why) { return Extent{0, why, false}; }
};

// A stretch of a file that the file's own structure points at: an archive member's data (from the
// central directory), a movie's chunk (from its sample tables or its index), a document's stream
// (its sector chain, its cross-reference entry), a picture's strip or thumbnail. Offsets count
// from the file's first byte.
struct Part {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    bool operator==(const Part&) const = default;
};

} // namespace morrow
