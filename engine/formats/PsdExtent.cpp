// Adobe Photoshop File Formats (November 2019): "File Header Section", "Color Mode
// Data Section", "Image Resources Section", "Layer and Mask Information Section" and "Image Data
// Section". Every field is big-endian.
//
// The file header (26 bytes):
//   offset 0   signature   4 bytes, "8BPS"
//   offset 4   version     2 bytes, 1 (PSD) or 2 (PSB)
//   offset 6   reserved    6 bytes, zero
//   offset 12  channels    2 bytes, 1..56
//   offset 14  height      4 bytes, 1..30000 (PSB 1..300000)
//   offset 18  width       4 bytes, same range
//   offset 22  depth       2 bytes, bits per channel: 1, 8, 16 or 32
//   offset 24  color mode  2 bytes: 0 bitmap, 1 grayscale, 2 indexed, 3 RGB, 4 CMYK,
//                          7 multichannel, 8 duotone, 9 Lab
// Then the color mode data (a 4-byte length; 768 bytes of palette for indexed pictures), the image
// resources (a 4-byte length; blocks that start with the signature "8BIM") and the layer and mask
// information (a 4-byte length, 8 in PSB), each length counting the bytes after it. The image data
// section follows: a 2-byte compression method, then the merged picture in planar order.
#include "formats/PsdExtent.h"

#include "evidence/EvidenceReader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace morrow {

namespace {

struct Header {
    bool big = false; // PSB
    std::uint64_t channels = 0;
    std::uint64_t height = 0;
    std::uint64_t width = 0;
    std::uint64_t depth = 0;
    std::uint16_t mode = 0;
};

const char* checkHeader(const unsigned char* h, Header& out) {
    if (std::memcmp(h, "8BPS", 4) != 0) {
        return "no 8BPS signature";
    }
    const std::uint16_t version = be16(h + 4);
    if (version != 1 && version != 2) {
        return "unknown version";
    }
    out.big = version == 2;
    if (std::any_of(h + 6, h + 12, [](unsigned char c) { return c != 0; })) {
        return "reserved bytes not zero";
    }
    out.channels = be16(h + 12);
    out.height = be32(h + 14);
    out.width = be32(h + 18);
    out.depth = be16(h + 22);
    out.mode = be16(h + 24);
    const std::uint64_t maxSide = out.big ? 300000 : 30000;
    if (out.channels < 1 || out.channels > 56) {
        return "impossible channel count";
    }
    if (out.height < 1 || out.height > maxSide || out.width < 1 || out.width > maxSide) {
        return "impossible dimensions";
    }
    if (out.depth != 1 && out.depth != 8 && out.depth != 16 && out.depth != 32) {
        return "impossible depth";
    }
    if (out.mode > 9 || out.mode == 5 || out.mode == 6) {
        return "unknown color mode";
    }
    return nullptr;
}

// Signatures of image resource blocks: Photoshop's, and those other Adobe programs write.
bool resourceSignature(const unsigned char* p) {
    return std::memcmp(p, "8BIM", 4) == 0 || std::memcmp(p, "MeSa", 4) == 0 ||
           std::memcmp(p, "AgHg", 4) == 0 || std::memcmp(p, "PHUT", 4) == 0 || std::memcmp(p, "DCSR", 4) == 0;
}

// A zlib stream header (RFC 1950, 2.2): deflate with a window of at most 32 KiB, and a check
// value that makes the first two bytes a multiple of 31.
bool zlibHeader(const unsigned char* p) {
    return (p[0] & 0x0F) == 8 && (p[0] >> 4) <= 7 && ((p[0] << 8) | p[1]) % 31 == 0;
}

// How an image data section ended, and where (from the file's start).
struct Data {
    enum { Whole, Broken, PastEvidence } state = Whole;
    std::uint64_t end = 0;
};

// RLE: one byte count per row of every channel (2 bytes each, PSB 4), then the rows. A PackBits
// row never needs more than twice its raw bytes: a larger count is no count.
Data rleData(EvidenceReader& evidence, std::int64_t H, std::uint64_t start, std::uint64_t avail,
             const Header& hdr, std::uint64_t rowBytes) {
    const std::uint64_t entrySize = hdr.big ? 4 : 2;
    const std::uint64_t rows = hdr.channels * hdr.height;
    const std::uint64_t tableEnd = start + rows * entrySize;
    if (tableEnd > avail) {
        return {Data::PastEvidence, avail};
    }
    std::vector<unsigned char> block(PsdExtent::blockSize);
    std::uint64_t sum = 0;
    for (std::uint64_t at = start; at < tableEnd; at += block.size()) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), tableEnd - at));
        evidence.readAt(H + static_cast<std::int64_t>(at), block.data(), n);
        for (std::size_t i = 0; i < n; i += entrySize) {
            const std::uint64_t count = hdr.big ? be32(block.data() + i) : be16(block.data() + i);
            if (count > 2 * rowBytes + 2) {
                return {Data::Broken, 0};
            }
            sum += count;
        }
    }
    if (sum > avail - tableEnd) {
        return {Data::PastEvidence, avail};
    }
    return {Data::Whole, tableEnd + sum};
}

// ZIP: the merged picture deflated in a zlib stream, or one per channel. Inflated into a scratch
// buffer that is thrown away; the picture's raw size bounds what the streams may inflate to.
Data zipData(EvidenceReader& evidence, std::int64_t H, std::uint64_t start, std::uint64_t avail,
             const Header& hdr, std::uint64_t rawSize) {
    std::vector<unsigned char> in(PsdExtent::blockSize);
    std::vector<unsigned char> out(PsdExtent::blockSize);
    std::uint64_t at = start;
    std::uint64_t inflated = 0;
    for (std::uint64_t stream = 0; stream < hdr.channels && inflated < rawSize; ++stream) {
        unsigned char head[2] = {};
        evidence.readAt(H + static_cast<std::int64_t>(at), head, 2);
        if (!zlibHeader(head)) {
            if (stream == 0) {
                return {Data::Broken, 0};
            }
            break; // one stream held the whole picture
        }
        z_stream z{};
        if (inflateInit(&z) != Z_OK) {
            return {Data::Broken, 0};
        }
        int status = Z_OK;
        while (status == Z_OK) {
            if (z.avail_in == 0) {
                if (at >= avail) {
                    inflateEnd(&z);
                    return {Data::PastEvidence, avail};
                }
                const std::size_t n =
                    static_cast<std::size_t>(std::min<std::uint64_t>(in.size(), avail - at));
                evidence.readAt(H + static_cast<std::int64_t>(at), in.data(), n);
                z.next_in = in.data();
                z.avail_in = static_cast<uInt>(n);
            }
            const uInt before = z.avail_in;
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            status = inflate(&z, Z_NO_FLUSH);
            at += before - z.avail_in;
            inflated += out.size() - z.avail_out;
            if (status == Z_BUF_ERROR && z.avail_in > 0) {
                status = Z_DATA_ERROR; // no progress with input left: cannot happen in a sound stream
            } else if (status == Z_BUF_ERROR) {
                status = Z_OK;
            }
            if (inflated > rawSize) {
                status = Z_DATA_ERROR;
            }
        }
        inflateEnd(&z);
        if (status != Z_STREAM_END) {
            return {Data::Broken, 0};
        }
    }
    return {Data::Whole, at};
}

} // namespace

Extent PsdExtent::measure(EvidenceReader& evidence, std::int64_t H) {
    if (H < 0 || static_cast<std::uint64_t>(H) >= evidence.size()) {
        return Extent::rejected("outside the evidence");
    }
    const std::uint64_t avail = evidence.size() - static_cast<std::uint64_t>(H);
    unsigned char head[26] = {};
    evidence.readAt(H, head, sizeof head);
    Header hdr;
    if (const char* why = checkHeader(head, hdr)) {
        return Extent::rejected(why);
    }

    // The start is sound once the color mode data fits its mode and the image resources begin
    // with a resource block; both lie in the file's first sectors.
    std::uint64_t at = 26;
    const std::uint64_t colorLength = evidence.be32(H + 26);
    if (hdr.mode == 2 && colorLength != 768) {
        return Extent::rejected("indexed color without a 768-byte palette");
    }
    at += 4 + colorLength;
    if (at + 4 > avail) {
        return Extent::rejected("cut off before its image resources");
    }
    const std::uint64_t resourcesLength = evidence.be32(H + static_cast<std::int64_t>(at));
    if (resourcesLength > 0) {
        unsigned char signature[4] = {};
        if (resourcesLength < 4 || evidence.readAt(H + static_cast<std::int64_t>(at + 4), signature, 4) < 4 ||
            !resourceSignature(signature)) {
            return Extent::rejected("image resources hold no resource block");
        }
    }
    at += 4 + resourcesLength;

    // Whatever follows is taken as far as it can be: past the end of the evidence the file is
    // carved to that end, and a part that cannot be what it claims ends the file before it.
    auto pastEvidence = [&] { return Extent::found(avail, true); };
    const std::uint64_t layersStart = at;
    const std::uint64_t lengthSize = hdr.big ? 8 : 4;
    if (at + lengthSize > avail) {
        return pastEvidence();
    }
    const std::uint64_t layersLength = hdr.big ? evidence.be64(H + static_cast<std::int64_t>(at))
                                               : evidence.be32(H + static_cast<std::int64_t>(at));
    if (layersLength > avail - at - lengthSize) {
        return pastEvidence();
    }
    if (layersLength > 0) {
        // The layer info comes first and has a length of its own, which must fit in the section.
        const std::uint64_t layerInfoLength = hdr.big ? evidence.be64(H + static_cast<std::int64_t>(at + 8))
                                                      : evidence.be32(H + static_cast<std::int64_t>(at + 4));
        if (layersLength < lengthSize || layerInfoLength > layersLength - lengthSize) {
            return Extent::found(layersStart, true);
        }
    }
    at += lengthSize + layersLength;

    const std::uint64_t imageStart = at;
    if (at + 2 > avail) {
        return pastEvidence();
    }
    const std::uint16_t compression = evidence.be16(H + static_cast<std::int64_t>(at));
    at += 2;
    const std::uint64_t rowBytes = (hdr.width * hdr.depth + 7) / 8;
    const std::uint64_t rawSize = hdr.channels * hdr.height * rowBytes;
    Data data;
    switch (compression) {
    case 0:
        data = rawSize > avail - at ? Data{Data::PastEvidence, avail} : Data{Data::Whole, at + rawSize};
        break;
    case 1:
        data = rleData(evidence, H, at, avail, hdr, rowBytes);
        break;
    case 2:
    case 3:
        data = zipData(evidence, H, at, avail, hdr, rawSize);
        break;
    default:
        data = {Data::Broken, 0};
        break;
    }
    switch (data.state) {
    case Data::Whole:
        return Extent::found(data.end);
    case Data::PastEvidence:
        return pastEvidence();
    case Data::Broken:
        break;
    }
    return Extent::found(imageStart, true);
}

// The image resources (thumbnails among them) and the layer section (layers' pixels and the files
// smart objects embed), as far as each lies within the measured `length`.
void PsdExtent::parts(EvidenceReader& evidence, std::int64_t H, std::uint64_t length,
                      std::vector<Part>& parts) {
    unsigned char head[26] = {};
    evidence.readAt(H, head, sizeof head);
    Header hdr;
    if (checkHeader(head, hdr) != nullptr) {
        return;
    }
    std::uint64_t at = 26 + 4 + std::uint64_t{evidence.be32(H + 26)};
    if (at + 4 > length) {
        return;
    }
    const std::uint64_t resourcesLength = evidence.be32(H + static_cast<std::int64_t>(at));
    at += 4;
    parts.push_back(Part{at, std::min(resourcesLength, length - at)});
    if (resourcesLength > length - at) {
        return;
    }
    at += resourcesLength;
    const std::uint64_t lengthSize = hdr.big ? 8 : 4;
    if (at + lengthSize > length) {
        return;
    }
    const std::uint64_t layersLength = hdr.big ? evidence.be64(H + static_cast<std::int64_t>(at))
                                               : evidence.be32(H + static_cast<std::int64_t>(at));
    at += lengthSize;
    parts.push_back(Part{at, std::min(layersLength, length - at)});
}

} // namespace morrow
