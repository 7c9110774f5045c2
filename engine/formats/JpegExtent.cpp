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

#include "base/Limits.h"
#include "evidence/EvidenceReader.h"
#include "formats/BlockWindow.h"
#include "formats/JpegTables.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>
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
        bool suspect = false;
        return scanData(from, nullptr, suspect);
    }

    // As endOfScanData, for data that a decode has not proven: also the first sign that the bytes
    // are no longer entropy-coded data, where `suspect` is set. A restart marker out of sequence
    // (`restarts`: the scan has them, RSTm, m = `next`, comes next; none where it has not), and an
    // evidence sector of one byte over and over or of text (no byte of 80 or over), which no
    // encoder's data fills.
    std::uint64_t screenScanData(std::uint64_t from, bool restarts, unsigned next, bool& suspect) {
        Screen screen{restarts, next};
        return scanData(from, &screen, suspect);
    }

  private:
    struct Screen {
        bool restarts;
        unsigned next;
    };

    // Without a screen, every RSTm belongs to the data and no sector is looked at.
    std::uint64_t scanData(std::uint64_t from, Screen* screen, bool& suspect) {
        suspect = false;
        const std::uint64_t sector = limits::sectorSize;
        std::uint64_t screened = (from + sector - 1) / sector * sector; // whole sectors before: sound
        std::uint64_t sign = size_;                                     // the first foreign sector
        std::uint64_t p = from;
        while (p < size_) {
            if (p >= sign) {
                suspect = true;
                return sign;
            }
            const std::size_t n = load(p);
            if (n == 0) {
                break;
            }
            const unsigned char* data = at(p);
            screened = std::max(screened, (p + sector - 1) / sector * sector);
            for (; screen != nullptr && sign == size_ && screened + sector <= p + n; screened += sector) {
                if (foreign(data + (screened - p))) {
                    sign = screened;
                }
            }
            const auto upTo = static_cast<std::size_t>(std::min<std::uint64_t>(n, sign - p));
            const void* ff = std::memchr(data, 0xFF, upTo);
            if (ff == nullptr) {
                if (p + upTo == sign) {
                    suspect = true;
                    return sign;
                }
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
            if (code >= 0xD0 && code <= 0xD7 && screen != nullptr) {
                if (!screen->restarts || code != 0xD0 + screen->next) {
                    suspect = true;
                    return marker;
                }
                screen->next = (screen->next + 1) & 7;
            } else if (code != 0x00 && (code < 0xD0 || code > 0xD7)) {
                return marker;
            }
            p = codeAt + 1;
        }
        return size_;
    }

    static bool foreign(const unsigned char* sector) {
        // Eight bytes at a time: the bits any byte has, and those where one differs from the first.
        const std::uint64_t first = sector[0] * 0x0101010101010101ULL;
        std::uint64_t any = 0;
        std::uint64_t differ = 0;
        for (std::size_t i = 0; i < limits::sectorSize; i += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, sector + i, sizeof word);
            any |= word;
            differ |= word ^ first;
        }
        return differ == 0 || (any & 0x8080808080808080ULL) == 0;
    }

    std::uint64_t size_;
};

// Decodes a baseline scan's entropy-coded data (F.2.2) with its Huffman tables, keeping nothing
// but where it stands: each block's DC difference and AC codes are looked up by the next
// jpeg::Huffman::fastBits bits (their extra bits skipped with them), and must stay within the
// block's 64 coefficients; after each restart interval the data must stop at RSTm, m in sequence;
// after the scan's last MCU, at a marker. Bytes are fetched eight at a time where none is FF.
// A decode may pause at an MCU's start and go on later from there.
class ScanDecoder {
  public:
    enum class Outcome {
        Whole,  // every MCU: `at` is where the data stops (at a marker, if the file goes on)
        Broken, // `at` is where the decode stood when a code failed or a marker stood too soon
        Cut,    // the evidence ended inside the data
        Paused, // `at` is about where the next MCU starts, at or past the limit asked
    };

    ScanDecoder(EvidenceReader& evidence, std::uint64_t size)
        : window_(evidence, JpegExtent::blockSize), size_(size) {}

    // Starts on the scan's data at `from`, to go on up to `limit` or the scan's end.
    Outcome run(const jpeg::Scan& scan, std::uint64_t from, std::uint64_t limit, std::uint64_t& at) {
        restartEnd_ = 0;
        bits_ = 0;
        count_ = 0;
        marker_ = false;
        cut_ = false;
        starved_ = false;
        mcu_ = 0;
        next_ = 0;
        scan_ = &scan;
        coders_.clear();
        blocks_.clear();
        for (const unsigned owner : scan.blockOwner) {
            const jpeg::Component& c = scan.components[owner];
            blocks_.emplace_back(coder(scan.dcTables[c.dc], false), coder(scan.acTables[c.ac], true));
        }
        if (!seek(from)) {
            return Outcome::Cut;
        }
        return resume(limit, at);
    }

    // Goes on from where the last run paused.
    Outcome resume(std::uint64_t limit, std::uint64_t& at) {
        const jpeg::Scan& scan = *scan_;
        for (; mcu_ < scan.mcus; ++mcu_) {
            if (scan.restartInterval != 0 && mcu_ != 0 && mcu_ % scan.restartInterval == 0) {
                if (!restart()) {
                    at = position();
                    return Outcome::Broken;
                }
                next_ = (next_ + 1) & 7;
            }
            if (fetchedTo() >= limit && !marker_) {
                at = position();
                return Outcome::Paused;
            }
            for (const auto& [dc, ac] : blocks_) {
                if (!block(coders_[dc], coders_[ac])) {
                    at = position();
                    return starved_ && cut_ ? Outcome::Cut : Outcome::Broken;
                }
            }
        }
        count_ -= count_ % 8; // the padding bits of the last byte
        at = position();
        return Outcome::Whole;
    }

    // Just past the last restart marker met in sequence, 0 for none.
    std::uint64_t restartEnd() const { return restartEnd_; }
    // The restart marker's number that must come next.
    unsigned nextRestart() const { return next_; }

  private:
    // A table's codes by the next fastBits bits, each as one entry: the bits it takes with its
    // extra bits (low 5 bits), the coefficients it moves on (next 5), and flags.
    static constexpr std::uint16_t endOfBlock = 1 << 10;
    static constexpr std::uint16_t impossible = 1 << 11;
    static constexpr std::uint16_t zeroRun = 1 << 12; // sixteen zeros: moves on unchecked
    struct Coder {
        const jpeg::Huffman* table = nullptr;
        bool ac = false;
        std::array<std::uint16_t, 1 << jpeg::Huffman::fastBits> fast{};
    };

    static std::uint16_t entry(int length, int value, bool ac) {
        const int size = value & 15;
        if (!ac) {
            return value > 11 ? impossible : static_cast<std::uint16_t>(length + value);
        }
        const int run = value >> 4;
        if (size == 0) {
            return static_cast<std::uint16_t>(length | (run == 15 ? (16 << 5) | zeroRun : endOfBlock));
        }
        return size > 10 ? impossible : static_cast<std::uint16_t>((length + size) | ((run + 1) << 5));
    }
    std::size_t coder(const jpeg::Huffman& table, bool ac) {
        for (std::size_t i = 0; i < coders_.size(); ++i) {
            if (coders_[i].table == &table && coders_[i].ac == ac) {
                return i;
            }
        }
        Coder& c = coders_.emplace_back();
        c.table = &table;
        c.ac = ac;
        for (std::size_t prefix = 0; prefix < c.fast.size(); ++prefix) {
            const int length = table.fastLength[prefix];
            c.fast[prefix] = length == 0 ? 0 : entry(length, table.fastValue[prefix], ac);
        }
        return coders_.size() - 1;
    }

    // Where the next byte not yet decoded stands (fetched bytes not decoded counted back, a
    // stuffed FF 00 as one byte: at most a few bytes late).
    std::uint64_t position() const {
        const std::uint64_t fetched = marker_ ? markerAt_ : fetchedTo();
        return fetched - std::min<std::uint64_t>(fetched, static_cast<std::uint64_t>(count_ / 8));
    }
    // Fetching goes on from `at`; false (and cut_) where the evidence has no byte there.
    bool seek(std::uint64_t at) {
        blockAt_ = at;
        const std::size_t n = at < size_ ? window_.load(at) : 0;
        if (n == 0) {
            begin_ = cur_ = end_ = nullptr;
            cut_ = true;
            return false;
        }
        begin_ = cur_ = window_.at(at);
        end_ = cur_ + n;
        return true;
    }
    std::uint64_t fetchedTo() const { return blockAt_ + static_cast<std::uint64_t>(cur_ - begin_); }
    void fill() {
        while (count_ <= 56 && !marker_) {
            if (end_ - cur_ >= 8) {
                const std::uint64_t v = be64(cur_);
                const std::uint64_t x = ~v;
                if (((x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL) == 0) {
                    // No FF among the next eight bytes: as many whole bytes as the buffer takes.
                    const int take = (64 - count_) / 8;
                    bits_ = take == 8 ? v : (bits_ << (8 * take)) | (v >> (64 - 8 * take));
                    count_ += 8 * take;
                    cur_ += take;
                    return;
                }
            }
            if (cur_ == end_ && !seek(fetchedTo())) {
                return;
            }
            const unsigned char b = *cur_;
            if (b == 0xFF) {
                const std::uint64_t at = fetchedTo();
                // The code byte may lie in the next block.
                const bool moved = end_ - cur_ < 2;
                if (moved && !seek(at + 1)) {
                    return;
                }
                const unsigned char code = moved ? cur_[0] : cur_[1];
                if (code != 0x00) {
                    marker_ = true;
                    markerAt_ = at;
                    return;
                }
                cur_ += moved ? 1 : 2;
            } else {
                ++cur_;
            }
            bits_ = (bits_ << 8) | b;
            count_ += 8;
        }
    }
    // The entry of the code that the next bits start with; `impossible` for none within the bits
    // at hand (starved_ when there were too few to tell).
    std::uint16_t next(const Coder& c) {
        if (count_ < 32) {
            fill();
        }
        constexpr int fast = jpeg::Huffman::fastBits;
        const auto prefix = static_cast<unsigned>(
            (count_ >= fast ? bits_ >> (count_ - fast) : bits_ << (fast - count_)) & ((1u << fast) - 1));
        if (c.fast[prefix] != 0) {
            return c.fast[prefix];
        }
        const jpeg::Huffman& t = *c.table;
        for (int length = fast + 1; length <= 16 && length <= count_; ++length) {
            const auto code = static_cast<std::int32_t>((bits_ >> (count_ - length)) & ((1u << length) - 1));
            if (code <= t.maxCode[static_cast<std::size_t>(length)]) {
                return entry(
                    length,
                    t.values[static_cast<std::size_t>(t.valueIndex[static_cast<std::size_t>(length)] + code -
                                                      t.minCode[static_cast<std::size_t>(length)])],
                    c.ac);
            }
        }
        starved_ = count_ < 16;
        return impossible;
    }
    // Takes the entry's bits: false when it is none, or wants more bits than are at hand.
    bool take(std::uint16_t e) {
        const int bits = e & 31;
        if ((e & impossible) != 0 || bits > count_) {
            starved_ = starved_ || bits > count_;
            return false;
        }
        count_ -= bits;
        return true;
    }
    bool block(const Coder& dc, const Coder& ac) {
        if (!take(next(dc))) {
            return false;
        }
        for (int k = 1; k < 64;) {
            const std::uint16_t e = next(ac);
            if (!take(e)) {
                return false;
            }
            if ((e & endOfBlock) != 0) {
                break;
            }
            k += (e >> 5) & 31;
            if (k > 64 && (e & zeroRun) == 0) {
                return false; // a coefficient past the 64th
            }
        }
        return true;
    }
    // Between intervals: the padding bits, then RSTm (after any fill bytes), m in sequence.
    bool restart() {
        count_ -= count_ % 8;
        if (count_ != 0) {
            return false; // a whole byte of data where the marker must stand
        }
        if (!marker_) {
            fill();
            if (!marker_) {
                return false;
            }
        }
        std::uint64_t at = markerAt_ + 1;
        while (at < size_ && window_.load(at) != 0 && *window_.at(at) == 0xFF) {
            ++at;
        }
        if (at >= size_ || window_.load(at) == 0 || *window_.at(at) != 0xD0 + next_) {
            return false;
        }
        marker_ = false;
        bits_ = 0;
        restartEnd_ = at + 1;
        seek(at + 1); // (at the evidence's end the next fill finds nothing)
        return true;
    }

    BlockWindow window_;
    std::uint64_t size_;
    const jpeg::Scan* scan_ = nullptr;
    std::vector<Coder> coders_;
    std::vector<std::pair<std::size_t, std::size_t>> blocks_; // per block of an MCU: its coders
    std::uint64_t mcu_ = 0;
    unsigned next_ = 0;
    std::uint64_t restartEnd_ = 0;
    const unsigned char* begin_ = nullptr; // the window's bytes from blockAt_
    const unsigned char* cur_ = nullptr;
    const unsigned char* end_ = nullptr;
    std::uint64_t blockAt_ = 0;
    std::uint64_t bits_ = 0; // the low count_ bits are fetched and not yet decoded
    int count_ = 0;
    bool marker_ = false; // fetching stopped at the marker at markerAt_
    std::uint64_t markerAt_ = 0;
    bool cut_ = false;     // fetching stopped at the end of the evidence
    bool starved_ = false; // a code wanted more bits than were at hand
};

// The first of the run of evidence sectors of one byte over and over that holds `at` or ends just
// before it, back to `from` at most; `at` when there is none.
std::uint64_t constantRunStart(EvidenceReader& evidence, std::uint64_t at, std::uint64_t from) {
    const std::uint64_t sector = limits::sectorSize;
    const auto constant = [&](std::uint64_t s) {
        if (s + sector > evidence.size()) {
            return false; // (not the evidence's bytes)
        }
        unsigned char bytes[limits::sectorSize];
        evidence.readAt(static_cast<std::int64_t>(s), bytes, sizeof bytes);
        return std::all_of(bytes, bytes + sizeof bytes, [&](unsigned char b) { return b == bytes[0]; });
    };
    std::uint64_t s = at / sector * sector;
    if (!constant(s) && (s < from + sector || !constant(s - sector))) {
        return at;
    }
    if (!constant(s)) {
        s -= sector;
    }
    while (s >= from + sector && constant(s - sector)) {
        s -= sector;
    }
    return std::max(s, from);
}

// The signatures of the kinds Morrow carves as a header search finds them at a sector start: inside
// entropy-coded data one is all but impossible, so the data broke where it stands.
bool startsAFile(const unsigned char* p) {
    struct Signature {
        std::size_t at;
        const char* bytes;
        std::size_t length;
    };
    static const Signature signatures[] = {{0, "\xFF\xD8\xFF", 3},
                                           {0, "\x89PNG\r\n\x1A\n", 8},
                                           {0, "GIF8", 4},
                                           {0, "%PDF", 4},
                                           {0, "PK\x03\x04", 4},
                                           {4, "ftyp", 4},
                                           {0, "RIFF", 4},
                                           {0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11", 8},
                                           {0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8},
                                           {0, "II*\0", 4},
                                           {0, "MM\0*", 4},
                                           {0, "8BPS", 4},
                                           {0, "<!DOCTYPE", 9},
                                           {0, "<!doctype", 9},
                                           {0, "<html", 5},
                                           {0, "<HTML", 5},
                                           {0, "\xEF\xBB\xBF<", 4}};
    return std::any_of(std::begin(signatures), std::end(signatures),
                       [p](const Signature& s) { return std::memcmp(p + s.at, s.bytes, s.length) == 0; });
}

// The earliest sector start from `from` to `at`, at most maxBack sectors back, where another file
// begins; `at` when none does.
std::uint64_t anotherFileStart(EvidenceReader& evidence, std::uint64_t from, std::uint64_t at) {
    constexpr std::uint64_t maxBack = 16;
    const std::uint64_t sector = limits::sectorSize;
    std::uint64_t found = at;
    for (std::uint64_t s = at / sector * sector, n = 0; s >= from && n <= maxBack; s -= sector, ++n) {
        unsigned char head[16] = {};
        evidence.readAt(static_cast<std::int64_t>(s), head, sizeof head);
        if (startsAFile(head)) {
            found = s;
        }
        if (s < sector) {
            break;
        }
    }
    return found;
}

// The marker at `at` (after any fill bytes) is EOI.
bool endsImage(EvidenceReader& evidence, std::uint64_t at, std::uint64_t size) {
    if (evidence.u8(static_cast<std::int64_t>(at)) != 0xFF) {
        return false;
    }
    std::uint64_t code = at + 1;
    while (code < size && evidence.u8(static_cast<std::int64_t>(code)) == 0xFF) {
        ++code;
    }
    return code < size && evidence.u8(static_cast<std::int64_t>(code)) == 0xD9;
}

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
    // A baseline picture's scans are decoded with the tables its segments define (and those of
    // Annex K where a Motion JPEG frame defines none); any other is walked by its markers alone.
    jpeg::Scan tables;
    jpeg::Frame frame;
    bool decodable = false;
    bool tablesSound = true;
    ScanDecoder decoder(evidence, size);
    std::vector<unsigned char> body;
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
            decodable = (code == 0xC0 || code == 0xC1) && jpeg::readFrame(frame, code, head + 2, length - 2);
        }
        if (code == 0xC4) {
            body.resize(length - 2);
            evidence.readAt(static_cast<std::int64_t>(codeAt + 3), body.data(), body.size());
            tablesSound = tablesSound && jpeg::defineTables(tables, body.data(), body.size());
        }
        if (code == 0xDD && length >= 4) {
            tables.restartInterval = be16(head + 2);
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
            decodable = decodable && tablesSound;
            if (decodable) {
                for (unsigned id = 0; id < 4; ++id) {
                    for (const bool ac : {false, true}) {
                        jpeg::Huffman& t = ac ? tables.acTables[id] : tables.dcTables[id];
                        if (!t.defined) {
                            jpeg::defineStandardTable(t, ac, id);
                        }
                    }
                }
                decodable = jpeg::setScan(tables, frame, head + 2, length - 2);
            }
            if (decodable) {
                // The first decodedBytes of the data are decoded; past them the markers are
                // walked, and only a sign of a break sends the decode on from where it paused.
                std::uint64_t at = 0;
                ScanDecoder::Outcome outcome = decoder.run(tables, end, end + decodedBytes, at);
                if (outcome == ScanDecoder::Outcome::Paused) {
                    bool suspect = false;
                    const std::uint64_t stop =
                        block.screenScanData(at, tables.restartInterval != 0, decoder.nextRestart(), suspect);
                    if (stop >= size && !suspect) {
                        return Extent::found(size - start, true);
                    }
                    if (!suspect && endsImage(evidence, stop, size)) {
                        sound = stop;
                        continue;
                    }
                    outcome = decoder.resume(UINT64_MAX, at);
                }
                // Data that ran on into a run of one byte (zeros where a file system left them)
                // broke where the run began, however long a decode read it as blocks.
                // So did data where another file begins, however far a decode read it.
                const std::uint64_t sector = limits::sectorSize;
                const std::uint64_t run =
                    std::min(constantRunStart(evidence, at, end), anotherFileStart(evidence, end, at));
                switch (outcome) {
                case ScanDecoder::Outcome::Whole:
                case ScanDecoder::Outcome::Paused:
                    if (evidence.u8(static_cast<std::int64_t>(at)) != 0xFF && run < at) {
                        return Extent::found(run - start, true);
                    }
                    sound = at;
                    continue;
                case ScanDecoder::Outcome::Cut:
                    return Extent::found((run < at ? run : size) - start, true);
                case ScanDecoder::Outcome::Broken: {
                    // A file system breaks a file at a sector boundary: the file ends at the last
                    // one before the decode failed (or its last restart marker in sequence after
                    // that), never before its scan's data begins.
                    const std::uint64_t proven =
                        std::max({std::min(at / sector * sector, run), decoder.restartEnd(), end});
                    return Extent::found(std::min(proven, at) - start, true);
                }
                }
            }
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
