// ASF's (WMV's) proof of a join: the header object gives the file's size, its count of data
// packets and their one fixed size, so every packet's offset is known. Each packet read through
// the layout must parse: its error-correction and length-type flags, its payloads' headers and
// lengths filling the packet exactly with its padding (zeros, as writers pad), send times that
// never go back. The data object's header repeats the file id and the packet count, and the
// objects after the packets (the indexes) must end exactly at the file's size.
#include "formats/AsfPackets.h"
#include "formats/FragmentJoin.h"
#include "formats/SplitSearch.h"
#include "formats/ThreePieces.h"

namespace morrow {

namespace {

using splitsearch::Verdict;

using asf::Bytes;
using asf::dataHeader;
using asf::dataId;

Verdict check(EvidenceReader& evidence, const PieceLayout& layout, std::uint64_t from) {
    Bytes bytes(evidence, layout);
    std::uint64_t failAt = 0;
    const auto h = asf::header(bytes, failAt);
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
        if (!asf::packet(bytes, at, h->packetSize, sendTime, failAt)) {
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
    const auto h = asf::header(first, failAt);
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
            memo = asf::packet(bytes, at, h->packetSize, sendTime, where);
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
            firstFail = asf::packet(bytes, at, h->packetSize, sendTime, where) ? ~std::uint64_t{0} : where;
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
