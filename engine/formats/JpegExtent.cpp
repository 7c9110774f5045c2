// ITU-T T.81 (ISO/IEC 10918-1) Annex B, the interchange format.
//
// A marker is FF followed by a code byte that is neither 00 nor FF; any number of FF fill bytes
// may stand before it (B.1.1.2). SOI (D8), EOI (D9) and RSTm (D0..D7) stand alone; every other
// marker opens a segment whose first two bytes, big-endian, give its length, counting themselves
// but not the marker (B.1.1.4).
//
// The frame header, SOFn (B.2.2), is read to reject what no encoder writes:
//   Lf   2 bytes  length of the header: 8 + 3 * Nf
//   P    1 byte   sample precision: 8 or 12 for DCT frames, 2..16 for lossless ones
//   Y    2 bytes  number of lines (0 is allowed: a DNL segment after the first scan gives it)
//   X    2 bytes  samples per line, at least 1
//   Nf   1 byte   image components in the frame, 1..4 (more are allowed for sequential frames,
//                 but no encoder writes them and random bytes would)
//   then for each component: Ci (1 byte), Hi and Vi (4 bits each, 1..4), Tqi (1 byte, 0..3)
//
// The scan header, SOS (B.2.3):
//   Ls   2 bytes  length: 6 + 2 * Ns
//   Ns   1 byte   components in the scan, 1..4
// after which the entropy-coded data runs to the next marker: an FF byte of the data is followed
// by a stuffed 00 (B.1.1.5), and the RSTm markers between restart intervals belong to the data.
#include "formats/JpegExtent.h"

#include "evidence/EvidenceReader.h"
#include "formats/BlockWindow.h"

#include <cstring>
#include <vector>

namespace morrow {

namespace {

enum class Marker { None, Segment, Frame, Scan, LinesDefined, End };

// What a marker code stands for at the top level of the walk, outside the entropy-coded data.
Marker classify(unsigned char code) {
    if (code >= 0xE0 && code <= 0xEF) {
        return Marker::Segment; // APPn
    }
    switch (code) {
    case 0xC4: // DHT
    case 0xCC: // DAC
    case 0xDB: // DQT
    case 0xDD: // DRI
    case 0xDE: // DHP, which opens a hierarchical file's frames
    case 0xDF: // EXP
    case 0xFE: // COM
        return Marker::Segment;
    case 0xDA:
        return Marker::Scan;
    case 0xDC:
        return Marker::LinesDefined;
    case 0xD9:
        return Marker::End;
    default:
        break;
    }
    // SOF0..SOF15, less DHT (C4), JPG (C8) and DAC (CC) which share the range.
    if (code >= 0xC0 && code <= 0xCF && code != 0xC8) {
        return Marker::Frame;
    }
    // SOI, RSTm, TEM, JPGn and the reserved codes: none stands between segments.
    return Marker::None;
}

// SOF3, SOF7, SOF11 and SOF15 are the lossless frames.
bool losslessFrame(unsigned char code) {
    return (code & 0x03) == 0x03;
}

// `h` holds the frame header from Lf on, 20 bytes (enough for four components).
bool possibleFrameHeader(const unsigned char* h, unsigned char code) {
    const unsigned components = h[7];
    if (components < 1 || components > 4 || be16(h) != 8 + 3 * components) {
        return false;
    }
    const unsigned precision = h[2];
    if (losslessFrame(code) ? (precision < 2 || precision > 16) : (precision != 8 && precision != 12)) {
        return false;
    }
    if (be16(h + 5) == 0) {
        return false;
    }
    for (unsigned i = 0; i < components; ++i) {
        const unsigned char* c = h + 8 + 3 * i;
        const unsigned horizontal = c[1] >> 4;
        const unsigned vertical = c[1] & 0x0F;
        if (horizontal < 1 || horizontal > 4 || vertical < 1 || vertical > 4 || c[2] > 3) {
            return false;
        }
    }
    return true;
}

// The walk's block of evidence bytes: the entropy-coded data is scanned here with memchr.
class Block : public BlockWindow {
  public:
    Block(EvidenceReader& evidence, std::uint64_t size)
        : BlockWindow(evidence, JpegExtent::blockSize), size_(size) {}

    // The first offset from `from` on whose byte is not FF, or the evidence size.
    std::uint64_t skipFill(std::uint64_t from) {
        while (from < size_) {
            const std::size_t n = load(from);
            if (n == 0) {
                break;
            }
            const unsigned char* p = at(from);
            std::size_t i = 0;
            while (i < n && p[i] == 0xFF) {
                ++i;
            }
            if (i < n) {
                return from + i;
            }
            from += n;
        }
        return size_;
    }

    // The offset of the FF (or of the first fill byte) that opens the first marker other than
    // RSTm in the entropy-coded data from `from` on, or the evidence size when the data runs to
    // its end.
    std::uint64_t endOfScanData(std::uint64_t from) {
        std::uint64_t p = from;
        while (p < size_) {
            const std::size_t n = load(p);
            if (n == 0) {
                break;
            }
            const unsigned char* data = at(p);
            const void* ff = std::memchr(data, 0xFF, n);
            if (ff == nullptr) {
                p += n;
                continue;
            }
            const std::uint64_t marker =
                p + static_cast<std::uint64_t>(static_cast<const unsigned char*>(ff) - data);
            // As a decoder does: FF FF ... 00 is still one stuffed FF of data.
            const std::uint64_t codeAt = skipFill(marker + 1);
            if (codeAt >= size_ || load(codeAt) == 0) {
                break;
            }
            const unsigned char code = *at(codeAt);
            if (code != 0x00 && (code < 0xD0 || code > 0xD7)) {
                return marker;
            }
            p = codeAt + 1;
        }
        return size_;
    }

  private:
    std::uint64_t size_;
};

} // namespace

Extent JpegExtent::measure(EvidenceReader& evidence, std::int64_t H) {
    const std::uint64_t size = evidence.size();
    if (H < 0 || static_cast<std::uint64_t>(H) >= size) {
        return Extent::rejected("candidate outside the evidence");
    }
    const auto start = static_cast<std::uint64_t>(H);
    unsigned char two[2] = {};
    evidence.readAt(H, two, sizeof two);
    if (two[0] != 0xFF || two[1] != 0xD8) {
        return Extent::rejected("no SOI marker");
    }

    Block block(evidence, size);
    // Where the last sound part ends, which is where the next marker must begin.
    std::uint64_t sound = start + 2;
    // Until the first segment after SOI has been read whole.
    bool first = true;
    bool framed = false;
    bool scanned = false;
    // Without a frame header and a scan there is no picture to keep, however sound the segments
    // before the break: application segments alone are what a hostile image repeats at will.
    auto broken = [&](const char* why) {
        return scanned ? Extent::found(sound - start, true) : Extent::rejected(why);
    };

    for (;;) {
        if (sound >= size) {
            return broken("the evidence ends before the next marker");
        }
        two[0] = two[1] = 0;
        evidence.readAt(static_cast<std::int64_t>(sound), two, sizeof two);
        if (two[0] != 0xFF) {
            return broken("no marker where one must stand");
        }
        std::uint64_t codeAt = sound + 1;
        if (two[1] == 0xFF) {
            codeAt = block.skipFill(codeAt);
            if (codeAt >= size) {
                return broken("the evidence ends in fill bytes");
            }
        }
        const unsigned char code = evidence.u8(static_cast<std::int64_t>(codeAt));
        const Marker kind = classify(code);
        if (kind == Marker::None || (kind == Marker::LinesDefined && !scanned)) {
            return broken("no marker of the top level");
        }
        if (kind == Marker::End) {
            if (first) {
                return Extent::rejected("EOI right after SOI");
            }
            if (!scanned) {
                return Extent::rejected("EOI before any scan");
            }
            return Extent::found(codeAt + 1 - start);
        }

        unsigned char head[20] = {};
        evidence.readAt(static_cast<std::int64_t>(codeAt + 1), head, sizeof head);
        const std::uint64_t length = be16(head);
        const std::uint64_t end = codeAt + 1 + length;
        if (length < 2 || end > size) {
            return broken("a segment length that ends outside the evidence");
        }
        if (kind == Marker::Frame) {
            if (!possibleFrameHeader(head, code)) {
                // The file's own frame header decides whether this is a picture at all; one met
                // after a scan is more likely overwritten data, and the scans before it are kept.
                return scanned ? broken("impossible frame header after a scan")
                               : Extent::rejected("impossible frame header");
            }
            framed = true;
        }
        if (kind == Marker::Scan) {
            if (!framed) {
                return Extent::rejected("a scan before any frame header");
            }
            const unsigned components = head[2];
            if (components < 1 || components > 4 || length != 6 + 2 * components) {
                return broken("impossible scan header");
            }
            scanned = true;
            first = false;
            sound = block.endOfScanData(end);
            if (sound >= size) {
                // The scan data runs to the end of the evidence: all of it may be picture.
                return Extent::found(size - start, true);
            }
            continue;
        }
        first = false;
        sound = end;
    }
}

} // namespace morrow
