#pragma once

#include "formats/Extent.h"

#include <cstdint>

namespace morrow {

class EvidenceReader;

// Finds where a ZIP archive ends by walking its local file headers from the one at H to the
// central directory and then searching for the end of central directory record. The extent stops
// 22 bytes after that record's start: an archive comment is not carved.
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
    // `endAtDirectory` (the exact-ends mode): the central directory is walked to its end. Without
    // an end record there, the archive ends with its directory (found) and the walk does not go
    // on into the next archive; a directory that lists fewer members than the walk met local
    // headers belongs to a later archive that the walk ran into, and this one ends, truncated,
    // where that archive's members begin.
    static Result measure(EvidenceReader& evidence, std::int64_t H, bool endAtDirectory = false);

    // The exact-ends mode's length of an archive `measure` found: its end record with the
    // archive comment that the record's last field (2 bytes at 20) says follows it. An archive
    // without its end record keeps its extent.
    static std::uint64_t lengthWithComment(EvidenceReader& evidence, std::int64_t H, const Result& found);

    static constexpr std::uint32_t blockSize = 32768;
};

} // namespace morrow
