#pragma once

#include <cstdint>

namespace morrow {

struct CarveState;

// The length readers of the size-driven carver: each looks at a few fields of one candidate,
// found by the header scan at the evidence offset H, and says whether the candidate is of its
// format and how long it is. They read only through state.evidence (zeros past its end), show
// nothing and never poll. A length is taken as the data states it; the carver clips it at the end
// of the evidence, so none of them allocates or reads anything in proportion to it.
class LengthReaders {
  public:
    // BMP: true when the low byte of the info header's size (H + 14) is 0x28 (Windows, 40 bytes),
    // 0x0C (OS/2, 12 bytes) or 0xF0.
    static bool checkBitmap(CarveState& state, std::int64_t H);

    // Linearized PDF: true with pdfLinearizedLength = the /L value of the linearization
    // dictionary whose "Linearized" keyword lies within the first 512 bytes; false otherwise.
    static bool readPdfLinearized(CarveState& state, std::int64_t H);

    // ASF: true with videoLength = the File Size field of the File Properties Object whose
    // identifier begins within the 512 bytes after the header object's 8-byte signature.
    // videoLength is 0 on false.
    static bool readAsfFileSize(CarveState& state, std::int64_t H);

    // RIFF (mp4Pass 0, H at "RIFF") or QuickTime family (mp4Pass 1, H at the ftyp box's size):
    // true with videoLength in bytes and videoContainer (1 AVI, 2 CDXA, 3 mp4, 4 mov, 5 3gp);
    // both are 0 on false.
    static bool readVideoLength(CarveState& state, std::int64_t H, std::int32_t mp4Pass);

    // The most bytes of top-level QuickTime boxes one walk adds up before it stops.
    static constexpr std::uint64_t quickTimeWalkLimit = 10485760;
};

} // namespace morrow
