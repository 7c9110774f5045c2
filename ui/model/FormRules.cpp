#include "FormRules.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <string>

namespace morrow::form {

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

bool flagValue(std::string_view text) {
    if (text.empty() || text == "0") {
        return false;
    }
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower != "false";
}

} // namespace morrow::form
