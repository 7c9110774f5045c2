#pragma once

#include "formats/Extent.h"

#include <cstdint>
#include <vector>

namespace morrow {

class EvidenceReader;

// Finds where a ZIP archive ends by walking its local file headers from the one at H to the
// central directory and then searching for the end of central directory record. The extent stops
// 22 bytes after that record's start: an archive comment is not carved.
//
// The exact-ends mode believes no end record it merely finds: the archive's end is proven by its
// own central directory, every entry's local header offset (from H) landing on a local header of
// the entry's name, the one at offset 0 on H. An archive without such a directory (cut off,
// overwritten, or one whose walk ran into another archive) ends, truncated, with the last member
// whose local header chain is sound, and never takes in a local header it cannot prove its own.
class ZipExtent {
  public:
    struct Result {
        // End record found at F: F + 22 - H. None before the end of the evidence: rejected.
        Extent extent;
        // Where the archive's own bytes end as far as the walk saw them: F + 22 when the end
        // record was found, else the last local header the walk reached (H when none). Local
        // headers before it belong to this archive and are no archives of their own.
        std::uint64_t resumeOffset = 0;
        // The extent ends with an end record (else with the central directory, or truncated).
        bool endRecord = false;
        // Where the archive's central directory starts, as the walk met it; 0 when the walk met
        // none of this archive's (the directory it ran into was a later archive's).
        std::uint64_t directory = 0;
    };
    // `exact` (the exact-ends mode): the local headers are followed member by member, each by its
    // sizes, a member written with a data descriptor by the descriptor after its data (its
    // compressed size the data's length, its CRC-32 the data's where nothing else proves the
    // member), to the central directory.
    // - A directory whose entries all land on the local headers met, relative to H and under
    //   their names, one of them at H: the archive ends with its end record (found), or without
    //   one where the directory ends (truncated); `directory` tells where it starts.
    // - A directory that lands so relative to a later local header the walk met (the walk ran out
    //   of a cut archive into another): this one ends, truncated, where that one begins.
    // - Any other directory, or none (the chain broke on bytes that are no local header): the
    //   archive ends, truncated, after the last member whose chain is sound, each one's data
    //   proven by its CRC-32 (stored or deflated). None sound: rejected.
    static Result measure(EvidenceReader& evidence, std::int64_t H, bool exact = false);

    // The exact-ends mode's length of an archive `measure` found: its end record with the
    // archive comment that the record's last field (2 bytes at 20) says follows it. An archive
    // without its end record keeps its extent.
    static std::uint64_t lengthWithComment(EvidenceReader& evidence, std::int64_t H, const Result& found);

    // What an archive measured `length` bytes at H (by the exact-ends mode) points at: the data of
    // every member its central directory lists whose local header stands at the entry's offset
    // under its name. None for an archive without its end record.
    static void parts(EvidenceReader& evidence, std::int64_t H, std::uint64_t length,
                      std::vector<Part>& parts);

    static constexpr std::uint32_t blockSize = 32768;
    // A stored member written with a data descriptor is searched no further for it.
    static constexpr std::uint64_t maxDescriptorSearch = std::uint64_t{64} << 20;
    // Members followed at most: a longer chain ends, truncated, there.
    static constexpr std::size_t maxMembers = std::size_t{1} << 20;
};

} // namespace morrow
