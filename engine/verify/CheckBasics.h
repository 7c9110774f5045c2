#pragma once

#include "output/FileVerdict.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace morrow {

// What every check of a carved file shares: its bytes, the limits that keep a hostile file from
// taking the machine's memory or time, and the words of a verdict.
namespace check {

// A carved file read whole into memory.
struct Bytes {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
};

// Files larger than this are not read for a check: carves are 10 MiB at most unless a format
// measured them, and a check holds the whole file.
inline constexpr std::uint64_t maxFileBytes = std::uint64_t{256} << 20;
// Pictures claiming more pixels than this (a 9000 by 9000 photograph) are not decoded: a forged
// header must not make a decoder allocate gigabytes.
inline constexpr std::uint64_t maxPixels = 81'000'000;

inline FileVerdict opens() {
    return FileVerdict{FileVerdict::State::Opens, {}};
}
inline FileVerdict damaged(std::string fault) {
    return FileVerdict{FileVerdict::State::Damaged, std::move(fault)};
}
inline FileVerdict notChecked() {
    return FileVerdict{};
}
// Not checked, saying why: more work than a check may take, or a check cut short ("the check ran
// past 12 s").
inline FileVerdict notChecked(std::string why) {
    return FileVerdict{FileVerdict::State::NotChecked, std::move(why)};
}

// "61 %": how far `part` is through `whole`, rounded down so that a picture cut in its last row
// never reads as 100 %.
inline std::string percent(std::uint64_t part, std::uint64_t whole) {
    if (whole == 0) {
        return "0 %";
    }
    const std::uint64_t p = part >= whole ? 100 : part * 100 / whole;
    return std::to_string(p == 100 && part < whole ? 99 : p) + " %";
}

inline std::uint32_t be32(const unsigned char* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}
inline std::uint16_t be16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}
inline std::uint32_t le32(const unsigned char* p) {
    return std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
}
inline std::uint16_t le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[1] << 8 | p[0]);
}

} // namespace check

} // namespace morrow
