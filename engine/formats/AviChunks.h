#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace morrow::avi {

// What an AVI's exact end (RiffExtent) and its join (FragmentJoin::avi) both read of its chunks:
// the four-character codes, the Motion-JPEG frames of its movie list, and the legacy index 'idx1'
// held against the chunks a walk saw.

// Four printable characters.
bool code(const unsigned char* p);

// A stream format ('strf') whose compression code (at its byte 16) is Motion JPEG.
bool motionJpeg(const unsigned char* compression);

// The stream number of a video frame chunk ("00dc", "01db" ...), -1 for any other id.
int frameStream(const unsigned char* id);

// A chunk of the movie list: where its header starts, in the file, and what it says.
struct Chunk {
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    unsigned char id[4] = {};
};

// One Motion-JPEG frame's marker walk over its bytes b[0, have) of `n` (have <= n).
struct FrameMarkers {
    bool ok = false;
    std::uint64_t failAt = 0; // the frame's byte at which it failed
    std::size_t end = 0;      // past its end marker (a whole walk)
    std::size_t entropy = 0;  // where the first scan's coded data begins (a whole walk), 0: none
};
// `whole`: the frame is one JPEG from its start marker to its end marker, through its coded data
// (have == n). Otherwise only its head is walked: a start marker and marker segments that fit the
// frame, up to its first scan or as far as the `have` bytes go.
FrameMarkers frameMarkers(const unsigned char* b, std::size_t have, std::uint64_t n, bool whole);

// Holds the entries of 'idx1' against the chunks of the movie list, block by block. An entry
// gives a chunk's id, flags, offset and size; the offset counts from the movie list's type code or
// (some writers) from the file's first byte, so both are tried and the one that stands longer is
// the writer's.
class IndexCheck {
  public:
    static constexpr std::size_t entrySize = 16;

    // `chunks` by offset; `movi` the offset of the movie list's type code. Entries naming an
    // offset at or past `judgedTo` are not judged: the walk kept no chunks there.
    IndexCheck(const std::vector<Chunk>& chunks, std::uint64_t movi,
               std::uint64_t judgedTo = ~std::uint64_t{0})
        : chunks_(chunks), bases_{movi, 0}, judgedTo_(judgedTo) {}

    // Whole entries, `n` bytes.
    void add(const unsigned char* entries, std::size_t n);
    // The entries from the first that name chunks under the base that stood longer.
    std::uint64_t stood() const;
    // Every entry added names a chunk, under one base.
    bool whole() const { return firstBad_[0] == none || firstBad_[1] == none; }

  private:
    static constexpr std::uint64_t none = ~std::uint64_t{0};
    const std::vector<Chunk>& chunks_;
    std::uint64_t bases_[2];
    std::uint64_t judgedTo_;
    std::uint64_t entries_ = 0;
    std::uint64_t firstBad_[2] = {none, none};
};

} // namespace morrow::avi
