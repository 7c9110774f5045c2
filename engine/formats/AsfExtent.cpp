// ASF (Advanced Systems Format): top-level objects, each a GUID and a 64-bit little-endian size
// that counts its own 24-byte header: the header object, the data object (50 bytes of header: its
// GUID, size, the file id, the packet count, then the packets), then the index objects. The
// Simple Index object: GUID, size, file id, the time between entries (8 bytes), the most packets
// an entry spans (4), the entry count (4), then 6 bytes an entry: a packet number (4) and a packet
// count (2).
#include "formats/AsfExtent.h"

#include "formats/AsfPackets.h"
#include "formats/ExactEnds.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace morrow {

namespace {

constexpr unsigned char simpleIndexId[16] = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                                             0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
// The index objects that may follow the data object: Simple Index, Index, Media Object Index,
// Timecode Index.
constexpr unsigned char indexIds[4][16] = {
    {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB},
    {0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11, 0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE},
    {0xF8, 0x03, 0xB1, 0xFE, 0xAD, 0x12, 0x64, 0x4C, 0x84, 0x0F, 0x2A, 0x1D, 0x2F, 0x7A, 0xD4, 0x8C},
    {0xD0, 0x3F, 0xB7, 0x3C, 0x4A, 0x0C, 0x03, 0x48, 0x95, 0x3D, 0xED, 0xF7, 0xB6, 0x22, 0x8F, 0x0C}};
constexpr std::uint64_t simpleIndexHeader = 56;
constexpr std::uint64_t simpleIndexEntry = 6;

// The packets' bytes are read a block at a time (no more than the walk may read: a start that is
// no file costs no more than the bytes it stands on).
constexpr std::uint64_t readBlock = std::uint64_t{256} << 10;

bool indexObject(const unsigned char* guid) {
    return std::any_of(std::begin(indexIds), std::end(indexIds),
                       [guid](const unsigned char(&id)[16]) { return std::memcmp(guid, id, 16) == 0; });
}

class Walk {
  public:
    Walk(EvidenceReader& evidence, std::int64_t H, std::uint64_t avail)
        : asItLies_{static_cast<std::uint64_t>(H), ~std::uint64_t{0}, 0},
          bytes_(evidence, asItLies_, static_cast<std::size_t>(std::min(readBlock, avail))), avail_(avail) {}

    // The packets that stood: [packets, packets + sound * packetSize).
    std::uint64_t packets = 0;
    std::uint64_t sound = 0;
    std::uint32_t packetSize = 0;

    Extent run() {
        std::uint64_t failAt = 0;
        const auto h = asf::header(bytes_, failAt, true);
        if (!h || h->headerSize > avail_ || avail_ - h->headerSize < asf::dataHeader) {
            return Extent::rejected("no ASF header");
        }
        unsigned char data[asf::dataHeader] = {};
        bytes_.read(h->headerSize, data, sizeof data);
        if (std::memcmp(data, asf::dataId, 16) != 0 || std::memcmp(data + 24, h->fileId, 16) != 0) {
            return Extent::rejected("no data object after the ASF header");
        }
        packetSize = h->packetSize;
        packets = h->headerSize + asf::dataHeader;
        // The count, where the header and the data object agree on it; else as far as they parse.
        const bool counted = h->packets != 0 && le64(data + 40) == h->packets &&
                             le64(data + 16) == asf::dataHeader + std::uint64_t{h->packets} * packetSize;
        std::uint32_t sendTime = 0;
        bool broken = false;
        std::uint64_t k = 0;
        for (; !counted || k < h->packets; ++k) {
            const std::uint64_t at = packets + k * packetSize;
            if (at > avail_ || avail_ - at < packetSize) {
                break; // the evidence ends
            }
            if (!asf::packet(bytes_, at, packetSize, sendTime, failAt)) {
                broken = !startsIndex(at) || counted;
                break;
            }
        }
        // A packet that parses before one that does not may be one cut short.
        sound = broken && k > 0 ? k - 1 : k;
        if (sound == 0) {
            return Extent::rejected("no sound data packet");
        }
        std::uint64_t at = packets + sound * packetSize;
        if (broken || (counted && sound < h->packets)) {
            return Extent::found(at, true);
        }
        // The index objects, to the file's size where it is known.
        const bool sized = counted && h->fileSize >= at;
        const std::uint64_t end = sized ? h->fileSize : ~std::uint64_t{0};
        while (at < end && at <= avail_ && avail_ - at >= 24) {
            unsigned char object[24] = {};
            bytes_.read(at, object, sizeof object);
            const std::uint64_t size = le64(object + 16);
            if (!indexObject(object) || size < 24 || size > end - at || size > avail_ - at ||
                (std::memcmp(object, simpleIndexId, 16) == 0 && !simpleIndex(at, size, *h, counted))) {
                break;
            }
            at += size;
        }
        return Extent::found(at, !counted || (sized && at != end));
    }

  private:
    bool startsIndex(std::uint64_t at) {
        unsigned char guid[16] = {};
        bytes_.read(at, guid, sizeof guid);
        return indexObject(guid);
    }

    // Its size holds its entries exactly, and each names a packet the file has.
    bool simpleIndex(std::uint64_t at, std::uint64_t size, const asf::Header& h, bool counted) {
        unsigned char head[simpleIndexHeader] = {};
        bytes_.read(at, head, sizeof head);
        const std::uint64_t entries = le32(head + 52);
        if (size < simpleIndexHeader || size - simpleIndexHeader != entries * simpleIndexEntry ||
            std::memcmp(head + 24, h.fileId, 16) != 0) {
            return false;
        }
        if (!counted || entries > AsfExtent::maxIndexEntries) {
            return true;
        }
        unsigned char block[simpleIndexEntry * 1024];
        for (std::uint64_t e = 0; e < entries; e += 1024) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(1024, entries - e));
            bytes_.read(at + simpleIndexHeader + e * simpleIndexEntry, block, n * simpleIndexEntry);
            for (std::size_t i = 0; i < n; ++i) {
                if (le32(block + i * simpleIndexEntry) >= h.packets) {
                    return false;
                }
            }
        }
        return true;
    }

    const PieceLayout asItLies_;
    asf::Bytes bytes_;
    std::uint64_t avail_;
};

std::uint64_t available(EvidenceReader& evidence, std::int64_t H) {
    return H < 0 || static_cast<std::uint64_t>(H) >= evidence.size()
               ? 0
               : evidence.size() - static_cast<std::uint64_t>(H);
}

} // namespace

Extent AsfExtent::measure(EvidenceReader& evidence, std::int64_t H) {
    const std::uint64_t avail = available(evidence, H);
    if (avail == 0) {
        return Extent::rejected("outside the evidence");
    }
    return Walk(evidence, H, avail).run();
}

void AsfExtent::parts(EvidenceReader& evidence, std::int64_t H, std::uint64_t length,
                      std::vector<Part>& parts) {
    Walk walk(evidence, H, std::min(length, available(evidence, H)));
    if (walk.run() && walk.sound != 0 && walk.packets < length) {
        parts.push_back(Part{walk.packets, std::min(walk.sound * walk.packetSize, length - walk.packets)});
    }
}

} // namespace morrow
