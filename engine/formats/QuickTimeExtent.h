#pragma once

#include "formats/Extent.h"

#include <cstdint>
#include <vector>

namespace morrow {

class EvidenceReader;

// Finds where an ISO base media file (MP4, 3GP, HEIF...) or QuickTime movie ends by walking its
// top-level boxes from the file type box at H. The walk stops at the first thing that is no box
// (a type that is not four printable ASCII characters, a size below 8); the file ends at the end
// of the last box before it. A box that would run to or past the end of the evidence must be of a
// known top-level type (mdat, moov, free...): bytes after a file often read as four printable
// characters with an impossible size, and must not take the rest of the evidence with them. Once a
// whole movie box has been walked, only known top-level types follow at all: random bytes after
// the last box read as a box that fits often enough to stretch a carve over gigabytes.
// A box of size 0 runs to the end of the file: an mdat of size 0 after a movie box with sample
// tables ends with the furthest chunk they place (chunk offset plus the sizes of its samples);
// any other runs to the end of the evidence.
//
// Rejected: no "ftyp" box at H, one whose size cannot hold a major brand, minor version and whole
// compatible brands or is absurdly large, a major brand that is not printable, no box after it,
// or no whole movie box ("moov", or "meta" for HEIF pictures): the media data alone cannot be
// played, and an mdat of size 0 "to the end of the file" says nothing of where the file ends.
// Truncated: a box that runs past the end of the evidence (the extent goes to that end), or a
// walk that reached maxBoxes.
//
// The media data is then proven by the movie box's sample tables: every sample must lie inside a
// media data box, and its bytes begin as its codec's do (an AVC or HEVC sample is a chain of NAL
// units filling it exactly, read by their length prefixes only; MPEG-4 Visual, H.263 and Motion
// JPEG samples open with their start codes). A file whose media data was split or cut by a file
// system, or overwritten, breaks at the first sample that fails: truncated there, at the last byte
// read sound before it (rounded on to the next sector boundary, never past that sample). Tables
// that do not parse prove nothing, and the walk's extent stands.
class QuickTimeExtent {
  public:
    static Extent measure(EvidenceReader& evidence, std::int64_t H);

    // The movie's parts (a PartsReader): every chunk of every track, from its offset over the
    // sizes of its samples, those next to each other or overlapping merged into one, within the
    // file's first `length` bytes.
    static void parts(EvidenceReader& evidence, std::int64_t H, std::uint64_t length,
                      std::vector<Part>& parts);

    static constexpr std::uint64_t maxFileTypeSize = 4096;
    // A fragmented movie has two boxes per fragment; a million is hours of one-second fragments.
    static constexpr std::uint64_t maxBoxes = std::uint64_t{1} << 20;
    // Every sample over the media data's first so many bytes is checked, then an even spread of
    // at most spreadChecks samples over the rest (a few reads each, wherever the movie is long).
    static constexpr std::uint64_t checkedSpan = std::uint64_t{32} << 20;
    static constexpr std::size_t spreadChecks = 1024;
};

} // namespace morrow
