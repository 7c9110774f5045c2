#include "base/Text.h"

#include <cctype>
#include <climits>

namespace morrow {

std::string toLowerHex(const unsigned char* bytes, std::size_t count) {
    std::string text(count * 2, '0');
    for (std::size_t i = 0; i < count; ++i) {
        text[2 * i] = lowerHexDigits[bytes[i] >> 4];
        text[2 * i + 1] = lowerHexDigits[bytes[i] & 0x0F];
    }
    return text;
}

std::optional<long long> parseWhole(std::string_view text) {
    auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    // Gathered as a negative number, whose range reaches one further than the positive one.
    long long value = 0;
    for (char c : text) {
        const int digit = c - '0';
        if (digit < 0 || digit > 9 || value < (LLONG_MIN + digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == LLONG_MIN) {
            return std::nullopt;
        }
        value = -value;
    }
    return value;
}

std::optional<std::int32_t> parseInteger(std::string_view text) {
    const std::optional<long long> value = parseWhole(text);
    if (!value || *value < INT_MIN || *value > INT_MAX) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(*value);
}

} // namespace morrow
