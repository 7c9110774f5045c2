#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace morrow {

// The hexadecimal digits, for digests (lower case) and for XML references and percent escapes
// (upper case).
inline constexpr char lowerHexDigits[] = "0123456789abcdef";
inline constexpr char upperHexDigits[] = "0123456789ABCDEF";

// Two lower-case hex digits per byte.
std::string toLowerHex(const unsigned char* bytes, std::size_t count);

// A whole decimal number that fits 32 bits, nothing before or after it: how a number typed by
// the examiner (the maximum size) is read. False for anything else, `out` then unchanged.
bool parseInteger(const std::string& text, std::int32_t& out);

} // namespace morrow
