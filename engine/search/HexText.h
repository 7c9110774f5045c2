#pragma once

#include <cstdint>
#include <string>

namespace morrow {

// How fromBytes writes one byte. Both styles write a zero byte as the single digit "0".
enum class HexStyle {
    Compact = 0, // "%X" per byte: 0x0A gives "A"
    Padded = 1,  // "%02X" per byte: 0x0A gives "0A"
};

// Signatures are held as upper-case hex text ("FFD8FF"), lists of them joined by commas, and
// bytes read from the evidence are often tested by turning them into hex text and comparing that
// text with a literal. These are the conversions.
class HexText {
  public:
    // Hex text of the first `count` bytes; "" when count <= 0.
    static std::string fromBytes(const unsigned char* bytes, int count, HexStyle style);
    // "0".."9", "A".."F" for 0..15; "" for anything else.
    static std::string digit(int value);
    // Value of the first `count` characters in `base` (2..36), case-insensitive, 32-bit wrapping;
    // characters that are not digits of the base are skipped. count <= 0 gives 0.
    static std::int32_t parse(const std::string& text, int count, int base);
    // The bytes of a hex text signature, one char per byte, a 00 byte held as '0' (0x30) so that
    // a signature never holds a zero. An empty text gives no bytes.
    static std::string toBytes(const std::string& hex);
    // The bytes of a hex text as they are, zeros included.
    static std::string toRawBytes(const std::string& hex);
    // The n-th field (from 1) of a `separator`-separated list, or "" when there is none.
    static std::string listField(const std::string& list, int n, char separator);
};

} // namespace morrow
