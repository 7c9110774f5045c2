// GIF, "Graphics Interchange Format Version 89a" (CompuServe, 1990), sections 17 to 27; a GIF87a
// file has the same block structure.
//
// Header (17) and Logical Screen Descriptor (18), 13 bytes:
//   Signature and Version          6 bytes, "GIF87a" or "GIF89a"
//   Logical Screen Width, Height   2 bytes each, little-endian
//   Packed fields                  1 byte: bit 7 Global Color Table Flag, bits 0-2 its size N:
//                                  the table follows with 3 * 2^(N+1) bytes
//   Background Color Index         1 byte
//   Pixel Aspect Ratio             1 byte
// Then blocks, each opened by one byte:
//   21  an extension: a label byte, then data sub-blocks (sections 23 to 26)
//   2C  an Image Descriptor (20), 10 bytes with the 2C: left, top, width, height (2 bytes each),
//       packed fields (bit 7 Local Color Table Flag, bits 0-2 its size, as above); then the local
//       colour table, the LZW Minimum Code Size byte and the image data's sub-blocks (22)
//   3B  the Trailer (27): the end of the file
// Data sub-blocks (15): a size byte 1..255 and that many bytes, ended by a size byte 0.
#include "formats/GifExtent.h"

#include "evidence/EvidenceReader.h"
#include "formats/BlockWindow.h"
#include "formats/GifLzw.h"

#include <cstring>
#include <optional>

namespace morrow {

namespace {

// Colour table bytes for a packed-fields byte whose flag is bit 7 and size bits 0-2.
std::uint64_t colourTable(unsigned char packed) {
    return (packed & 0x80) != 0 ? 3ULL << ((packed & 0x07) + 1) : 0;
}

// Steps through data sub-blocks in a block the walk owns: a sub-block is at most 256 bytes with
// its size, so one block read covers hundreds of them.
class SubBlocks {
  public:
    SubBlocks(EvidenceReader& evidence, std::uint64_t size)
        : window_(evidence, GifExtent::blockSize), size_(size) {}

    // The offset after the terminating size byte 0 of the sub-blocks from `from` on, or nothing
    // when the evidence ends first.
    std::optional<std::uint64_t> skip(std::uint64_t from) {
        for (std::uint64_t p = from; p < size_;) {
            if (window_.load(p) == 0) {
                break;
            }
            const unsigned n = *window_.at(p);
            if (n == 0) {
                return p + 1;
            }
            p += 1 + n;
        }
        return std::nullopt;
    }

    // The offset after the terminator of an image's data sub-blocks from `from` on, decoded as
    // they go: nothing when a code names no entry, the codes make more pixels than the frame has
    // or too few by the terminator, a sub-block follows the one holding the end code, or (`cut`
    // set) the evidence ends first.
    std::optional<std::uint64_t> decode(std::uint64_t from, GifLzw& lzw, bool& cut) {
        cut = true;
        for (std::uint64_t p = from; p < size_;) {
            if (window_.load(p) == 0) {
                return std::nullopt;
            }
            const unsigned n = *window_.at(p);
            if (n == 0) {
                cut = false;
                return lzw.pixels == lzw.target ? std::optional(p + 1) : std::nullopt;
            }
            if (lzw.ended) {
                cut = false;
                return std::nullopt;
            }
            for (std::uint64_t q = p + 1; q < p + 1 + n;) {
                const std::size_t held = q < size_ ? window_.load(q) : 0;
                if (held == 0) {
                    return std::nullopt;
                }
                const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(held, p + 1 + n - q));
                if (!lzw.feed(window_.at(q), take)) {
                    cut = false;
                    return std::nullopt;
                }
                q += take;
            }
            p += 1 + n;
        }
        return std::nullopt;
    }

  private:
    BlockWindow window_;
    std::uint64_t size_;
};

} // namespace

Extent GifExtent::measure(EvidenceReader& evidence, std::int64_t H) {
    const std::uint64_t size = evidence.size();
    if (H < 0 || static_cast<std::uint64_t>(H) >= size) {
        return Extent::rejected("candidate outside the evidence");
    }
    const auto start = static_cast<std::uint64_t>(H);
    unsigned char header[13] = {};
    evidence.readAt(H, header, sizeof header);
    if (std::memcmp(header, "GIF87a", 6) != 0 && std::memcmp(header, "GIF89a", 6) != 0) {
        return Extent::rejected("no GIF87a or GIF89a header");
    }
    // The end of the last whole block: where the next block must begin.
    std::uint64_t pos = start + 13 + colourTable(header[10]);
    if (pos > size) {
        return Extent::rejected("the colour table runs past the evidence");
    }

    SubBlocks subBlocks(evidence, size);
    GifLzw lzw;
    // A GIF without one whole image is no picture, however sound its extensions.
    bool pictured = false;
    auto broken = [&](const char* why) {
        return pictured ? Extent::found(pos - start, true) : Extent::rejected(why);
    };

    for (;;) {
        if (pos >= size) {
            return broken("the evidence ends before the next block");
        }
        unsigned char block[10] = {};
        evidence.readAt(static_cast<std::int64_t>(pos), block, sizeof block);
        std::uint64_t data = 0; // where the block's sub-blocks begin
        switch (block[0]) {
        case 0x3B:
            return pictured ? Extent::found(pos + 1 - start)
                            : Extent::rejected("no image before the trailer");
        case 0x21:
            data = pos + 2; // after the label
            break;
        case 0x2C: {
            const std::uint64_t codeSizeAt = pos + 10 + colourTable(block[9]);
            if (codeSizeAt >= size) {
                return broken("an image descriptor that runs past the evidence");
            }
            const unsigned codeSize = evidence.u8(static_cast<std::int64_t>(codeSizeAt));
            if (codeSize < 2 || codeSize > 8) {
                return broken("an impossible LZW minimum code size");
            }
            const std::uint64_t pixels = std::uint64_t{le16(block + 5)} * le16(block + 7);
            if (pixels == 0) {
                return broken("an image without pixels");
            }
            lzw.start(codeSize, pixels);
            bool cut = false;
            const std::optional<std::uint64_t> end = subBlocks.decode(codeSizeAt + 1, lzw, cut);
            if (!end) {
                return broken(cut ? "image data that runs past the evidence"
                                  : "image data that does not decode to the frame's pixels");
            }
            pos = *end;
            pictured = true;
            continue;
        }
        default:
            return broken("no block introducer");
        }
        const std::optional<std::uint64_t> end = subBlocks.skip(data);
        if (!end) {
            return broken("sub-blocks that run past the evidence");
        }
        pos = *end;
        pictured = pictured || block[0] == 0x2C;
    }
}

} // namespace morrow
