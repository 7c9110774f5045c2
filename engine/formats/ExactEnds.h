#pragma once

#include "formats/Extent.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace morrow {

class EvidenceReader;
class OffsetList;

// The exact-ends mode's one question to a format reader: where does the file that starts at H
// end, by its own structure? `maxBytes` bounds what has no structural end (an HTML page without
// its closing tag). Each kind's reader is named in the kind table (Catalog.h).
using ExactReader = Extent (*)(EvidenceReader& evidence, std::int64_t H, std::uint64_t maxBytes);

// What a file that holds others (an archive, a movie, a document, a layered or tiled picture),
// measured `length` bytes at H, points at by its own structure: the stretches that hold its
// members, frames, streams, strips and thumbnails, appended to `parts` in any order (they may
// overlap). A file of another kind that starts inside one of them is that file's bytes and is not
// carved again; a file that starts anywhere else in it is carved as a file of its own. A reader
// lists at most maxParts and reads a bounded multiple of `length`; what it cannot prove it leaves
// out.
using PartsReader = void (*)(EvidenceReader& evidence, std::int64_t H, std::uint64_t length,
                             std::vector<Part>& parts);
constexpr std::size_t maxParts = std::size_t{1} << 20;

class ExactEnds {
  public:
    // A reader whose structure always ends, as an ExactReader.
    template <Extent (*Measure)(EvidenceReader&, std::int64_t)>
    static Extent structural(EvidenceReader& evidence, std::int64_t H, std::uint64_t) {
        return Measure(evidence, H);
    }
    // An HTML document: to its closing tag, or without one as far as its text runs, up to
    // `maxBytes`.
    static Extent html(EvidenceReader& evidence, std::int64_t H, std::uint64_t maxBytes);

    // The extension a QuickTime-family file gets from its major brand: ".mov" for QuickTime's
    // "qt  ", ".3gp" for the 3GPP brands, ".mp4" for every other brand.
    static const char* quickTimeExtension(EvidenceReader& evidence, std::int64_t H);
};

// One exact-ends pass over its candidates (the header index, ascending), measured in order with
// measure(0), measure(1) ... Each candidate's walk is held to its own stretch of the evidence so
// that no image, however it is made, costs more than linear time or carves more than twice its
// size:
//
// - A candidate is first read on its own, as if the evidence ended at the next candidate. A
//   file that ends there, or a start that is no file of the kind, is taken as read.
// - A candidate that runs into the next one "contests" it (its walk was cut there, or it was
//   rejected only for want of the bytes beyond). Such a walk may go on past the candidates that
//   do not contest their own stretch (whole files such as an Exif thumbnail inside APP1, and
//   signature bytes in data that start no file) and stops before the first one that does: that
//   one claims the bytes after it just as strongly.
//
// Only contesting candidates walk past their stretch, and each walks up to the next contesting
// one, so those walks never overlap; the others stay inside their own stretches. Every byte is
// therefore read by a bounded number of walks, and carved into at most two files (one inside
// the other, as a thumbnail lies in its photo).
class ExactWalks {
  public:
    // `reader` may be null: then every candidate is rejected.
    ExactWalks(ExactReader reader, EvidenceReader& evidence, const OffsetList& candidates,
               std::uint64_t maxBytes);

    Extent measure(std::size_t i);

  private:
    std::uint64_t stretchEnd(std::size_t i) const;
    Extent within(std::int64_t H, std::uint64_t end);
    Extent walk(std::int64_t H, std::uint64_t end);
    bool contests(std::size_t i, const Extent& alone);

    ExactReader reader_;
    EvidenceReader& evidence_;
    const OffsetList& candidates_;
    std::uint64_t maxBytes_;
    // The walks made from the candidate measured last on, by start and stretch end: a walk that
    // looks past its stretch measures the candidates after it, which are then measured in turn,
    // and a reader that decodes (JPEG) pays for its data once.
    std::map<std::pair<std::int64_t, std::uint64_t>, Extent> walked_;
};

} // namespace morrow
