#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morrow {

// The hexadecimal digits, for digests (lower case) and for XML references and percent escapes
// (upper case).
inline constexpr char lowerHexDigits[] = "0123456789abcdef";
inline constexpr char upperHexDigits[] = "0123456789ABCDEF";

// Two lower-case hex digits per byte.
std::string toLowerHex(const unsigned char* bytes, std::size_t count);

// A whole decimal number as the examiner types it, in the dialog's size box or after -s: blanks
// around it are ignored and a sign may lead. Nothing for anything else, the empty text among it,
// or for a number beyond 64 bits. Read digit by digit, so no locale has a say.
std::optional<long long> parseWhole(std::string_view text);

// The same within 32 bits: the maximum size's rule.
std::optional<std::int32_t> parseInteger(std::string_view text);

} // namespace morrow
