#include "search/HexText.h"

#include <cctype>

namespace morrow {

namespace {
const char* const upperDigits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
}

std::string HexText::fromBytes(const unsigned char* bytes, int count, HexStyle style) {
    std::string out;
    if (count <= 0) {
        return out;
    }
    out.reserve(static_cast<std::size_t>(count) * 2);
    for (int i = 0; i < count; ++i) {
        unsigned v = bytes[i];
        bool single = (style == HexStyle::Compact) ? v < 16 : v == 0;
        if (!single) {
            out.push_back(upperDigits[v >> 4]);
        }
        out.push_back(upperDigits[v & 0x0F]);
    }
    return out;
}

std::string HexText::digit(int value) {
    if (value < 0 || value > 15) {
        return {};
    }
    return std::string(1, upperDigits[value]);
}

std::int32_t HexText::parse(const std::string& text, int count, int base) {
    if (count <= 0 || base < 2 || base > 36) {
        return 0;
    }
    std::uint32_t value = 0; // unsigned so that the wrap is defined
    int limit = count < static_cast<int>(text.size()) ? count : static_cast<int>(text.size());
    for (int i = 0; i < limit; ++i) {
        char c =
            static_cast<char>(std::toupper(static_cast<unsigned char>(text[static_cast<std::size_t>(i)])));
        int d = -1;
        for (int k = 0; k < base; ++k) {
            if (upperDigits[k] == c) {
                d = k;
                break;
            }
        }
        if (d >= 0) {
            value = value * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(d);
        }
    }
    return static_cast<std::int32_t>(value);
}

std::string HexText::toBytes(const std::string& hex) {
    std::string bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        std::string pair = hex.substr(i, 2);
        auto v = static_cast<unsigned>(parse(pair, 2, 16)) & 0xFFu;
        bytes.push_back(v == 0 ? '0' : static_cast<char>(static_cast<unsigned char>(v)));
    }
    return bytes;
}

std::string HexText::toRawBytes(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(static_cast<unsigned char>(parse(hex.substr(i, 2), 2, 16) & 0xFF)));
    }
    return bytes;
}

std::string HexText::listField(const std::string& list, int n, char separator) {
    if (n <= 0) {
        return {};
    }
    int fields = 1;
    for (char c : list) {
        if (c == separator) {
            ++fields;
        }
    }
    if (n > fields) {
        return {};
    }
    std::size_t start = 0;
    for (int i = 1; i < n; ++i) {
        start = list.find(separator, start) + 1;
    }
    std::size_t end = list.find(separator, start);
    return list.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

} // namespace morrow
