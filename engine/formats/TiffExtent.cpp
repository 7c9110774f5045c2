// TIFF Revision 6.0 (Adobe, 1992), section 2 "TIFF Structure", with the pointer tags of TIFF
// Technical Note 1 (SubIFDs) and of Exif 2.3 (CIPA DC-008-2012) 4.6.3 (Exif, GPS and
// Interoperability IFDs), which TIFF/EP files use as well; BigTIFF as Aware Systems describe it
// (TIFF 6.0 with 64-bit counts and offsets).
//
// The image file header, classic TIFF (8 bytes):
//   offset 0  byte order   2 bytes, "II" (little-endian) or "MM" (big-endian)
//   offset 2  magic        2 bytes, 42
//   offset 4  first IFD    4 bytes, its offset from the header's first byte
// BigTIFF (16 bytes): magic 43, then the size of an offset (2 bytes, always 8), 2 bytes of 0 and
// the first IFD's offset in 8 bytes.
//
// An IFD: the number of entries (2 bytes; BigTIFF 8), the entries (12 bytes each; BigTIFF 20), the
// offset of the next IFD (4 bytes; BigTIFF 8; 0 ends the chain). An entry: tag (2 bytes), field
// type (2), count of values (4; BigTIFF 8), then the values themselves when count x type size fits
// in 4 bytes (BigTIFF 8), else the offset of the values. Every offset counts from the header.
#include "formats/TiffExtent.h"

#include "formats/ExactEnds.h"

#include "evidence/EvidenceReader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <set>
#include <vector>

namespace morrow {

namespace {

constexpr std::uint16_t tagJpegInterchangeFormat = 513;
constexpr std::uint16_t tagJpegInterchangeFormatLength = 514;
constexpr std::uint16_t tagStripOffsets = 273;
constexpr std::uint16_t tagStripByteCounts = 279;
constexpr std::uint16_t tagTileOffsets = 324;
constexpr std::uint16_t tagTileByteCounts = 325;
constexpr std::uint16_t tagSubIfds = 330;
constexpr std::uint16_t tagExifIfd = 34665;
constexpr std::uint16_t tagGpsIfd = 34853;
constexpr std::uint16_t tagInteroperabilityIfd = 40965;

// Bytes per value of a field type; 0 for a type this reader does not know, which a TIFF reader
// skips (TIFF 6.0 asks it to), so such entries reference nothing here either.
std::uint64_t typeSize(std::uint16_t type) {
    switch (type) {
    case 1: // BYTE
    case 2: // ASCII
    case 6: // SBYTE
    case 7: // UNDEFINED
        return 1;
    case 3: // SHORT
    case 8: // SSHORT
        return 2;
    case 4:  // LONG
    case 9:  // SLONG
    case 11: // FLOAT
    case 13: // IFD
        return 4;
    case 5:  // RATIONAL
    case 10: // SRATIONAL
    case 12: // DOUBLE
    case 16: // LONG8
    case 17: // SLONG8
    case 18: // IFD8
        return 8;
    default:
        return 0;
    }
}

// Offsets and byte counts are SHORT, LONG or LONG8; IFD pointers LONG, IFD, LONG8 or IFD8.
bool unsignedIntegerType(std::uint16_t type) {
    return type == 3 || type == 4 || type == 13 || type == 16 || type == 18;
}

struct Field {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint64_t count = 0;
    // The entry's value field as stored: the values, or their offset.
    std::array<unsigned char, 8> value{};
    bool present = false;
};

class Walk {
  public:
    Walk(EvidenceReader& evidence, std::int64_t H, bool little, bool big, std::vector<Part>* parts)
        : evidence_(evidence), H_(H), little_(little), big_(big),
          avail_(evidence.size() - static_cast<std::uint64_t>(H)), parts_(parts) {}

    Extent run(std::uint64_t firstIfd);

  private:
    enum class Ifd { Sound, Outside, Cut, NoIfd };

    std::uint64_t get(const unsigned char* p, unsigned bytes) const;
    unsigned countSize() const { return big_ ? 8 : 2; }
    unsigned entrySize() const { return big_ ? 20 : 12; }
    unsigned offsetSize() const { return big_ ? 8 : 4; }
    std::uint64_t headerSize() const { return big_ ? 16 : 8; }

    Ifd read(std::uint64_t offset);
    void walk(std::uint64_t offset);
    void reach(std::uint64_t offset, std::uint64_t length);
    void push(std::uint64_t offset);
    void pushAll(const Field& pointers);
    void reachPairs(const Field& offsets, const Field& counts);

    // Reads the values of an unsigned integer field in order, a block at a time: from the entry
    // itself when they fit there, else from the offset it holds. Yields only values that lie in
    // the evidence, and no more than maxArrayValues.
    class Values {
      public:
        Values(Walk& owner, const Field& field);
        std::uint64_t available() const { return available_; }
        std::uint64_t next();

      private:
        Walk& walk_;
        std::uint64_t size_ = 0;
        std::uint64_t offset_ = 0; // of the values, from the header
        std::uint64_t available_ = 0;
        std::uint64_t index_ = 0;
        std::uint64_t blockFirst_ = 0;
        std::uint64_t blockCount_ = 0;
        std::array<unsigned char, 4096> block_{};
    };

    EvidenceReader& evidence_;
    const std::int64_t H_;
    const bool little_;
    const bool big_;
    const std::uint64_t avail_; // evidence bytes from the header on
    std::uint64_t end_ = 0;
    bool truncated_ = false;
    std::vector<unsigned char> ifd_; // the IFD being walked
    std::uint64_t entries_ = 0;      // of the IFD in ifd_
    std::uint64_t entriesVisited_ = 0;
    std::vector<std::uint64_t> pending_;
    std::set<std::uint64_t> visited_;
    std::vector<Part>* parts_; // the strips, tiles and thumbnails, when asked for
};

std::uint64_t Walk::get(const unsigned char* p, unsigned bytes) const {
    switch (bytes) {
    case 2:
        return little_ ? le16(p) : be16(p);
    case 4:
        return little_ ? le32(p) : be32(p);
    default:
        return little_ ? le64(p) : be64(p);
    }
}

// The bytes [offset, offset + length) from the header belong to the file. What lies past the end
// of the evidence cannot be carved: a reference that starts there only marks the file truncated,
// one that runs over the end takes the file to the end of the evidence.
void Walk::reach(std::uint64_t offset, std::uint64_t length) {
    if (length == 0) {
        return; // an empty strip may hold any offset
    }
    if (offset >= avail_) {
        truncated_ = true;
        return;
    }
    if (length > avail_ - offset) {
        truncated_ = true;
        end_ = avail_;
        return;
    }
    end_ = std::max(end_, offset + length);
}

void Walk::push(std::uint64_t offset) {
    if (offset == 0) {
        return;
    }
    if (pending_.size() >= TiffExtent::maxIfds) {
        truncated_ = true;
        return;
    }
    pending_.push_back(offset);
}

Walk::Ifd Walk::read(std::uint64_t offset) {
    if (offset < headerSize() || offset >= avail_) {
        return Ifd::Outside;
    }
    unsigned char head[8] = {};
    evidence_.readAt(H_ + static_cast<std::int64_t>(offset), head, countSize());
    entries_ = get(head, countSize());
    if (entries_ == 0 || entries_ > TiffExtent::maxEntries) {
        return Ifd::NoIfd;
    }
    // Within the evidence the entries are judged as far as they go: an IFD cut by the end of the
    // evidence must still look like one before it may take the file to that end.
    const std::uint64_t size = countSize() + entries_ * entrySize() + offsetSize();
    const std::uint64_t room = avail_ - offset; // > 0
    const bool cut = size > room;
    std::uint64_t whole = entries_;
    if (cut) {
        whole = room < countSize() ? 0 : std::min(entries_, (room - countSize()) / entrySize());
    }
    ifd_.assign(cut ? countSize() + whole * entrySize() : size, 0);
    evidence_.readAt(H_ + static_cast<std::int64_t>(offset), ifd_.data(), ifd_.size());
    // Garbage that happens to hold a small count reads as entries of unknown types.
    std::uint64_t unknown = 0;
    for (std::uint64_t i = 0; i < whole; ++i) {
        const unsigned char* e = ifd_.data() + countSize() + i * entrySize();
        if (typeSize(static_cast<std::uint16_t>(get(e + 2, 2))) == 0) {
            ++unknown;
        }
    }
    if (unknown * 2 > whole) {
        return Ifd::NoIfd;
    }
    return cut ? Ifd::Cut : Ifd::Sound;
}

// Takes what the IFD read last (in ifd_, at `offset`) references, and queues the IFDs it points to.
void Walk::walk(std::uint64_t offset) {
    reach(offset, ifd_.size());
    entriesVisited_ += entries_;

    Field stripOffsets, stripCounts, tileOffsets, tileCounts, thumbnail, thumbnailLength;
    const unsigned valueSize = offsetSize();
    for (std::uint64_t i = 0; i < entries_; ++i) {
        const unsigned char* e = ifd_.data() + countSize() + i * entrySize();
        Field f;
        f.tag = static_cast<std::uint16_t>(get(e, 2));
        f.type = static_cast<std::uint16_t>(get(e + 2, 2));
        f.count = get(e + 4, big_ ? 8 : 4);
        std::memcpy(f.value.data(), e + (big_ ? 12 : 8), valueSize);
        f.present = true;

        const std::uint64_t size = typeSize(f.type);
        if (size == 0) {
            continue;
        }
        if (f.count > std::numeric_limits<std::uint64_t>::max() / size) {
            truncated_ = true; // no file holds that many values; the entry is damaged
            continue;
        }
        if (f.count * size > valueSize) {
            reach(get(f.value.data(), valueSize), f.count * size);
        }
        switch (f.tag) {
        case tagStripOffsets:
            stripOffsets = f;
            break;
        case tagStripByteCounts:
            stripCounts = f;
            break;
        case tagTileOffsets:
            tileOffsets = f;
            break;
        case tagTileByteCounts:
            tileCounts = f;
            break;
        case tagJpegInterchangeFormat:
            thumbnail = f;
            break;
        case tagJpegInterchangeFormatLength:
            thumbnailLength = f;
            break;
        case tagSubIfds:
        case tagExifIfd:
        case tagGpsIfd:
        case tagInteroperabilityIfd:
            pushAll(f);
            break;
        default:
            break;
        }
    }
    reachPairs(stripOffsets, stripCounts);
    reachPairs(tileOffsets, tileCounts);
    reachPairs(thumbnail, thumbnailLength);

    push(get(ifd_.data() + countSize() + entries_ * entrySize(), offsetSize()));
}

void Walk::pushAll(const Field& pointers) {
    if (!unsignedIntegerType(pointers.type)) {
        return;
    }
    Values values(*this, pointers);
    for (std::uint64_t i = 0; i < values.available() && pending_.size() < TiffExtent::maxIfds; ++i) {
        push(values.next());
    }
}

// Offsets and byte counts pair up value by value (the two arrays have one value per strip).
void Walk::reachPairs(const Field& offsets, const Field& counts) {
    if (!offsets.present || !counts.present || !unsignedIntegerType(offsets.type) ||
        !unsignedIntegerType(counts.type)) {
        return;
    }
    Values starts(*this, offsets);
    Values lengths(*this, counts);
    const std::uint64_t n = std::min(starts.available(), lengths.available());
    for (std::uint64_t i = 0; i < n; ++i) {
        const std::uint64_t start = starts.next();
        const std::uint64_t length = lengths.next();
        reach(start, length);
        if (parts_ != nullptr && length > 0 && start < avail_ && parts_->size() < maxParts) {
            parts_->push_back(Part{start, std::min(length, avail_ - start)});
        }
    }
}

Walk::Values::Values(Walk& owner, const Field& field) : walk_(owner), size_(typeSize(field.type)) {
    const unsigned valueSize = owner.offsetSize();
    std::uint64_t count = field.count;
    if (count > TiffExtent::maxArrayValues) {
        owner.truncated_ = true; // not all of them are looked at
        count = TiffExtent::maxArrayValues;
    }
    if (count * size_ <= valueSize) {
        std::memcpy(block_.data(), field.value.data(), valueSize);
        available_ = count;
        blockCount_ = count;
        return;
    }
    offset_ = owner.get(field.value.data(), valueSize);
    if (offset_ < owner.avail_) {
        available_ = std::min(count, (owner.avail_ - offset_) / size_);
    }
}

std::uint64_t Walk::Values::next() {
    if (index_ >= available_) {
        return 0;
    }
    if (index_ >= blockFirst_ + blockCount_) {
        blockFirst_ = index_;
        blockCount_ = std::min<std::uint64_t>(available_ - index_, block_.size() / size_);
        walk_.evidence_.readAt(walk_.H_ + static_cast<std::int64_t>(offset_ + index_ * size_), block_.data(),
                               static_cast<std::size_t>(blockCount_ * size_));
    }
    const unsigned char* p = block_.data() + (index_ - blockFirst_) * size_;
    ++index_;
    return walk_.get(p, static_cast<unsigned>(size_));
}

Extent Walk::run(std::uint64_t firstIfd) {
    switch (read(firstIfd)) {
    case Ifd::Outside:
        return Extent::rejected("first IFD outside the evidence");
    case Ifd::Cut:
        return Extent::rejected("first IFD cut off by the end of the evidence");
    case Ifd::NoIfd:
        return Extent::rejected("first IFD is no IFD");
    case Ifd::Sound:
        break;
    }
    end_ = headerSize();
    visited_.insert(firstIfd);
    walk(firstIfd);

    while (!pending_.empty()) {
        const std::uint64_t offset = pending_.back();
        pending_.pop_back();
        if (visited_.count(offset) != 0) {
            continue; // a loop: the IFD has been walked
        }
        if (visited_.size() >= TiffExtent::maxIfds || entriesVisited_ >= TiffExtent::maxEntriesVisited) {
            truncated_ = true;
            break;
        }
        visited_.insert(offset);
        switch (read(offset)) {
        case Ifd::Sound:
            walk(offset);
            break;
        case Ifd::Cut:
            reach(offset, avail_ - offset + 1); // to the end of the evidence, truncated
            break;
        case Ifd::Outside:
        case Ifd::NoIfd:
            truncated_ = true;
            break;
        }
    }
    return Extent::found(end_, truncated_);
}

} // namespace

namespace {

Extent walkFile(EvidenceReader& evidence, std::int64_t H, std::vector<Part>* parts) {
    if (H < 0 || static_cast<std::uint64_t>(H) >= evidence.size()) {
        return Extent::rejected("outside the evidence");
    }
    unsigned char head[16] = {};
    evidence.readAt(H, head, sizeof head);
    bool little = false;
    if (head[0] == 'I' && head[1] == 'I') {
        little = true;
    } else if (!(head[0] == 'M' && head[1] == 'M')) {
        return Extent::rejected("no byte order mark");
    }
    const std::uint16_t magic = little ? le16(head + 2) : be16(head + 2);
    if (magic == 42) {
        Walk walk(evidence, H, little, false, parts);
        return walk.run(little ? le32(head + 4) : be32(head + 4));
    }
    if (magic == 43) {
        const std::uint16_t offsetBytes = little ? le16(head + 4) : be16(head + 4);
        const std::uint16_t reserved = little ? le16(head + 6) : be16(head + 6);
        if (offsetBytes != 8 || reserved != 0) {
            return Extent::rejected("not a BigTIFF header");
        }
        Walk walk(evidence, H, little, true, parts);
        return walk.run(little ? le64(head + 8) : be64(head + 8));
    }
    return Extent::rejected("no TIFF magic number");
}

} // namespace

Extent TiffExtent::measure(EvidenceReader& evidence, std::int64_t H) {
    return walkFile(evidence, H, nullptr);
}

void TiffExtent::parts(EvidenceReader& evidence, std::int64_t H, std::uint64_t, std::vector<Part>& parts) {
    walkFile(evidence, H, &parts);
}

} // namespace morrow
