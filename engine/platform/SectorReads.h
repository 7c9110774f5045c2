#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace morrow {

// Disks and volumes opened as devices (\\.\PhysicalDrive1, \\.\E: on Windows) read only whole
// sectors: every read must start at a multiple of the sector size and ask for a multiple of it.
// readInWholeSectors serves any byte range from such a device. `readSectors(offset, out, length)`
// is only ever called with `offset` and `length` multiples of `sectorSize` and returns the bytes
// it delivered (fewer at the device's end or on failure). Returns the bytes of [offset,
// offset + length) delivered to `out`, in order; fewer only where the device gave fewer.
using SectorReadFunction = std::function<std::size_t(std::uint64_t offset, void* out, std::size_t length)>;
std::size_t readInWholeSectors(std::uint64_t offset, void* out, std::size_t length, std::uint32_t sectorSize,
                               const SectorReadFunction& readSectors);

} // namespace morrow
