// A compound document's proof of a join: sector s of the document lies at (s + 1) * 512 from its
// header, in the first piece or past the gap, and the document's own tables must all stand when
// read through the layout. The FAT sectors (the header's list and the DIFAT chain) parse as
// entries that are sector numbers or markers, marking themselves; every chain (the directory,
// the mini FAT, the mini stream, each stream) runs to its end-of-chain mark over sectors no other
// chain holds, as long as its size asks; the directory sectors hold valid entries; and every
// sector the FAT marks in use lies on some chain. Where the streams have a structure of their
// own it must run to the stream's end too: a workbook's records, a presentation's record tree.
// The document's length is that of the exact reader: up to the last sector the FAT uses.
#include "formats/CompoundDocAnalysis.h"
#include "formats/FragmentJoin.h"
#include "formats/SplitSearch.h"

#include <string>

namespace morrow {

namespace {

using splitsearch::Verdict;

constexpr std::uint64_t sectorBytes = 512;
constexpr std::uint64_t miniBytes = 64;
using namespace compounddoc;
constexpr std::uint32_t noStream = 0xFFFFFFFF;
// Tables of at most this many entries are read (a 512 MiB document); memory stays bounded.
constexpr std::uint64_t maxEntries = std::uint64_t{1} << 20;
constexpr std::uint64_t maxRecords = std::uint64_t{1} << 20;

std::uint64_t sectorAt(std::uint32_t s) {
    return (std::uint64_t{s} + 1) * sectorBytes;
}

struct Entry {
    unsigned type = 0;
    std::string name; // ASCII of the UTF-16 name
    std::uint32_t start = 0;
    std::uint64_t size = 0;
    std::uint32_t ids[3] = {};
};

class Document {
  public:
    Document(EvidenceReader& evidence, const PieceLayout& layout) : evidence_(evidence), layout_(layout) {}

    Verdict check();

  private:
    struct Stream {
        const std::vector<std::uint32_t>* chain;
        bool mini;
        std::uint64_t size;
    };

    void readSector(std::uint32_t s, unsigned char* out) {
        layout_.read(evidence_, sectorAt(s), out, sectorBytes);
    }
    std::uint64_t fatSectorOf(std::uint32_t entry) const {
        return sectorAt(fatSectors_[std::min<std::size_t>(entry / 128, fatSectors_.size() - 1)]);
    }
    // The sectors of the chain from `start`, `count` of them when it is known; false with failAt_
    // set where it breaks.
    bool chain(std::uint32_t start, std::uint64_t count, bool known, std::vector<std::uint32_t>& out);
    bool directory();
    std::uint64_t fileOffset(const Stream& stream, std::uint64_t offset) const;
    void read(const Stream& stream, std::uint64_t offset, unsigned char* out, std::size_t n);
    bool zerosFrom(const Stream& stream, std::uint64_t offset);
    bool workbook(const Stream& stream);
    bool presentation(const Stream& stream);
    bool propertySet(const Stream& stream);
    bool streamStart(const std::string& name, const Stream& stream);

    EvidenceReader& evidence_;
    const PieceLayout& layout_;
    std::vector<std::uint32_t> fatSectors_;
    std::vector<std::uint32_t> fat_;
    std::vector<bool> used_;
    std::vector<std::uint32_t> directorySectors_;
    std::vector<Entry> entries_;
    std::vector<std::uint32_t> miniFat_;
    std::vector<std::uint32_t> miniStream_;
    std::uint64_t failAt_ = 0;
};

bool Document::chain(std::uint32_t start, std::uint64_t count, bool known, std::vector<std::uint32_t>& out) {
    out.clear();
    std::uint32_t s = start;
    while (s != endOfChainEntry) {
        if (s >= fat_.size() || used_[s] || (known && out.size() >= count) || out.size() >= maxEntries) {
            failAt_ = s < fat_.size() ? fatSectorOf(s) : fatSectorOf(0);
            return false;
        }
        used_[s] = true;
        out.push_back(s);
        s = fat_[s];
    }
    if (known && out.size() != count) {
        failAt_ = fatSectorOf(out.empty() ? 0 : out.back());
        return false;
    }
    return true;
}

bool Document::directory() {
    unsigned char sector[sectorBytes];
    for (const std::uint32_t s : directorySectors_) {
        readSector(s, sector);
        failAt_ = sectorAt(s);
        for (unsigned e = 0; e < 4; ++e) {
            const unsigned char* p = sector + e * 128;
            Entry entry;
            entry.type = p[66];
            const unsigned nameLength = le16(p + 64);
            if (entry.type == 0) {
                // Unused: no name, and no siblings or child.
                if (nameLength != 0 || le32(p + 68) != noStream || le32(p + 72) != noStream ||
                    le32(p + 76) != noStream) {
                    return false;
                }
                entries_.push_back(entry);
                continue;
            }
            if ((entry.type != 1 && entry.type != 2 && entry.type != 5) ||
                (entry.type == 5) != entries_.empty() || nameLength < 2 || nameLength > 64 ||
                nameLength % 2 != 0 || le16(p + nameLength - 2) != 0 || p[67] > 1) {
                return false;
            }
            for (unsigned i = 0; i + 2 < nameLength; i += 2) {
                entry.name += static_cast<char>(le16(p + i) < 0x80 ? le16(p + i) : '?');
            }
            for (unsigned i = 0; i < 3; ++i) {
                entry.ids[i] = le32(p + 68 + i * 4);
            }
            entry.start = le32(p + 116);
            entry.size = le32(p + 120); // version 3: the high half is not used
            entries_.push_back(entry);
        }
    }
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        for (const std::uint32_t id : entries_[i].ids) {
            if (entries_[i].type != 0 && id != noStream && id >= entries_.size()) {
                failAt_ = sectorAt(directorySectors_[i / 4]);
                return false;
            }
        }
    }
    failAt_ = sectorAt(directorySectors_.front());
    return !entries_.empty() && entries_.front().type == 5;
}

std::uint64_t Document::fileOffset(const Stream& stream, std::uint64_t offset) const {
    if (!stream.mini) {
        return sectorAt((*stream.chain)[offset / sectorBytes]) + offset % sectorBytes;
    }
    const std::uint64_t m =
        std::uint64_t{(*stream.chain)[offset / miniBytes]} * miniBytes + offset % miniBytes;
    return sectorAt(miniStream_[m / sectorBytes]) + m % sectorBytes;
}

void Document::read(const Stream& stream, std::uint64_t offset, unsigned char* out, std::size_t n) {
    const std::uint64_t unit = stream.mini ? miniBytes : sectorBytes;
    while (n > 0) {
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(n, unit - offset % unit));
        layout_.read(evidence_, fileOffset(stream, offset), out, take);
        offset += take;
        out += take;
        n -= take;
    }
}

bool Document::zerosFrom(const Stream& stream, std::uint64_t offset) {
    unsigned char block[miniBytes];
    while (offset < stream.size) {
        const auto take =
            static_cast<std::size_t>(std::min<std::uint64_t>(stream.size - offset, sizeof block));
        read(stream, offset, block, take);
        for (std::size_t i = 0; i < take; ++i) {
            if (block[i] != 0) {
                failAt_ = fileOffset(stream, offset + i);
                return false;
            }
        }
        offset += take;
    }
    return true;
}

// A workbook stream: records of a type and a length of at most 8224 bytes, one after another to
// the stream's end, or to zeros that pad it after the last EOF record.
bool Document::workbook(const Stream& stream) {
    std::uint64_t p = 0;
    unsigned last = 0;
    for (std::uint64_t records = 0; p + 4 <= stream.size && records < maxRecords; ++records) {
        unsigned char head[4];
        read(stream, p, head, sizeof head);
        const unsigned type = le16(head);
        const unsigned length = le16(head + 2);
        if (type == 0 && length == 0 && last == 0x000A) {
            return zerosFrom(stream, p); // padding after the last EOF record
        }
        if (type > 0x1200 || length > 8224 || p + 4 + length > stream.size) {
            failAt_ = fileOffset(stream, p + 3);
            return false;
        }
        p += 4 + length;
        last = type;
    }
    failAt_ = fileOffset(stream, std::min(p, stream.size - 1));
    return p == stream.size && last == 0x000A;
}

// A presentation's stream: records of a version, a type and a length; a container's children fill
// it exactly. Types are those of the presentation's records (1000 on) and of its drawings.
bool Document::presentation(const Stream& stream) {
    struct Level {
        std::uint64_t end;
    };
    std::vector<Level> levels{{stream.size}};
    std::uint64_t p = 0;
    for (std::uint64_t records = 0; records < maxRecords; ++records) {
        while (!levels.empty() && p == levels.back().end) {
            levels.pop_back();
        }
        if (levels.empty()) {
            return true;
        }
        unsigned char head[8];
        if (p + 8 > levels.back().end) {
            if (levels.size() == 1) {
                return zerosFrom(stream, p);
            }
            failAt_ = fileOffset(stream, p);
            return false;
        }
        read(stream, p, head, sizeof head);
        const unsigned version = head[0] & 0x0F;
        const unsigned type = le16(head + 2);
        const std::uint64_t length = le32(head + 4);
        if (type == 0 && length == 0 && levels.size() == 1) {
            return zerosFrom(stream, p);
        }
        if (type < 1000 || (type > 0x2000 && type < 0xF000) || type > 0xF200 ||
            length > levels.back().end - p - 8) {
            failAt_ = fileOffset(stream, p + 7);
            return false;
        }
        if (version == 0x0F && levels.size() < 32) {
            levels.push_back(Level{p + 8 + length});
            p += 8;
        } else {
            p += 8 + length;
        }
    }
    failAt_ = fileOffset(stream, p);
    return false;
}

// A property set stream (summary information): its header, its sections' sizes and each
// property's offset and type.
bool Document::propertySet(const Stream& stream) {
    unsigned char head[48] = {};
    failAt_ = fileOffset(stream, std::min<std::uint64_t>(stream.size, sizeof head) - 1);
    if (stream.size < sizeof head) {
        return false;
    }
    read(stream, 0, head, sizeof head);
    const std::uint32_t sets = le32(head + 24);
    if (le16(head) != 0xFFFE || le16(head + 2) > 1 || sets == 0 || sets > 2 || 28 + sets * 20 > stream.size) {
        return false;
    }
    for (std::uint32_t set = 0; set < sets; ++set) {
        unsigned char offset[4];
        read(stream, 28 + set * 20 + 16, offset, sizeof offset);
        const std::uint64_t section = le32(offset);
        failAt_ = fileOffset(stream, 28 + set * 20 + 19);
        if (section + 8 > stream.size) {
            return false;
        }
        unsigned char sizes[8];
        read(stream, section, sizes, sizeof sizes);
        const std::uint64_t size = le32(sizes);
        const std::uint64_t count = le32(sizes + 4);
        failAt_ = fileOffset(stream, section + 7);
        if (size < 8 + count * 8 || size > stream.size - section || count > 4096) {
            return false;
        }
        for (std::uint64_t i = 0; i < count; ++i) {
            unsigned char pair[8];
            read(stream, section + 8 + i * 8, pair, sizeof pair);
            const std::uint64_t at = le32(pair + 4);
            failAt_ = fileOffset(stream, section + 8 + i * 8 + 7);
            if (at < 8 + count * 8 || at + 4 > size) {
                return false;
            }
            unsigned char type[4];
            read(stream, section + at, type, sizeof type);
            failAt_ = fileOffset(stream, section + at + 3);
            // The dictionary (property 0) has no type; every other value a variant type with its
            // padding of zeros.
            if (le32(pair) != 0 && ((le16(type) & 0x0FFF) > 0x48 || le16(type + 2) != 0)) {
                return false;
            }
        }
    }
    return true;
}

// What the streams of known names begin with.
bool Document::streamStart(const std::string& name, const Stream& stream) {
    unsigned char head[8] = {};
    read(stream, 0, head, static_cast<std::size_t>(std::min<std::uint64_t>(stream.size, sizeof head)));
    failAt_ = fileOffset(stream, std::min<std::uint64_t>(stream.size, sizeof head) - 1);
    if (name == "Workbook" || name == "Book") {
        // A workbook begins with its BOF record (of one BIFF version or another).
        return (le16(head) & 0xF0FF) == 0x0009 && workbook(stream);
    }
    if (name == "PowerPoint Document") {
        return le32(head + 4) != 0 && presentation(stream);
    }
    if (name == "WordDocument") {
        return le16(head) == 0xA5EC;
    }
    if (name == "Current User") {
        // One record, the current-user atom, and its header token.
        unsigned char token[4] = {};
        if (stream.size >= 16) {
            read(stream, 12, token, sizeof token);
        }
        failAt_ = fileOffset(stream, std::min<std::uint64_t>(stream.size, 16) - 1);
        return le16(head + 2) == 0x0FF6 && (le32(token) == 0xE391C05F || le32(token) == 0xF3D1C4DF);
    }
    if (name == "\x01"
                "CompObj") {
        return le32(head) == 0xFFFE0001;
    }
    if (!name.empty() && name[0] == '\x05') {
        return propertySet(stream);
    }
    return true;
}

Verdict Document::check() {
    unsigned char header[sectorBytes];
    layout_.read(evidence_, 0, header, sizeof header);
    static constexpr unsigned char signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    const std::uint32_t fatCount = le32(header + 44);
    if (std::memcmp(header, signature, 8) != 0 || le16(header + 26) != 3 || le16(header + 28) != 0xFFFE ||
        le16(header + 30) != 9 || le16(header + 32) != 6 || le32(header + 56) != 4096 || fatCount == 0 ||
        fatCount > maxEntries / 128) {
        return Verdict::fail(0);
    }
    // The FAT sectors: the header's list, then the DIFAT chain's.
    std::vector<std::uint32_t> difat;
    for (std::uint32_t i = 0; i < 109; ++i) {
        const std::uint32_t f = le32(header + 76 + i * 4);
        if (i < fatCount) {
            fatSectors_.push_back(f);
        } else if (f != freeEntry) {
            return Verdict::fail(0);
        }
    }
    std::uint32_t d = le32(header + 68);
    for (std::uint32_t left = le32(header + 72); fatSectors_.size() < fatCount; --left) {
        if (left == 0 || d >= fatCount * 128) {
            return Verdict::fail(0);
        }
        unsigned char sector[sectorBytes];
        readSector(d, sector);
        difat.push_back(d);
        for (unsigned i = 0; i < 127 && fatSectors_.size() < fatCount; ++i) {
            fatSectors_.push_back(le32(sector + i * 4));
        }
        d = le32(sector + 127 * 4);
    }
    fat_.reserve(std::size_t{fatCount} * 128);
    for (const std::uint32_t f : fatSectors_) {
        if (f >= fatCount * 128) {
            return Verdict::fail(0);
        }
        unsigned char sector[sectorBytes];
        readSector(f, sector);
        for (unsigned i = 0; i < 128; ++i) {
            const std::uint32_t entry = le32(sector + i * 4);
            if (entry >= fatCount * 128 && entry < difatSectorEntry) {
                return Verdict::fail(sectorAt(f));
            }
            fat_.push_back(entry);
        }
    }
    used_.assign(fat_.size(), false);
    for (const std::uint32_t f : fatSectors_) {
        if (fat_[f] != fatSectorEntry || used_[f]) {
            return Verdict::fail(fatSectorOf(f));
        }
        used_[f] = true;
    }
    for (const std::uint32_t s : difat) {
        if (fat_[s] != difatSectorEntry || used_[s]) {
            return Verdict::fail(fatSectorOf(s));
        }
        used_[s] = true;
    }
    std::uint64_t inUse = 0;
    for (std::size_t i = 0; i < fat_.size(); ++i) {
        if (fat_[i] != freeEntry) {
            inUse = i + 1;
        }
    }
    if (!chain(le32(header + 48), 0, false, directorySectors_) || directorySectors_.empty()) {
        return Verdict::fail(failAt_);
    }
    if (!directory()) {
        return Verdict::fail(failAt_);
    }
    const Entry& root = entries_.front();
    std::vector<std::uint32_t> miniFatSectors;
    const std::uint32_t miniFatStart = le32(header + 60);
    const std::uint32_t miniFatCount = miniFatStart == endOfChainEntry ? 0 : le32(header + 64);
    if (!chain(miniFatStart, miniFatCount, true, miniFatSectors) ||
        !chain(root.size == 0 ? endOfChainEntry : root.start, (root.size + sectorBytes - 1) / sectorBytes,
               true, miniStream_)) {
        return Verdict::fail(failAt_);
    }
    for (const std::uint32_t s : miniFatSectors) {
        unsigned char sector[sectorBytes];
        readSector(s, sector);
        for (unsigned i = 0; i < 128; ++i) {
            miniFat_.push_back(le32(sector + i * 4));
        }
    }
    const std::uint64_t miniSectors =
        std::min<std::uint64_t>(miniFat_.size(), (root.size + miniBytes - 1) / miniBytes);
    std::vector<bool> miniUsed(miniSectors, false);
    std::vector<std::vector<std::uint32_t>> chains(entries_.size());
    for (std::size_t i = 1; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        if (e.type != 2 || e.size == 0) {
            continue;
        }
        failAt_ = sectorAt(directorySectors_[i / 4]);
        if (e.size >= 4096) {
            if (!chain(e.start, (e.size + sectorBytes - 1) / sectorBytes, true, chains[i])) {
                return Verdict::fail(failAt_);
            }
            continue;
        }
        const std::uint64_t count = (e.size + miniBytes - 1) / miniBytes;
        for (std::uint32_t m = e.start; m != endOfChainEntry; m = miniFat_[m]) {
            if (m >= miniSectors || miniUsed[m] || chains[i].size() >= count) {
                failAt_ =
                    sectorAt(miniFatSectors.empty()
                                 ? 0
                                 : miniFatSectors[std::min<std::size_t>(m / 128, miniFatSectors.size() - 1)]);
                return Verdict::fail(failAt_);
            }
            miniUsed[m] = true;
            chains[i].push_back(m);
        }
        if (chains[i].size() != count) {
            return Verdict::fail(miniFatSectors.empty() ? 0 : sectorAt(miniFatSectors.back()));
        }
    }
    // No sector the FAT marks in use is left off every chain: a directory sector read from
    // elsewhere loses the streams it listed.
    for (std::size_t s = 0; s < fat_.size(); ++s) {
        if (fat_[s] != freeEntry && !used_[s]) {
            return Verdict::fail(sectorAt(directorySectors_.back()));
        }
    }
    for (std::uint64_t m = 0; m < miniSectors; ++m) {
        if (miniFat_[m] != freeEntry && !miniUsed[m]) {
            return Verdict::fail(sectorAt(directorySectors_.back()));
        }
    }
    for (std::size_t i = 1; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        if (chains[i].empty()) {
            continue;
        }
        const Stream stream{&chains[i], e.size < 4096, e.size};
        if (!streamStart(e.name, stream)) {
            return Verdict::fail(failAt_);
        }
    }
    return Verdict::pass((inUse + 1) * sectorBytes);
}

} // namespace

std::optional<std::vector<Piece>> FragmentJoin::compoundDoc(EvidenceReader& evidence, std::int64_t H,
                                                            const ClusterClaims& claims, JoinBudget& budget) {
    unsigned char header[sectorBytes] = {};
    if (H < 0 || evidence.readAt(H, header, sizeof header) != sizeof header) {
        return std::nullopt;
    }
    const std::uint32_t fatCount = std::min<std::uint32_t>(le32(header + 44), maxEntries / 128);
    const std::uint64_t entries = std::uint64_t{fatCount} * 128;
    // The sectors the header places: its FAT sectors, the first directory and mini FAT sectors.
    // Past a split, each must stand past the gap: a FAT sector of entries in range that marks the
    // FAT sectors it covers, a directory that starts with the root, a mini FAT of entries.
    struct Anchor {
        std::uint32_t sector;
        int kind; // 0 FAT (its index in `order`), 1 directory, 2 mini FAT
        std::uint32_t order;
    };
    std::vector<Anchor> anchors;
    for (std::uint32_t i = 0; i < std::min<std::uint32_t>(fatCount, 109); ++i) {
        anchors.push_back({le32(header + 76 + i * 4), 0, i});
    }
    anchors.push_back({le32(header + 48), 1, 0});
    if (le32(header + 60) != endOfChainEntry) {
        anchors.push_back({le32(header + 60), 2, 0});
    }
    std::erase_if(anchors, [&](const Anchor& a) { return a.sector >= entries; });
    std::uint64_t memoGap = 0;
    std::vector<std::pair<std::uint32_t, bool>> memo;
    auto stands = [&](const PieceLayout& layout, const Anchor& a) {
        unsigned char sector[sectorBytes];
        layout.read(evidence, sectorAt(a.sector), sector, sizeof sector);
        if (a.kind == 1) {
            return sector[66] == 5 && le16(sector + 64) >= 2 && le16(sector + 64) <= 64;
        }
        for (std::uint32_t i = 0; i < 128; ++i) {
            const std::uint32_t entry = le32(sector + i * 4);
            if (entry >= entries && entry < difatSectorEntry) {
                return false;
            }
        }
        if (a.kind == 0) {
            for (std::uint32_t i = 0; i < std::min<std::uint32_t>(fatCount, 109); ++i) {
                const std::uint32_t f = le32(header + 76 + i * 4);
                if (f / 128 == a.order && le32(sector + (f % 128) * 4) != fatSectorEntry) {
                    return false;
                }
            }
        }
        return true;
    };
    auto quick = [&](const PieceLayout& layout) {
        if (memoGap != layout.gap) {
            memoGap = layout.gap;
            memo.clear();
        }
        for (const Anchor& a : anchors) {
            if (sectorAt(a.sector) < layout.split) {
                continue;
            }
            auto known =
                std::find_if(memo.begin(), memo.end(), [&](const auto& m) { return m.first == a.sector; });
            const bool ok = known != memo.end() ? known->second : stands(layout, a);
            if (known == memo.end()) {
                memo.emplace_back(a.sector, ok);
            }
            if (!ok) {
                return false;
            }
        }
        return true;
    };
    return splitsearch::search(
        evidence, H, claims, budget, std::uint64_t{fatCount} * sectorBytes + 4096, splitsearch::maxSplits,
        [&](const PieceLayout& layout, std::uint64_t) { return Document(evidence, layout).check(); }, quick);
}

} // namespace morrow
