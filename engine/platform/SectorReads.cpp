#include "platform/SectorReads.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace morrow {

std::size_t readInWholeSectors(std::uint64_t offset, void* outVoid, std::size_t length,
                               std::uint32_t sectorSize, const SectorReadFunction& readSectors) {
    auto* out = static_cast<unsigned char*>(outVoid);
    if (sectorSize <= 1) {
        return readSectors(offset, out, length);
    }
    std::size_t done = 0;
    std::vector<unsigned char> sector;
    while (done < length) {
        const std::uint64_t at = offset + done;
        const std::uint64_t within = at % sectorSize;
        const std::size_t left = length - done;
        if (within == 0 && left >= sectorSize) {
            // The whole sectors in the middle go straight into the caller's buffer.
            const std::size_t whole = left - left % sectorSize;
            const std::size_t got = readSectors(at, out + done, whole);
            done += got;
            if (got < whole) {
                break;
            }
            continue;
        }
        // A partial sector at either end goes through a sector of our own.
        sector.resize(sectorSize);
        const std::size_t got = readSectors(at - within, sector.data(), sectorSize);
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(left, sectorSize - within));
        const std::size_t usable =
            got > within ? std::min<std::size_t>(take, got - static_cast<std::size_t>(within)) : 0;
        std::memcpy(out + done, sector.data() + within, usable);
        done += usable;
        if (usable < take) {
            break;
        }
    }
    return done;
}

} // namespace morrow
