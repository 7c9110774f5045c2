#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace morrow {

// The LZW decode of one frame (GIF89a appendix F) as far as it proves the image data: every code
// names an entry the table has (or the next), and how many pixels the codes make. No pixel is
// made: each table entry keeps only its string's length.
struct GifLzw {
    unsigned minimum = 0;
    unsigned codeSize = 0;
    unsigned next = 0;
    int previous = -1;
    bool ended = false; // its end-of-information code was met
    // A code past the frame's last pixel, without an end code: the last byte's padding, so long as
    // no byte follows.
    bool overrun = false;
    std::uint32_t bits = 0;
    unsigned bitCount = 0;
    std::uint64_t pixels = 0;
    std::uint64_t target = 0;
    std::array<std::uint16_t, 4096> length{}; // of each table entry's string

    void start(unsigned minimumSize, std::uint64_t pixelCount) {
        minimum = minimumSize;
        target = pixelCount;
        pixels = 0;
        bits = 0;
        bitCount = 0;
        ended = false;
        overrun = false;
        clear();
    }
    // This decode's state, from `other`: of its table only the entries made so far, which are
    // all a decode reads before it makes more (a trial at every sector copies it each time).
    void resumeFrom(const GifLzw& other) {
        minimum = other.minimum;
        codeSize = other.codeSize;
        next = other.next;
        previous = other.previous;
        ended = other.ended;
        overrun = other.overrun;
        bits = other.bits;
        bitCount = other.bitCount;
        pixels = other.pixels;
        target = other.target;
        std::copy(other.length.begin(), other.length.begin() + std::min<unsigned>(other.next, 4096),
                  length.begin());
    }
    void clear() {
        codeSize = minimum + 1;
        next = (1u << minimum) + 2;
        previous = -1;
        std::fill(length.begin(), length.begin() + (1u << minimum), std::uint16_t{1});
    }
    // False at a code that names no entry, or too many pixels.
    bool feed(const unsigned char* data, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (!feed(data[i])) {
                return false;
            }
        }
        return true;
    }
    bool feed(unsigned char byte) {
        if (ended) {
            return true; // the bits after the end code are padding
        }
        if (overrun) {
            return false;
        }
        bits |= static_cast<std::uint32_t>(byte) << bitCount;
        bitCount += 8;
        while (bitCount >= codeSize && !ended) {
            const unsigned code = bits & ((1u << codeSize) - 1);
            bits >>= codeSize;
            bitCount -= codeSize;
            const unsigned clearCode = 1u << minimum;
            if (code == clearCode) {
                clear();
                continue;
            }
            if (code == clearCode + 1) {
                // The frame's pixels are final here, and the terminator would find them short:
                // fail now, not after whatever sub-blocks follow.
                ended = true;
                if (pixels != target) {
                    return false;
                }
                break;
            }
            if (pixels == target) {
                overrun = true;
                break;
            }
            if (previous < 0) {
                if (code >= clearCode) {
                    return false;
                }
                pixels += 1;
            } else {
                std::uint64_t made = 0;
                if (code < next) {
                    made = length[code];
                } else if (code == next && next < 4096) {
                    made = length[static_cast<unsigned>(previous)] + 1u;
                } else {
                    return false;
                }
                pixels += made;
                if (next < 4096) {
                    length[next] = static_cast<std::uint16_t>(
                        std::min<unsigned>(length[static_cast<unsigned>(previous)] + 1u, 0xFFFF));
                    ++next;
                    if (next == (1u << codeSize) && codeSize < 12) {
                        ++codeSize;
                    }
                }
            }
            previous = static_cast<int>(code);
            if (pixels > target) {
                return false;
            }
        }
        return true;
    }
};

} // namespace morrow
