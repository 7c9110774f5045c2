#pragma once

#include <cstdint>
#include <optional>

namespace morrow {

class EvidenceReader;

// Decides whether a JPEG header candidate is worth carving and where its entropy-coded data begins.
//
// A file must open with an APP0 (JFIF) or APP1 (Exif) segment, and the chain of marker segments
// that follows must reach the start-of-scan marker FF DA through APPn, DQT, DRI, COM, SOF0, SOF2
// and DHT segments only. The footer search then starts at FF DA, so the FF D9 that ends an Exif
// thumbnail inside APP1 is never taken for the end of the file.
class JpegValidator {
  public:
    // `headerOffset` is the candidate's byte offset in the evidence, `signatureLength` the number
    // of bytes of its header signature (3 for FF D8 FF). Returns the evidence offset of the FF DA
    // marker, or nothing when the candidate is no JPEG file Morrow carves. Bytes past the end of
    // the evidence read as 00, which is no marker, so the walk ends on any input.
    static std::optional<std::int64_t> check(EvidenceReader& evidence, std::int64_t headerOffset,
                                             int signatureLength);
};

} // namespace morrow
