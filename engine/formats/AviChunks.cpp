// AVI (Microsoft's RIFF "AVI " form): every chunk is a four-character code and a little-endian
// size, its data padded to an even length; a LIST chunk holds a list type and chunks of its own.
// A Motion-JPEG frame ("##dc" of a stream whose 'strf' says "MJPG") is one JPEG: a start marker,
// marker segments of a big-endian length each, entropy-coded data whose FF bytes are stuffed or
// restart markers, an end marker.
#include "formats/AviChunks.h"

#include "evidence/EvidenceReader.h"

#include <algorithm>
#include <cstring>

namespace morrow::avi {

bool code(const unsigned char* p) {
    return std::all_of(p, p + 4, [](unsigned char c) { return c >= 0x20 && c <= 0x7E; });
}

bool motionJpeg(const unsigned char* compression) {
    return std::memcmp(compression, "MJPG", 4) == 0 || std::memcmp(compression, "mjpg", 4) == 0;
}

int frameStream(const unsigned char* id) {
    const bool digits = id[0] >= '0' && id[0] <= '9' && id[1] >= '0' && id[1] <= '9';
    if (!digits || id[2] != 'd' || (id[3] != 'c' && id[3] != 'b')) {
        return -1;
    }
    return (id[0] - '0') * 10 + (id[1] - '0');
}

FrameMarkers frameMarkers(const unsigned char* b, std::size_t have, std::uint64_t n, bool whole) {
    FrameMarkers walk;
    auto fail = [&walk](std::uint64_t at) {
        walk.failAt = at;
        return walk;
    };
    auto sound = [&walk] {
        walk.ok = true;
        return walk;
    };
    if (n < 4 || have < 2 || b[0] != 0xFF || b[1] != 0xD8) {
        return fail(std::min<std::uint64_t>(n, 2) - 1);
    }
    const std::size_t last = have - 1;
    std::size_t i = 2;
    bool scan = false;
    while (true) {
        if (scan) {
            while (i < have && b[i] != 0xFF) {
                ++i;
            }
            if (i + 1 >= have) {
                return fail(n - 1);
            }
            const unsigned char m = b[i + 1];
            if (m == 0 || (m >= 0xD0 && m <= 0xD7)) {
                i += 2;
                continue;
            }
            if (m == 0xFF) {
                ++i;
                continue;
            }
            scan = false;
        }
        if (!whole && i + 2 > have && i + 2 <= n) {
            return sound(); // the head read ends inside the frame
        }
        if (i + 2 > have || b[i] != 0xFF) {
            return fail(std::min(i, last));
        }
        while (i + 2 < have && b[i + 1] == 0xFF) {
            ++i;
        }
        const unsigned char m = b[i + 1];
        if (m == 0xD9 && whole) {
            walk.end = i + 2;
            return sound();
        }
        // (Before a scan, an end marker is no frame's either.)
        const bool marker = m != 0 && m != 1 && (m < 0xD0 || m > 0xD9);
        if (marker && !whole && i + 4 > have && i + 4 <= n) {
            return sound();
        }
        if (!marker || i + 4 > have) {
            return fail(std::min(i + 1, last));
        }
        const std::size_t length = (std::size_t{b[i + 2]} << 8) | b[i + 3];
        if (length < 2 || length > n - i - 2) {
            return fail(std::min(i + 3, last));
        }
        i += 2 + length;
        scan = m == 0xDA;
        if (scan && !whole) {
            return sound();
        }
        if (scan && walk.entropy == 0) {
            walk.entropy = i;
        }
    }
}

void IndexCheck::add(const unsigned char* entries, std::size_t n) {
    auto byOffset = [](const Chunk& c, std::uint64_t offset) { return c.offset < offset; };
    for (std::size_t k = 0; k + entrySize <= n; k += entrySize, ++entries_) {
        const unsigned char* entry = entries + k;
        for (int b = 0; b < 2; ++b) {
            if (firstBad_[b] != none) {
                continue;
            }
            const std::uint64_t offset = bases_[b] + le32(entry + 8);
            if (offset >= judgedTo_) {
                continue;
            }
            const auto found = std::lower_bound(chunks_.begin(), chunks_.end(), offset, byOffset);
            if (found == chunks_.end() || found->offset != offset || found->size != le32(entry + 12) ||
                std::memcmp(found->id, entry, 4) != 0) {
                firstBad_[b] = entries_;
            }
        }
    }
}

std::uint64_t IndexCheck::stood() const {
    std::uint64_t best = 0;
    for (const std::uint64_t bad : firstBad_) {
        best = std::max(best, bad == none ? entries_ : bad);
    }
    return best;
}

} // namespace morrow::avi
