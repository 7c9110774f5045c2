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

// Top-level box types of ISO/IEC 14496-12 (and QuickTime's wide and pnot) that a file may end in.
bool knownTopLevel(const unsigned char* type) {
    static const char* const types[] = {"moov", "mdat", "moof", "mfra", "free", "skip", "wide", "meta",
                                        "uuid", "sidx", "ssix", "styp", "prft", "emsg", "pdin", "pnot"};
    return std::any_of(std::begin(types), std::end(types),
                       [type](const char* t) { return std::memcmp(type, t, 4) == 0; });
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
        // evidence: only a box type that ends files is taken to run to that end.
        if ((toTheEnd || size > avail - at) && !knownTopLevel(box + 4)) {
            break;
        }
        ++boxes;
        const bool isMovie = std::memcmp(box + 4, "moov", 4) == 0 || std::memcmp(box + 4, "meta", 4) == 0;
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
