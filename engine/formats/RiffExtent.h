#pragma once

#include "formats/Extent.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace morrow {

class EvidenceReader;

// Finds where a RIFF movie ends by walking its chunks from H: an AVI (form "AVI ", with the
// OpenDML "AVIX" forms that follow it directly) or a video CD's CD-XA file (form "CDXA", a .dat).
// The RIFF's size field alone is no end: a truncated movie keeps the size it was meant to have.
//
// Every chunk must be a code and a size that fits inside its list and inside the evidence. Inside
// the movie list ('movi', and its 'rec ' lists) only a stream's chunks ("00dc", "01wb" ... of a
// stream the header lists), OpenDML's index chunks ("ix00"), JUNK and 'rec ' lists stand; a frame
// whose data starts a JPEG must start one whose marker segments stand. The legacy index 'idx1'
// must name, entry by entry, the chunks the walk saw. A CD-XA file's 'data' chunk holds raw CD
// sectors of 2352 bytes, each starting with the sync pattern.
//
// Where the walk breaks, the file is broken there: it is found truncated at the end of what stood.
// A chunk stands when its own structure closes it (a list walked to its end, an index whose every
// entry names a chunk, a Motion-JPEG frame ending in its end marker) or a sound chunk follows it:
// a chunk followed by no chunk may be one cut short, its size then reaching into whatever lies
// after it, and is left out. A walk to the RIFF's end is the whole file, RIFF size + 8 (and the
// AVIX forms after it); one whose OpenDML header counts more frames than its chunks hold is found
// truncated there.
//
// Rejected: no RIFF of those forms at H; an AVI whose header list ('hdrl', its 'avih' first) does
// not stand, or that breaks before its first stream chunk; a CD-XA file with no sound sector.
class RiffExtent {
  public:
    static Extent measure(EvidenceReader& evidence, std::int64_t H);

    // The stretches of the file measured `length` bytes at H that its movie list's stream chunks
    // hold (a CD-XA file's sectors), chunks that touch merged into one.
    static void parts(EvidenceReader& evidence, std::int64_t H, std::uint64_t length,
                      std::vector<Part>& parts);

    // Lists within lists followed (a movie's are two or three deep).
    static constexpr int maxDepth = 4;
    // The movie list's chunks kept for the index check; entries past them are not judged.
    static constexpr std::size_t maxChunks = std::size_t{1} << 20;
    // The bytes of a JPEG frame's head whose marker segments are walked.
    static constexpr std::size_t frameHead = 2048;
    static constexpr std::uint64_t cdSector = 2352;
};

} // namespace morrow
