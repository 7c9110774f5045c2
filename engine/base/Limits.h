#pragma once

#include <cstddef>
#include <cstdint>

namespace morrow {

// Every default and limit more than one part of Morrow needs, in one place.
namespace limits {
// The maximum size setting in KB: its default, its range, and the bytes of one KB.
inline constexpr std::int32_t defaultMaxFileSizeKB = 1024;
inline constexpr std::int32_t minMaxFileSizeKB = 1;
inline constexpr std::int32_t maxMaxFileSizeKB = 10240;
inline constexpr std::uint64_t bytesPerKB = 1024;
// Headers are looked for at sector starts; the report counts sectors of this size.
inline constexpr std::int64_t sectorSize = 512;
} // namespace limits

} // namespace morrow
