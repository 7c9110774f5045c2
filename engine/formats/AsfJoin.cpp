// ASF's (WMV's) proof of a join: the header object gives the file's size, its count of data
// packets and their one fixed size, so every packet's offset is known. Each packet read through
// the layout must parse: its error-correction and length-type flags, its payloads' headers and
// lengths filling the packet exactly with its padding (zeros, as writers pad), send times that
// never go back. The data object's header repeats the file id and the packet count, and the
// objects after the packets (the indexes) must end exactly at the file's size.
#include "formats/FragmentJoin.h"
#include "formats/SplitSearch.h"
#include "formats/ThreePieces.h"

namespace morrow {

namespace {

using splitsearch::Verdict;

// Where a check fails: the byte at which a structure was found not to stand (the last byte of a
// small one), so that the split lies at or before that byte's sector.

constexpr unsigned char headerId[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                        0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr unsigned char dataId[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr unsigned char filePropertiesId[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr std::uint64_t dataHeader = 50;
constexpr std::uint64_t maxPacket = std::uint64_t{1} << 20;
constexpr std::uint32_t maxPackets = std::uint32_t{1} << 24;

// The file's bytes through a layout, a small field at a time.
class Bytes {
  public:
    Bytes(EvidenceReader& evidence, const PieceLayout& layout) : evidence_(evidence), layout_(layout) {}
    void read(std::uint64_t at, unsigned char* out, std::size_t n) { layout_.read(evidence_, at, out, n); }
    // A field of 0, 1, 2 or 4 bytes as a length type gives it.
    std::uint32_t field(std::uint64_t& at, unsigned type) {
        const std::size_t n = type == 3 ? 4 : type;
        unsigned char b[4] = {};
        read(at, b, n);
        at += n;
        return le32(b);
    }
    std::uint8_t byte(std::uint64_t at) {
        unsigned char b = 0;
        read(at, &b, 1);
        return b;
    }

  private:
    EvidenceReader& evidence_;
    const PieceLayout& layout_;
};

struct Header {
    std::uint64_t headerSize = 0;
    std::uint64_t fileSize = 0;
    std::uint32_t packets = 0;
    std::uint32_t packetSize = 0;
    unsigned char fileId[16] = {};
};

// The header object and its File Properties object; the failing offset when they do not stand.
std::optional<Header> header(Bytes& bytes, std::uint64_t& failAt) {
    unsigned char head[30] = {};
    bytes.read(0, head, sizeof head);
    Header h;
    h.headerSize = le64(head + 16);
    failAt = 0;
    if (std::memcmp(head, headerId, 16) != 0 || h.headerSize < 30 || h.headerSize > maxPacket) {
        return std::nullopt;
    }
    bool properties = false;
    std::uint64_t at = 30;
    for (std::uint32_t i = 0; i < le32(head + 24) && at < h.headerSize; ++i) {
        unsigned char object[104] = {};
        bytes.read(at, object, 24);
        const std::uint64_t size = le64(object + 16);
        failAt = at;
        if (size < 24 || size > h.headerSize - at) {
            return std::nullopt;
        }
        if (std::memcmp(object, filePropertiesId, 16) == 0 && size >= 104) {
            bytes.read(at, object, sizeof object);
            std::memcpy(h.fileId, object + 24, 16);
            h.fileSize = le64(object + 40);
            const std::uint64_t packets = le64(object + 56);
            const std::uint32_t minSize = le32(object + 92);
            h.packetSize = le32(object + 96);
            // A broadcast file's sizes are not yet known; one of varying packet sizes has no offsets.
            if ((object[88] & 1) != 0 || minSize != h.packetSize || h.packetSize < 24 ||
                h.packetSize > maxPacket || packets == 0 || packets > maxPackets) {
                return std::nullopt;
            }
            h.packets = static_cast<std::uint32_t>(packets);
            properties = true;
        }
        at += size;
    }
    failAt = at;
    if (!properties || at != h.headerSize ||
        h.fileSize < h.headerSize + dataHeader + std::uint64_t{h.packets} * h.packetSize) {
        return std::nullopt;
    }
    return h;
}

// One data packet of `size` bytes at `at`; its send time must not go back from `sendTime`. False
// with `failAt` the byte at which it failed.
bool packet(Bytes& bytes, std::uint64_t at, std::uint32_t size, std::uint32_t& sendTime,
            std::uint64_t& failAt) {
    const std::uint64_t end = at + size;
    std::uint64_t p = at;
    auto fail = [&failAt](std::uint64_t where) {
        failAt = where;
        return false;
    };
    unsigned flags = bytes.byte(p++);
    if ((flags & 0x80) != 0) {
        // Error-correction data: its length in the low bits, of type 00, no length-type field.
        if ((flags & 0x70) != 0 || (flags & 0x0F) == 0) {
            return fail(at);
        }
        p += flags & 0x0F;
        flags = bytes.byte(p++);
        if ((flags & 0x80) != 0) {
            return fail(p - 1);
        }
    }
    const bool multiple = (flags & 1) != 0;
    const unsigned property = bytes.byte(p++);
    if (((property >> 6) & 3) != 1) {
        return fail(p - 1);
    }
    std::uint64_t length = bytes.field(p, (flags >> 5) & 3);
    if (((flags >> 5) & 3) == 0) {
        length = size;
    }
    bytes.field(p, (flags >> 1) & 3); // sequence
    const std::uint32_t padding = bytes.field(p, (flags >> 3) & 3);
    unsigned char times[6] = {};
    bytes.read(p, times, sizeof times);
    p += sizeof times;
    const std::uint32_t time = le32(times);
    if (length > size || length < p - at || padding > length || time < sendTime) {
        return fail(p - 1);
    }
    sendTime = time;
    const std::uint64_t payloadsEnd = at + length - padding;
    unsigned payloads = 1;
    unsigned payloadLengthType = 0;
    if (multiple) {
        const unsigned payloadFlags = bytes.byte(p++);
        payloads = payloadFlags & 0x3F;
        payloadLengthType = payloadFlags >> 6;
        if (payloads == 0 || payloadLengthType == 0) {
            return fail(p - 1);
        }
    }
    for (unsigned i = 0; i < payloads; ++i) {
        if (p >= payloadsEnd || (bytes.byte(p++) & 0x7F) == 0) { // stream number
            return fail(p - 1);
        }
        bytes.field(p, (property >> 4) & 3); // media object number
        bytes.field(p, (property >> 2) & 3); // offset into it, or the presentation time
        const std::uint32_t replicated = bytes.field(p, property & 3);
        if (replicated != 0 && replicated < 8 && replicated != 1) {
            return fail(p - 1);
        }
        p += replicated;
        if (replicated == 1) {
            ++p; // the presentation time delta: sub-payloads follow
        }
        std::uint64_t data = multiple ? bytes.field(p, payloadLengthType) : 0;
        if (!multiple) {
            if (p > payloadsEnd) {
                return fail(std::min(p, end) - 1);
            }
            data = payloadsEnd - p;
        }
        if (data == 0 || p + data > payloadsEnd) {
            return fail(std::min(p, end) - 1);
        }
        if (replicated == 1) {
            // Compressed payload: sub-payloads of a length byte and data, filling it exactly.
            std::uint64_t q = p;
            while (q < p + data) {
                q += 1 + std::uint64_t{bytes.byte(q)};
            }
            if (q != p + data) {
                return fail(p + data - 1);
            }
        }
        p += data;
    }
    if (p != payloadsEnd) {
        return fail(std::min(p, end) - 1);
    }
    // The padding, zeros: the first byte that is not tells where it fails.
    unsigned char block[64];
    for (std::uint64_t q = payloadsEnd; q < end; q += sizeof block) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof block, end - q));
        bytes.read(q, block, n);
        for (std::size_t i = 0; i < n; ++i) {
            if (block[i] != 0) {
                return fail(q + i);
            }
        }
    }
    return true;
}

Verdict check(EvidenceReader& evidence, const PieceLayout& layout, std::uint64_t from) {
    Bytes bytes(evidence, layout);
    std::uint64_t failAt = 0;
    const auto h = header(bytes, failAt);
    if (!h) {
        return Verdict::fail(failAt);
    }
    unsigned char data[dataHeader] = {};
    bytes.read(h->headerSize, data, sizeof data);
    const std::uint64_t dataSize = dataHeader + std::uint64_t{h->packets} * h->packetSize;
    if (std::memcmp(data, dataId, 16) != 0 || le64(data + 16) != dataSize ||
        std::memcmp(data + 24, h->fileId, 16) != 0 || le64(data + 40) != h->packets) {
        return Verdict::fail(h->headerSize + dataHeader - 1);
    }
    const std::uint64_t packets = h->headerSize + dataHeader;
    std::uint32_t k = 0;
    // Packets wholly before `from` stood as the file lies: the one before the first read gives
    // the send time to go on from.
    if (from > packets + h->packetSize) {
        k = static_cast<std::uint32_t>(std::min<std::uint64_t>((from - packets) / h->packetSize, h->packets) -
                                       1);
    }
    std::uint32_t sendTime = 0;
    for (; k < h->packets; ++k) {
        const std::uint64_t at = packets + std::uint64_t{k} * h->packetSize;
        if (!packet(bytes, at, h->packetSize, sendTime, failAt)) {
            return Verdict::fail(failAt);
        }
    }
    // The objects after the packets, to the file's end.
    std::uint64_t at = h->headerSize + dataSize;
    while (at < h->fileSize) {
        unsigned char object[24] = {};
        bytes.read(at, object, sizeof object);
        const std::uint64_t size = le64(object + 16);
        if (size < 24 || size > h->fileSize - at) {
            return Verdict::fail(std::min(at + 23, h->fileSize - 1));
        }
        at += size;
    }
    return Verdict::pass(h->fileSize);
}

} // namespace

std::optional<std::vector<Piece>> FragmentJoin::asf(EvidenceReader& evidence, std::int64_t H,
                                                    const ClusterClaims& claims, JoinBudget& budget) {
    std::uint64_t failAt = 0;
    PieceLayout asItLies{static_cast<std::uint64_t>(std::max<std::int64_t>(H, 0)), ~std::uint64_t{0}, 0};
    Bytes first(evidence, asItLies);
    const auto h = header(first, failAt);
    if (H < 0 || !h) {
        return std::nullopt;
    }
    const std::uint64_t packets = h->headerSize + dataHeader;
    const std::uint64_t trailer = packets + std::uint64_t{h->packets} * h->packetSize;
    // Past a split, the first packet that starts there must parse past the gap (or, in the last
    // packet, the first object after them must stand); for the splits that share it, once a gap.
    // For a third piece, past the second split and its gap.
    std::uint64_t memoGap = 0;
    std::uint64_t memoAt = 0;
    bool memo = false;
    auto quick = [&](const PieceLayout& layout) {
        const bool third = layout.split2 != ~std::uint64_t{0};
        const std::uint64_t split = third ? layout.split2 : layout.split;
        const std::uint64_t gap = third ? layout.gap2 : layout.gap;
        const std::uint64_t k = split <= packets ? 0 : (split - packets + h->packetSize - 1) / h->packetSize;
        const std::uint64_t at = k < h->packets ? packets + k * h->packetSize : trailer;
        if (at >= h->fileSize) {
            return true;
        }
        if (memoGap == gap && memoAt == at) {
            return memo;
        }
        Bytes bytes(evidence, layout);
        std::uint32_t sendTime = 0;
        std::uint64_t where = 0;
        memoGap = gap;
        memoAt = at;
        if (at < trailer) {
            memo = packet(bytes, at, h->packetSize, sendTime, where);
        } else {
            unsigned char object[24] = {};
            bytes.read(at, object, sizeof object);
            memo = le64(object + 16) >= 24 && le64(object + 16) <= h->fileSize - at;
        }
        return memo;
    };
    auto checkOne = [&](const PieceLayout& layout, std::uint64_t from) {
        return check(evidence, layout, from);
    };
    if (auto pieces = splitsearch::search(evidence, H, claims, budget, 4096,
                                          h->packetSize / limits::sectorSize + 2, checkOne, quick)) {
        return pieces;
    }
    // A second piece whose next packet lies in the third: the packet the split runs through (or
    // the first past it) must stand a sector past the split before it fails, if it does.
    std::uint64_t firstGap = 0;
    std::uint64_t firstAt = 0;
    std::uint64_t firstFail = 0;
    auto quickFirst = [&](const PieceLayout& layout) {
        if (layout.split >= trailer) {
            return quick(layout);
        }
        const std::uint64_t at =
            packets + (layout.split < packets ? 0 : (layout.split - packets) / h->packetSize * h->packetSize);
        if (firstGap != layout.gap || firstAt != at) {
            Bytes bytes(evidence, layout);
            std::uint32_t sendTime = 0;
            std::uint64_t where = 0;
            firstGap = layout.gap;
            firstAt = at;
            firstFail = packet(bytes, at, h->packetSize, sendTime, where) ? ~std::uint64_t{0} : where;
        }
        return firstFail >= layout.split + limits::sectorSize;
    };
    return splitsearch::searchThree(evidence, H, claims, budget, 4096, h->packetSize / limits::sectorSize + 2,
                                    checkOne, quickFirst, quick, [&](const PieceLayout&, const Verdict&) {
                                        memoGap = 0;
                                        memoAt = 0;
                                        return true;
                                    });
}

} // namespace morrow
