#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace morrow {

class EvidenceReader;
struct PieceLayout;

// A movie box's sample tables (ISO/IEC 14496-12, 8.7.3 to 8.7.5) as every sample's offset from
// the file's first byte and size, with how each track's samples begin (ISO/IEC 14496-15, 5.3.3
// and 8.3.3): what the exact reader proves the media data with, what a movie's parts are, and what
// the join proves a gap with.
class QuickTimeMovie {
  public:
    // How a track's samples begin.
    enum class Start { Unchecked, Nal, StartCode, H263, Jpeg };

    struct Track {
        Start start = Start::Unchecked;
        unsigned lengthSize = 4; // of a NAL unit's length
    };

    struct Sample {
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
        std::size_t track = 0;
    };

    std::vector<Track> tracks;
    // Track by track, each track's chunks in order, each chunk's samples one after another.
    std::vector<Sample> samples;

    // The samples of the movie box whose payload (after its header) is `movie`, or nothing when
    // its tables do not parse, place no sample or more than `limit` (at most maxSamples): a few
    // bytes of tables may claim millions of samples of a fixed size, and a reader that can tell
    // how many the file has room for holds them to that.
    static std::optional<QuickTimeMovie> read(const std::vector<unsigned char>& movie,
                                              std::size_t limit = maxSamples);
    // The same for the movie box of `size` bytes (header included) at the evidence offset `at`:
    // nothing for a box over maxMovie.
    static std::optional<QuickTimeMovie> read(EvidenceReader& evidence, std::uint64_t at, std::uint64_t size,
                                              std::size_t header, std::size_t limit = maxSamples);

    // The sample's first bytes (8 of them at `p`) are its codec's.
    static bool startHolds(const unsigned char* p, const Track& track, std::uint64_t size);
    // The sample, its bytes read through `layout`, is a chain of NAL units that fills it exactly.
    // `checked` (when given) gets the file offset just past the last byte the chain read and found
    // sound: the last length prefix and NAL header that held.
    static bool nalChainHolds(EvidenceReader& evidence, const PieceLayout& layout, const Sample& sample,
                              const Track& track, std::uint64_t* checked = nullptr);

    // The largest movie box read, and the most samples followed.
    static constexpr std::uint64_t maxMovie = std::uint64_t{64} << 20;
    static constexpr std::size_t maxSamples = std::size_t{1} << 22;
};

} // namespace morrow
