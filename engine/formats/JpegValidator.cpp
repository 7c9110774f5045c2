// JPEG marker segments as in ITU-T T.81 Annex B: a marker is FF followed by a code byte; a
// segment's big-endian 16-bit length counts its own two bytes but not the marker.
#include "formats/JpegValidator.h"

#include "evidence/EvidenceReader.h"

namespace morrow {

namespace {

// The codes whose segments may stand between the APP0/APP1 segment and the start of scan:
// APP0..APP15, DQT, DRI, COM, SOF0, SOF2 and DHT. Other frame types (SOF1, SOF3, arithmetic and
// lossless), DAC, RSTn and a premature EOI end the walk as "not a file we carve".
bool allowedBeforeScan(unsigned char code) {
    return (code >= 0xE0 && code <= 0xEF) || code == 0xDB || code == 0xDD || code == 0xFE || code == 0xC0 ||
           code == 0xC2 || code == 0xC4;
}

constexpr unsigned char startOfScan = 0xDA;

} // namespace

std::optional<std::int64_t> JpegValidator::check(EvidenceReader& evidence, std::int64_t headerOffset,
                                                 int signatureLength) {
    unsigned char two[2];
    std::int64_t pos = headerOffset + signatureLength;

    // The byte after FF D8 FF is the code of the first marker: APP0 or APP1.
    evidence.readAt(pos, two, 2);
    if (two[0] != 0xE0 && two[0] != 0xE1) {
        return std::nullopt;
    }
    pos += 1;
    evidence.readAt(pos, two, 2);
    // Measured from the length field, this length lands on the next marker. A length of 0 or 1
    // lands on the length field itself, which holds no FF marker byte, so the walk fails there.
    std::int64_t len = be16(two);

    for (;;) {
        pos += len;
        evidence.readAt(pos, two, 2);
        if (two[0] != 0xFF) {
            return std::nullopt;
        }
        if (allowedBeforeScan(two[1])) {
            // Marker plus segment: at least 2, so every step moves on, and only over real
            // evidence bytes, since zeros past the end are no marker.
            evidence.readAt(pos + 2, two, 2);
            len = static_cast<std::int64_t>(be16(two)) + 2;
            continue;
        }
        if (two[1] == startOfScan) {
            return pos;
        }
        return std::nullopt;
    }
}

} // namespace morrow
