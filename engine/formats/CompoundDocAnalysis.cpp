// Compound document carving follows [MS-CFB] (Compound File Binary File Format), sections 2.2
// (header), 2.3 (FAT) and 2.5 (DIFAT), for version 3 files: a 512-byte header, then
// sectors of 512 bytes numbered from 0, sector s at H + (s + 1) * 512. The header fields used,
// little-endian 32-bit, at offsets from the header H:
//   44  number of FAT (allocation-table) sectors
//   48  first directory sector (read by the classifier)
//   68  first DIFAT sector; 0xFFFFFFFE (end of chain) is taken as 0
//   72  number of DIFAT sectors; taken as 0 when its lowest byte is 0
//   76  the first 109 FAT sector numbers
// Each DIFAT sector holds 127 more FAT sector numbers and, last, the number of the next DIFAT
// sector. Each FAT sector holds 128 entries: the next sector of a chain, or a special value.
#include "formats/CompoundDocAnalysis.h"

#include "evidence/EvidenceReader.h"
#include "formats/CompoundDocClassifier.h"
#include "formats/ExactEnds.h"
#include "formats/FragmentJoin.h"

#include <algorithm>
#include <array>
#include <vector>

namespace morrow {

namespace {

constexpr std::int64_t sectorSize = 512;
constexpr int entriesPerSector = 128;
constexpr std::uint64_t headerFatNumbers = 109;

using namespace compounddoc;

// The classifier walks the table from the first directory sector up to the first end of chain.
// That run of entries is handed over in memory, but never more than this many entries (8 MiB):
// a directory is found in its first sectors, and a damaged table must not cost more memory.
constexpr std::size_t classifierWindowLimit = std::size_t{1} << 20;

std::int64_t storedEntry(std::uint32_t raw) {
    switch (raw) {
    case freeEntry:
        return -1;
    case endOfChainEntry:
        return -2;
    case fatSectorEntry:
        return -4;
    case difatSectorEntry:
        return -3;
    default:
        return static_cast<std::int64_t>(raw);
    }
}

// Yields the numbers of a document's FAT sectors one by one: from the header's array, then from
// the DIFAT chain. Nothing is stored, so a header claiming four billion FAT sectors costs no
// memory; and no count is taken beyond `sectorBound`, the sectors between the header and the end
// of the evidence, since a table that lies in the evidence cannot have more FAT (or DIFAT)
// sectors than that. A DIFAT chain that loops therefore ends too.
class FatSectorWalk {
  public:
    FatSectorWalk(EvidenceReader& evidence, std::int64_t H, std::uint64_t sectorBound)
        : evidence_(evidence), H_(H), bound_(sectorBound) {
        const std::uint64_t fatCount = std::min<std::uint64_t>(evidence.le32(H + 44), sectorBound);
        std::uint32_t difatStart = evidence.le32(H + 68);
        if (difatStart == endOfChainEntry) {
            difatStart = 0;
        }
        std::uint32_t difatCount = evidence.le32(H + 72);
        if ((difatCount & 0xFF) == 0) {
            difatCount = 0;
        }
        if (fatCount <= headerFatNumbers && difatCount == 0) {
            headerCount_ = fatCount;
            return;
        }
        // A header with DIFAT sectors lists all 109 numbers, used or not, and the chain follows;
        // when it announces fewer than 109 FAT sectors the count left never reaches zero, so
        // every DIFAT sector is read whole.
        headerCount_ = headerFatNumbers;
        remaining_ = static_cast<std::int64_t>(fatCount) - static_cast<std::int64_t>(headerFatNumbers);
        if (static_cast<std::int32_t>(difatCount) > 0) {
            difatLeft_ = std::min<std::uint64_t>(difatCount, sectorBound);
            position_ = sectorPosition(difatStart);
        }
    }

    bool next(std::uint64_t& sector) {
        if (yielded_ >= bound_) {
            return false;
        }
        if (headerPos_ < headerCount_) {
            sector = evidence_.le32(H_ + 76 + static_cast<std::int64_t>(headerPos_ * 4));
            ++headerPos_;
            ++yielded_;
            return true;
        }
        while (difatLeft_ > 0 && remaining_ != 0) {
            if (entry_ < entriesPerSector - 1) {
                sector = evidence_.le32(position_ + entry_ * 4);
                ++entry_;
                --remaining_;
                ++yielded_;
                return true;
            }
            position_ = sectorPosition(evidence_.le32(position_ + entry_ * 4));
            entry_ = 0;
            --difatLeft_;
        }
        return false;
    }

  private:
    std::int64_t sectorPosition(std::uint64_t sector) const {
        return H_ + static_cast<std::int64_t>(sector + 1) * sectorSize;
    }

    EvidenceReader& evidence_;
    std::int64_t H_;
    std::uint64_t bound_;
    std::uint64_t yielded_ = 0;
    std::uint64_t headerCount_ = 0;
    std::uint64_t headerPos_ = 0;
    std::int64_t remaining_ = 0;
    std::uint64_t difatLeft_ = 0;
    std::int64_t position_ = 0;
    int entry_ = 0;
};

// Reads the allocation table of the document at H once, front to back: the index of its last
// entry in use gives the length, and the entries from the first directory sector on go to
// `window` for the classifier. Neither the FAT sector numbers nor the rest of the table are kept,
// so memory does not grow with what the header claims. Returns lastSectorIndex.
std::int64_t analyseTable(EvidenceReader& evidence, std::int64_t H, std::vector<std::int64_t>& window,
                          std::int64_t& firstHeld, std::int64_t& tableSize, bool& sound) {
    const std::uint64_t start = static_cast<std::uint64_t>(H);
    const std::uint64_t evidenceSize = evidence.size();
    const std::uint64_t sectorBound =
        start < evidenceSize ? (evidenceSize - start + sectorSize - 1) / sectorSize : 0;
    const std::int64_t firstDirectory = evidence.le32(H + 48);
    // Entries past the sectors the evidence holds describe sectors outside it, which read as
    // zeros and hold no directory entry; the classifier never needs them.
    const std::int64_t windowEnd = static_cast<std::int64_t>(sectorBound);

    FatSectorWalk walk(evidence, H, sectorBound);
    std::array<unsigned char, sectorSize> buffer{};
    std::int64_t index = 0;
    std::int64_t lastInUse = -1;
    bool windowClosed = false;
    std::uint64_t fatSector = 0;
    // A sound document: its FAT sectors lie whole in the evidence, and those the header lists
    // are each marked as a FAT sector in the table they make up.
    const std::uint64_t wholeSectors = start < evidenceSize ? (evidenceSize - start) / sectorSize : 0;
    std::vector<std::uint64_t> listed;
    const std::uint64_t fatCount = evidence.le32(H + 44);
    for (std::uint64_t i = 0; i < std::min(fatCount, headerFatNumbers); ++i) {
        listed.push_back(evidence.le32(H + 76 + static_cast<std::int64_t>(i) * 4));
    }
    std::uint64_t fatSectors = 0;
    sound = evidence.le16(H + 28) == 0xFFFE && evidence.le16(H + 30) == 9;
    while (walk.next(fatSector)) {
        sound = sound && fatSector + 2 <= wholeSectors;
        evidence.readAt(H + static_cast<std::int64_t>(fatSector + 1) * sectorSize, buffer.data(),
                        buffer.size());
        for (const std::uint64_t f : listed) {
            if (f / entriesPerSector == fatSectors) {
                sound = sound && le32(buffer.data() + (f % entriesPerSector) * 4) == fatSectorEntry;
            }
        }
        ++fatSectors;
        for (int i = 0; i < entriesPerSector; ++i, ++index) {
            const std::uint32_t raw = le32(buffer.data() + i * 4);
            if (raw != freeEntry) {
                lastInUse = index;
            }
            if (!windowClosed && index >= firstDirectory) {
                if (index >= windowEnd || window.size() >= classifierWindowLimit) {
                    windowClosed = true;
                } else {
                    window.push_back(storedEntry(raw));
                    windowClosed = raw == endOfChainEntry;
                }
            }
        }
    }
    firstHeld = firstDirectory;
    tableSize = index;
    // Every listed FAT sector was met in the table (none lies beyond it), the header's count was
    // met, and the directory starts inside the evidence with the root entry (type 5).
    const std::int64_t directory = H + (firstDirectory + 1) * sectorSize;
    sound = sound && fatSectors > 0 && fatSectors == fatCount &&
            std::all_of(listed.begin(), listed.end(),
                        [&](std::uint64_t f) { return f < fatSectors * entriesPerSector; }) &&
            static_cast<std::uint64_t>(firstDirectory) + 2 <= wholeSectors &&
            evidence.u8(directory + 66) == 5;
    return lastInUse + 1; // 0 when no entry is in use: the header sector alone
}

} // namespace

CompoundDocRecord CompoundDocAnalysis::analyse(EvidenceReader& evidence, std::int64_t H) {
    std::vector<std::int64_t> window;
    std::int64_t firstHeld = 0;
    std::int64_t tableSize = 0;
    bool sound = false;
    const std::int64_t lastSectorIndex = analyseTable(evidence, H, window, firstHeld, tableSize, sound);
    std::string extension = CompoundDocClassifier::classify(evidence, H, window, firstHeld, tableSize);
    return CompoundDocRecord{H, lastSectorIndex, std::move(extension), sound};
}

namespace {

// The pieces of a reassembled file as one evidence of the file's length.
class PiecesSource final : public EvidenceSource {
  public:
    PiecesSource(EvidenceReader& evidence, const std::vector<Piece>& pieces)
        : evidence_(evidence), pieces_(pieces) {
        for (const Piece& piece : pieces) {
            size_ += piece.length;
        }
    }
    const std::string& path() const override { return evidence_.path(); }
    std::uint64_t size() const override { return size_; }
    std::size_t read(std::uint64_t offset, void* out, std::size_t length) override {
        auto* bytes = static_cast<unsigned char*>(out);
        std::size_t got = 0;
        std::uint64_t start = 0;
        for (const Piece& piece : pieces_) {
            while (length > 0 && offset >= start && offset < start + piece.length) {
                const auto n =
                    static_cast<std::size_t>(std::min<std::uint64_t>(length, start + piece.length - offset));
                const std::size_t read = evidence_.readAt(
                    piece.offset + static_cast<std::int64_t>(offset - start), bytes + got, n);
                got += read;
                if (read < n) {
                    return got;
                }
                offset += n;
                length -= n;
            }
            start += piece.length;
        }
        return got;
    }

  private:
    EvidenceReader& evidence_;
    const std::vector<Piece>& pieces_;
    std::uint64_t size_ = 0;
};

} // namespace

std::string CompoundDocAnalysis::extension(EvidenceReader& evidence, const std::vector<Piece>& pieces) {
    PiecesSource joined(evidence, pieces);
    EvidenceReader reader(joined);
    return analyse(reader, 0).extension;
}

void CompoundDocAnalysis::parts(EvidenceReader& evidence, std::int64_t H, std::uint64_t length,
                                std::vector<Part>& parts) {
    // Every sector the allocation table puts in a chain (a stream's, the directory's, the short
    // streams' container): the sectors it marks free, or as its own, point at nothing.
    const std::uint64_t sectors = length / sectorSize;
    FatSectorWalk fat(evidence, H, sectors);
    std::array<unsigned char, sectorSize> table{};
    std::uint64_t fatSector = 0;
    for (std::uint64_t first = 0; first + 1 < sectors && fat.next(fatSector); first += entriesPerSector) {
        if (fatSector + 1 >= sectors) {
            continue;
        }
        evidence.readAt(H + static_cast<std::int64_t>(fatSector + 1) * sectorSize, table.data(),
                        table.size());
        for (std::uint64_t k = 0; k < entriesPerSector && first + k + 1 < sectors; ++k) {
            const std::int64_t next = storedEntry(le32(table.data() + k * 4));
            if (next < 0 && next != -2) {
                continue;
            }
            const std::uint64_t at = (first + k + 1) * sectorSize;
            if (!parts.empty() && parts.back().offset + parts.back().length == at) {
                parts.back().length += sectorSize;
            } else if (parts.size() < maxParts) {
                parts.push_back(Part{at, sectorSize});
            }
        }
    }
}

} // namespace morrow
