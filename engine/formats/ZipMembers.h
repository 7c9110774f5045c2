#pragma once

#include "formats/FragmentJoin.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace morrow {

class EvidenceReader;

// One member of a ZIP archive as its central directory lists it (PKWARE APPNOTE.TXT 4.3.12), the
// ZIP64 extended information field (4.5.3) read for the sizes and the offset that it holds.
struct ZipMember {
    std::uint64_t offset = 0; // of its local header, from the archive's first byte
    std::uint32_t method = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressed = 0;
    std::uint64_t size = 0;
    std::string name;
    bool zip64 = false; // a size or the offset came from the ZIP64 field
};

// What the exact-ends reader and the join both read of an archive's members: the central
// directory's entries, each member's local header where its offset puts it, and its data's CRC-32.
class ZipMembers {
  public:
    // The directory entry at `at` (no further than `end`), its length set in `length`; nothing
    // when no entry stands there.
    static std::optional<ZipMember> readEntry(EvidenceReader& evidence, std::uint64_t at, std::uint64_t end,
                                              std::uint64_t& length);
    // The ZIP64 extended information field in an extra field: each of `values` that reads
    // FFFFFFFF takes the field's next 8 bytes, in the order given.
    static void zip64Fields(const std::vector<unsigned char>& extra,
                            std::initializer_list<std::uint64_t*> values);
    // The directory at `D` (`length` bytes, `count` entries), by their local headers' offsets; or
    // nothing when it is none.
    static std::optional<std::vector<ZipMember>> readDirectory(EvidenceReader& evidence, std::uint64_t D,
                                                               std::uint64_t length, std::uint64_t count);
    // The member's local header stands at its offset under `layout` under the member's name: its
    // data's offset, or 0.
    static std::uint64_t localData(EvidenceReader& evidence, const PieceLayout& layout, const ZipMember& m);
    // The member's data from `data` on under `layout` has its CRC-32 and sizes (stored or
    // deflated). `failedAt`, when given, is set where deflated data stopped decoding.
    static bool dataHolds(EvidenceReader& evidence, const PieceLayout& layout, const ZipMember& m,
                          std::uint64_t data, JoinBudget& budget, std::vector<unsigned char>& in,
                          std::vector<unsigned char>& out, std::uint64_t* failedAt = nullptr);

    // A deflated stream from the evidence offset `data` decoded to its end: how many bytes it
    // took, what it gave and their CRC-32; nothing when it does not decode to an end before
    // `limit`.
    struct Inflated {
        std::uint64_t compressed = 0;
        std::uint64_t size = 0;
        std::uint32_t crc = 0;
    };
    static std::optional<Inflated> inflateToEnd(EvidenceReader& evidence, std::uint64_t data,
                                                std::uint64_t limit, std::vector<unsigned char>& in,
                                                std::vector<unsigned char>& out);
};

} // namespace morrow
