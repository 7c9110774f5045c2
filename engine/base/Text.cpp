#include "base/Text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace morrow {

std::string toLowerHex(const unsigned char* bytes, std::size_t count) {
    std::string text(count * 2, '0');
    for (std::size_t i = 0; i < count; ++i) {
        text[2 * i] = lowerHexDigits[bytes[i] >> 4];
        text[2 * i + 1] = lowerHexDigits[bytes[i] & 0x0F];
    }
    return text;
}

bool parseInteger(const std::string& text, std::int32_t& out) {
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) {
        return false;
    }
    out = static_cast<std::int32_t>(v);
    return true;
}

} // namespace morrow
