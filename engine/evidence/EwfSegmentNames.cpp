#include "evidence/EwfSegmentNames.h"

#include "platform/FileSystem.h"

namespace morrow {

std::string nextEwfSegmentName(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.find_last_of(pathSeparators);
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || path.size() - dot != 4) {
        return {};
    }
    std::string s = path.substr(dot + 1);
    auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!letter(s[0])) {
        return {};
    }
    const bool lower = s[0] >= 'a';
    if (digit(s[1]) && digit(s[2])) {
        // .E01 to .E99, then letters from .EAA
        const int n = (s[1] - '0') * 10 + (s[2] - '0') + 1;
        if (n <= 99) {
            s[1] = static_cast<char>('0' + n / 10);
            s[2] = static_cast<char>('0' + n % 10);
        } else {
            s[1] = s[2] = lower ? 'a' : 'A';
        }
        return path.substr(0, dot + 1) + s;
    }
    if (!letter(s[1]) || !letter(s[2])) {
        return {};
    }
    const char z = lower ? 'z' : 'Z';
    const char a = lower ? 'a' : 'A';
    for (int i = 2; i >= 0; --i) {
        if (s[static_cast<std::size_t>(i)] != z) {
            ++s[static_cast<std::size_t>(i)];
            return path.substr(0, dot + 1) + s;
        }
        s[static_cast<std::size_t>(i)] = a;
    }
    return {}; // past .ZZZ
}

std::string ewfSegmentFileName(const std::string& path) {
    return baseName(path);
}

} // namespace morrow
