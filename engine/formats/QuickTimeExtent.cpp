// ISO/IEC 14496-12 (ISO base media file format), 4.2 "Object Structure" and 4.3 "File Type Box";
// Apple's QuickTime File Format, "Atoms" and "File Type Compatibility Atom". Every field is
// big-endian. A box:
//   offset 0  size        4 bytes: the whole box, header included; 1 = a 64-bit size follows the
//                         type; 0 = the box runs to the end of the file
//   offset 4  type        4 bytes, four printable characters
//   offset 8  largesize   8 bytes, only when size is 1
// The file type box comes first:
//   offset 8  major brand    4 bytes, printable, e.g. "isom", "mp42", "qt  ", "3gp4"
//   offset 12 minor version  4 bytes
//   offset 16 compatible brands, 4 bytes each, to the end of the box
#include "formats/QuickTimeExtent.h"

#include "evidence/EvidenceReader.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace morrow {

namespace {

bool printable(const unsigned char* p, std::size_t n) {
    return std::all_of(p, p + n, [](unsigned char c) { return c >= 0x20 && c <= 0x7E; });
}

// Top-level box types of ISO/IEC 14496-12 (and QuickTime's wide, pnot and udta) that a file may
// end in.
bool knownTopLevel(const unsigned char* type) {
    static const char* const types[] = {"moov", "mdat", "moof", "mfra", "free", "skip",
                                        "wide", "meta", "uuid", "sidx", "ssix", "styp",
                                        "prft", "emsg", "pdin", "pnot", "udta"};
    return std::any_of(std::begin(types), std::end(types),
                       [type](const char* t) { return std::memcmp(type, t, 4) == 0; });
}

bool isType(const unsigned char* type, const char* name) {
    return std::memcmp(type, name, 4) == 0;
}

// One child box inside [at, end): its header length and whole size, or none where the bytes are
// no box that fits.
struct Child {
    std::uint64_t header = 0;
    std::uint64_t size = 0;
    unsigned char type[4] = {};
};

bool readChild(EvidenceReader& evidence, std::int64_t H, std::uint64_t at, std::uint64_t end, Child& child) {
    if (end - at < 8) {
        return false;
    }
    unsigned char head[16] = {};
    evidence.readAt(H + static_cast<std::int64_t>(at), head, sizeof head);
    std::memcpy(child.type, head + 4, 4);
    child.header = 8;
    child.size = be32(head);
    if (child.size == 1) {
        child.header = 16;
        child.size = be64(head + 8);
    } else if (child.size == 0) {
        child.size = end - at;
    }
    return child.size >= child.header && child.size <= end - at;
}

// The sample tables of one track (ISO/IEC 14496-12, 8.7.3 to 8.7.5), as offsets of the boxes.
struct SampleTables {
    std::uint64_t chunkOffsets = 0; // stco or co64, 0: none
    bool wideOffsets = false;       // co64
    std::uint64_t chunkOffsetsSize = 0;
    std::uint64_t sampleSizes = 0; // stsz
    std::uint64_t sampleSizesSize = 0;
    std::uint64_t sampleToChunk = 0; // stsc
    std::uint64_t sampleToChunkSize = 0;
};

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// The furthest byte (from the file's start) that one track's chunks reach: each chunk's offset
// plus the sizes of the samples it holds. Every count is held to what its box can store, so a
// hostile count costs no more reads than the box has bytes.
std::uint64_t trackDataEnd(EvidenceReader& evidence, std::int64_t H, const SampleTables& t) {
    if (t.chunkOffsets == 0) {
        return 0;
    }
    const auto at = [H](std::uint64_t offset) { return H + static_cast<std::int64_t>(offset); };
    const std::uint64_t entryBytes = t.wideOffsets ? 8 : 4;
    const std::uint64_t chunks = std::min<std::uint64_t>(evidence.be32(at(t.chunkOffsets + 12)),
                                                         (t.chunkOffsetsSize - 16) / entryBytes);
    std::uint64_t constantSize = 0;
    std::uint64_t samples = 0;
    if (t.sampleSizes != 0) {
        constantSize = evidence.be32(at(t.sampleSizes + 12));
        samples = evidence.be32(at(t.sampleSizes + 16));
        if (constantSize == 0) {
            samples = std::min<std::uint64_t>(samples, (t.sampleSizesSize - 20) / 4);
        }
    }
    const std::uint64_t runs = t.sampleToChunk == 0
                                   ? 0
                                   : std::min<std::uint64_t>(evidence.be32(at(t.sampleToChunk + 12)),
                                                             (t.sampleToChunkSize - 16) / 12);
    std::uint64_t run = 0;
    std::uint64_t perChunk = 0;
    std::uint64_t sample = 0;
    std::uint64_t end = 0;
    for (std::uint64_t c = 0; c < chunks; ++c) {
        while (run < runs && evidence.be32(at(t.sampleToChunk + 16 + run * 12)) <= c + 1) {
            perChunk = evidence.be32(at(t.sampleToChunk + 16 + run * 12 + 4));
            ++run;
        }
        const std::uint64_t n = std::min(perChunk, samples - sample);
        std::uint64_t bytes = 0;
        if (constantSize != 0) {
            bytes = n > UINT64_MAX / constantSize ? UINT64_MAX : n * constantSize;
        } else {
            for (std::uint64_t s = sample; s < sample + n; ++s) {
                bytes += evidence.be32(at(t.sampleSizes + 20 + s * 4));
            }
        }
        sample += n;
        const std::uint64_t offset = t.wideOffsets ? evidence.be64(at(t.chunkOffsets + 16 + c * 8))
                                                   : evidence.be32(at(t.chunkOffsets + 16 + c * 4));
        end = std::max(end, saturatingAdd(offset, bytes));
    }
    return end;
}

// The furthest byte that the sample tables of the movie box at [at, at + size) reference, 0 where
// it has none. Descends moov, trak, mdia, minf and stbl only.
std::uint64_t movieDataEnd(EvidenceReader& evidence, std::int64_t H, std::uint64_t at, std::uint64_t size,
                           int depth = 0) {
    static const char* const containers[] = {"moov", "trak", "mdia", "minf"};
    Child child;
    std::uint64_t end = 0;
    const std::uint64_t boxEnd = at + size;
    at += 8;
    SampleTables tables;
    while (readChild(evidence, H, at, boxEnd, child)) {
        const bool container = std::any_of(std::begin(containers), std::end(containers),
                                           [&](const char* t) { return isType(child.type, t); });
        if (child.header == 8 && depth < 4 && (container || isType(child.type, "stbl"))) {
            end = std::max(end, movieDataEnd(evidence, H, at, child.size, depth + 1));
        } else if (child.header == 8 && child.size >= 16 &&
                   (isType(child.type, "stco") || isType(child.type, "co64"))) {
            tables.chunkOffsets = at;
            tables.chunkOffsetsSize = child.size;
            tables.wideOffsets = isType(child.type, "co64");
        } else if (child.header == 8 && child.size >= 20 && isType(child.type, "stsz")) {
            tables.sampleSizes = at;
            tables.sampleSizesSize = child.size;
        } else if (child.header == 8 && child.size >= 16 && isType(child.type, "stsc")) {
            tables.sampleToChunk = at;
            tables.sampleToChunkSize = child.size;
        }
        at += child.size;
    }
    return std::max(end, trackDataEnd(evidence, H, tables));
}

} // namespace

Extent QuickTimeExtent::measure(EvidenceReader& evidence, std::int64_t H) {
    const std::uint64_t E = evidence.size();
    if (H < 0 || static_cast<std::uint64_t>(H) >= E) {
        return Extent::rejected("outside the evidence");
    }
    const std::uint64_t avail = E - static_cast<std::uint64_t>(H);

    unsigned char box[16] = {};
    evidence.readAt(H, box, sizeof box);
    if (std::memcmp(box + 4, "ftyp", 4) != 0) {
        return Extent::rejected("no ftyp box");
    }
    const std::uint64_t fileTypeSize = be32(box);
    if (fileTypeSize < 16 || fileTypeSize > maxFileTypeSize || (fileTypeSize - 16) % 4 != 0) {
        return Extent::rejected("impossible ftyp size");
    }
    if (!printable(box + 8, 4)) {
        return Extent::rejected("major brand not printable");
    }
    if (fileTypeSize > avail) {
        return Extent::rejected("ftyp cut off by the end of the evidence");
    }

    std::uint64_t at = fileTypeSize;
    std::uint64_t boxes = 1;
    bool movie = false;
    std::uint64_t movieAt = 0; // the last whole moov box, 0: none
    std::uint64_t movieSize = 0;
    bool truncated = false;
    while (at < avail) {
        if (boxes >= maxBoxes) {
            truncated = true;
            break;
        }
        std::memset(box, 0, sizeof box);
        evidence.readAt(H + static_cast<std::int64_t>(at), box, sizeof box);
        if (!printable(box + 4, 4)) {
            break;
        }
        std::uint64_t size = be32(box);
        bool toTheEnd = false;
        if (size == 1) {
            size = be64(box + 8);
            if (size < 16) {
                break;
            }
        } else if (size == 0) {
            toTheEnd = true;
            size = avail - at; // to the end of the file: as far as the evidence goes
        } else if (size < 8) {
            break;
        }
        // Whatever follows a file on the disk (text, another file's bytes) reads as a box of four
        // printable characters often enough, and its "size" then runs far past the end of the
        // evidence: only a box type that ends files is taken to run to that end. Once the movie
        // box is whole, so is the file: random bytes after it would otherwise pass for box after
        // box, so only box types that stand at the top level may follow.
        if ((movie || toTheEnd || size > avail - at) && !knownTopLevel(box + 4)) {
            break;
        }
        if (toTheEnd && movieAt != 0 && isType(box + 4, "mdat")) {
            // Media data "to the end of the file" ends where the movie's last chunk does.
            const std::uint64_t dataEnd = movieDataEnd(evidence, H, movieAt, movieSize);
            if (dataEnd != 0) {
                size = std::max(at + 8, dataEnd) - at;
                if (size > avail - at) {
                    size = UINT64_MAX; // cut by the end of the evidence
                }
            }
        }
        ++boxes;
        const bool isMovie = std::memcmp(box + 4, "moov", 4) == 0 || std::memcmp(box + 4, "meta", 4) == 0;
        if (isType(box + 4, "moov") && size <= avail - at) {
            movieAt = at;
            movieSize = size;
        }
        if (size > avail - at) {
            // Cut by the end of the evidence; a movie box cut there is no whole movie box.
            truncated = true;
            at = avail;
            break;
        }
        movie = movie || isMovie;
        at += size;
    }
    if (boxes == 1) {
        return Extent::rejected("no box after ftyp");
    }
    if (!movie) {
        return Extent::rejected("no movie box");
    }
    return Extent::found(at, truncated);
}

} // namespace morrow
