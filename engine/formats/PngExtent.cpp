// PNG, ISO/IEC 15948 (W3C PNG second edition), section 5 (datastream structure) and 11.2.2 (IHDR).
//
// The datastream is the 8-byte signature 89 50 4E 47 0D 0A 1A 0A followed by chunks:
//   Length      4 bytes, big-endian: bytes of chunk data, at most 2^31 - 1
//   Chunk type  4 bytes, each an ASCII letter A-Z or a-z
//   Chunk data  Length bytes
//   CRC         4 bytes, big-endian: CRC-32 (the one zlib computes) over the type and the data
// IHDR comes first and IEND (no data) last.
//
// The IHDR data, 13 bytes:
//   Width, Height       4 bytes each, 1..2^31 - 1
//   Bit depth           1 byte  } allowed pairs: greyscale (0) 1, 2, 4, 8, 16; truecolour (2) 8, 16;
//   Colour type         1 byte  } indexed (3) 1, 2, 4, 8; greyscale+alpha (4) and truecolour+alpha
//                                 (6) 8, 16
//   Compression method  1 byte, 0
//   Filter method       1 byte, 0
//   Interlace method    1 byte, 0 or 1
#include "formats/PngExtent.h"

#include "evidence/EvidenceReader.h"

#include <algorithm>
#include <cstring>
#include <vector>
#include <zlib.h>

namespace morrow {

namespace {

constexpr unsigned char signature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint32_t maxChunkLength = 0x7FFFFFFF;

bool letter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isType(const unsigned char* type, const char* name) {
    return std::memcmp(type, name, 4) == 0;
}

bool possibleHeader(const unsigned char* d) {
    const std::uint32_t width = be32(d);
    const std::uint32_t height = be32(d + 4);
    if (width == 0 || width > maxChunkLength || height == 0 || height > maxChunkLength) {
        return false;
    }
    const unsigned depth = d[8];
    bool paired = false;
    switch (d[9]) {
    case 0:
        paired = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        break;
    case 3:
        paired = depth == 1 || depth == 2 || depth == 4 || depth == 8;
        break;
    case 2:
    case 4:
    case 6:
        paired = depth == 8 || depth == 16;
        break;
    default:
        break;
    }
    return paired && d[10] == 0 && d[11] == 0 && d[12] <= 1;
}

} // namespace

Extent PngExtent::measure(EvidenceReader& evidence, std::int64_t H) {
    const std::uint64_t size = evidence.size();
    if (H < 0 || static_cast<std::uint64_t>(H) >= size) {
        return Extent::rejected("candidate outside the evidence");
    }
    const auto start = static_cast<std::uint64_t>(H);
    unsigned char sig[8] = {};
    evidence.readAt(H, sig, sizeof sig);
    if (std::memcmp(sig, signature, sizeof sig) != 0) {
        return Extent::rejected("no PNG signature");
    }

    // Never more than the evidence after H: a walk held to a sector's stretch clears no whole block.
    std::vector<unsigned char> block(
        static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, size - start)));
    // The end of the last chunk whose CRC held: where the next chunk must begin.
    std::uint64_t pos = start + 8;
    bool headerSeen = false;
    // A PNG without image data is no picture, however sound its other chunks.
    bool dataSeen = false;
    // Apple's iOS build tools write a CgBI chunk before IHDR; such files are real PNG files.
    bool appleChunkAllowed = true;
    auto broken = [&](const char* why) {
        return dataSeen ? Extent::found(pos - start, true) : Extent::rejected(why);
    };

    for (;;) {
        if (pos > size || size - pos < 12) {
            return broken("the evidence ends before the next chunk");
        }
        unsigned char head[8 + 13] = {};
        evidence.readAt(static_cast<std::int64_t>(pos), head, sizeof head);
        const std::uint32_t length = be32(head);
        const unsigned char* type = head + 4;
        if (length > maxChunkLength || !letter(type[0]) || !letter(type[1]) || !letter(type[2]) ||
            !letter(type[3])) {
            return broken("no chunk length or type");
        }
        if (size - pos - 12 < length) {
            return broken("a chunk that runs past the evidence");
        }
        const bool appleChunk = !headerSeen && appleChunkAllowed && isType(type, "CgBI") && length == 4;
        if (!headerSeen && !appleChunk &&
            (!isType(type, "IHDR") || length != 13 || !possibleHeader(head + 8))) {
            return Extent::rejected("no sound IHDR chunk first");
        }
        const bool last = headerSeen && isType(type, "IEND");
        if (last && length != 0) {
            return broken("an IEND chunk with data");
        }

        // The CRC covers the type and the data, read from the type on in blocks.
        uLong crc = crc32(0L, Z_NULL, 0);
        std::uint64_t at = pos + 4;
        std::uint64_t left = 4 + static_cast<std::uint64_t>(length);
        while (left > 0) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
            evidence.readAt(static_cast<std::int64_t>(at), block.data(), n);
            crc = crc32(crc, block.data(), static_cast<uInt>(n));
            at += n;
            left -= n;
        }
        if (crc != evidence.be32(static_cast<std::int64_t>(at))) {
            return broken("a chunk whose CRC does not hold");
        }

        pos = at + 4;
        if (last) {
            return dataSeen ? Extent::found(pos - start) : Extent::rejected("no IDAT chunk before IEND");
        }
        dataSeen = dataSeen || isType(type, "IDAT");
        if (appleChunk) {
            appleChunkAllowed = false;
        } else {
            headerSeen = true;
        }
    }
}

} // namespace morrow
