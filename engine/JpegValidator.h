#pragma once

#include <cstdint>

namespace morrow {

struct CarveState;

// Decides whether a JPEG header candidate is worth carving and where its entropy-coded data begins.
//
// A file must open with an APP0 (JFIF) or APP1 (Exif) segment, and the chain of marker segments
// that follows must reach the start-of-scan marker FF DA through APPn, DQT, DRI, COM, SOF0, SOF2
// and DHT segments only. The footer search then starts at FF DA, so the FF D9 that ends an Exif
// thumbnail inside APP1 is never taken for the end of the file.
class JpegValidator {
public:
    // `headerOffset` is the candidate's byte offset in the open evidence, `signatureLength` the
    // number of bytes of its header signature (3 for FF D8 FF). True sets state.jpegScanStart to
    // the offset of the FF DA marker; false leaves it alone. Bytes past the end of the evidence
    // read as 00, which is no marker, so the walk ends on any input.
    static bool check(CarveState& state, std::int64_t headerOffset, int signatureLength);
};

} // namespace morrow
