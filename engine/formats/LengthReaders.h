#pragma once

#include <cstdint>
#include <optional>

namespace morrow {

class EvidenceReader;

// The container a video length reader recognised; it picks the carved file's extension.
enum class VideoContainer : std::uint8_t { None = 0, Avi = 1, Dat = 2, Mp4 = 3, Mov = 4, ThreeGp = 5 };

// The extension of a container's files, with its dot; null for None.
const char* videoExtension(VideoContainer container);

struct VideoLength {
    std::uint64_t length = 0; // bytes, as the data states it
    VideoContainer container = VideoContainer::None;
};

// The length readers of the size-driven carver: each looks at a few fields of one candidate,
// found by the header scan at the evidence offset H, and says whether the candidate is of its
// format and how long it is. They read only through the evidence reader (zeros past its end),
// show nothing and never poll. A length is taken as the data states it; the carver clips it at
// the end of the evidence, so none of them allocates or reads anything in proportion to it.
class LengthReaders {
  public:
    // BMP: true when the low byte of the info header's size (H + 14) is 0x28 (Windows, 40 bytes),
    // 0x0C (OS/2, 12 bytes) or 0xF0.
    static bool checkBitmap(EvidenceReader& evidence, std::int64_t H);

    // Linearized PDF: the /L value of the linearization dictionary whose "Linearized" keyword
    // lies within the first 512 bytes; nothing when there is none.
    static std::optional<std::uint64_t> readPdfLinearized(EvidenceReader& evidence, std::int64_t H);

    // ASF: the File Size field of the File Properties Object whose identifier begins within the
    // 512 bytes after the header object's 8-byte signature; nothing when there is none.
    static std::optional<std::uint64_t> readAsfFileSize(EvidenceReader& evidence, std::int64_t H);

    // RIFF (quickTime false, H at "RIFF") or QuickTime family (quickTime true, H at the ftyp
    // box's size): the length in bytes and the container; nothing for another form or brand.
    static std::optional<VideoLength> readVideoLength(EvidenceReader& evidence, std::int64_t H,
                                                      bool quickTime);

    // The most bytes of top-level QuickTime boxes one walk adds up before it stops.
    static constexpr std::uint64_t quickTimeWalkLimit = 10485760;
};

} // namespace morrow
