#pragma once

#include "base/FileType.h"

#include <cstdint>
#include <string>
#include <vector>

namespace morrow {

// One stretch of a carved file: `length` bytes of the evidence from `offset`. What lies past the
// end of the evidence is written as zeros.
struct ByteRun {
    std::int64_t offset = 0;
    std::uint64_t length = 0;
    bool operator==(const ByteRun&) const = default;
};

// One file a carver decided on: where it lies in which evidence, what it is and what it is called.
// Its bytes are its runs one after the other; a file in one piece has one run.
struct CarvedFile {
    std::string evidencePath;
    FileTypeId type = 0;
    std::string kindTag;
    std::int64_t number = 0; // the number in its name
    std::vector<ByteRun> runs;
    std::uint64_t spaceNeeded = 0; // the free space tested before writing (the length the data claims)
    std::string path;              // the full path it is written to and recorded under

    // Where its first byte lies in the evidence: the offset its report row gives.
    std::int64_t offset() const { return runs.empty() ? 0 : runs.front().offset; }
    // Its size: every run's bytes.
    std::uint64_t length() const {
        std::uint64_t total = 0;
        for (const ByteRun& run : runs) {
            total += run.length;
        }
        return total;
    }
};

} // namespace morrow
