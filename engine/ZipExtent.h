#pragma once

#include <cstdint>

namespace morrow {

struct CarveState;

// Finds where a ZIP archive ends by walking its local file headers from the one at H to the
// central directory and then searching for the end of central directory record. The extent stops
// 22 bytes after that record's start: an archive comment is not carved.
class ZipExtent {
  public:
    // Always returns 1; the answer is in state:
    // - end record found at F: zipSkip 0, zipLength = F + 22 - H, zipResumeOffset = F + 22;
    // - none before the end of the evidence: zipSkip 1, zipLength untouched, zipResumeOffset = the
    //   last local header the walk reached (the caller sets it to H before the call).
    // signatureBytes holds the bytes 50 4B 03 04 afterwards.
    static int measure(CarveState& state, std::int64_t H);

    static constexpr std::uint32_t blockSize = 32768;
};

} // namespace morrow
