#include "search/PatternSearch.h"

#include <algorithm>
#include <cstring>

namespace morrow {

void PatternSearch::prepareBadCharTable(const unsigned char* pattern, int m, BadCharTable& table) {
    table.fill(m);
    for (int i = 0; i < m - 1; ++i) {
        table[pattern[i]] = m - 1 - i;
    }
}

void PatternSearch::prepareGoodSuffixTable(const unsigned char* pattern, int m, GoodSuffixTable& table) {
    table.assign(static_cast<std::size_t>(m), m);
    if (m <= 0) {
        return;
    }
    std::vector<int> suff(static_cast<std::size_t>(m));
    suff[static_cast<std::size_t>(m - 1)] = m;
    int g = m - 1;
    int f = 0;
    for (int i = m - 2; i >= 0; --i) {
        if (i > g && suff[static_cast<std::size_t>(i + m - 1 - f)] < i - g) {
            suff[static_cast<std::size_t>(i)] = suff[static_cast<std::size_t>(i + m - 1 - f)];
        } else {
            if (i < g) {
                g = i;
            }
            f = i;
            while (g >= 0 && pattern[g] == pattern[g + m - 1 - f]) {
                --g;
            }
            suff[static_cast<std::size_t>(i)] = f - g;
        }
    }
    int j = 0;
    for (int i = m - 1; i >= 0; --i) {
        if (suff[static_cast<std::size_t>(i)] == i + 1) {
            for (; j < m - 1 - i; ++j) {
                if (table[static_cast<std::size_t>(j)] == m) {
                    table[static_cast<std::size_t>(j)] = m - 1 - i;
                }
            }
        }
    }
    for (int i = 0; i <= m - 2; ++i) {
        table[static_cast<std::size_t>(m - 1 - suff[static_cast<std::size_t>(i)])] = m - 1 - i;
    }
}

std::optional<std::int64_t> PatternSearch::find(const unsigned char* pattern, int m,
                                                const unsigned char* block, std::int64_t blockOffset,
                                                std::uint32_t n, const BadCharTable& badChar,
                                                const GoodSuffixTable& goodSuffix, bool zeroBefore) {
    if (m <= 0 || n < static_cast<std::uint32_t>(m)) {
        return std::nullopt;
    }
    const std::int64_t last = static_cast<std::int64_t>(n) - m;
    if (!zeroBefore) {
        // Without the GIF rule the answer is simply the first occurrence, and memchr on the
        // pattern's first byte finds it many times faster than the table shifts do for the
        // two- to ten-byte patterns Morrow searches (a 2-byte pattern shifts by 2 at most).
        const unsigned char* p = block;
        const unsigned char* end = block + last + 1;
        while (p < end) {
            p = static_cast<const unsigned char*>(
                std::memchr(p, pattern[0], static_cast<std::size_t>(end - p)));
            if (p == nullptr) {
                return std::nullopt;
            }
            if (std::memcmp(p + 1, pattern + 1, static_cast<std::size_t>(m - 1)) == 0) {
                return blockOffset + (p - block);
            }
            ++p;
        }
        return std::nullopt;
    }
    std::int64_t j = 0;
    while (j <= last) {
        int i = m - 1;
        while (i >= 0 && pattern[i] == block[i + j]) {
            --i;
        }
        if (i >= 0) {
            unsigned char c = block[i + j];
            j += std::max<std::int64_t>(goodSuffix[static_cast<std::size_t>(i)], badChar[c] - m + 1 + i);
            continue;
        }
        if (j > 0 && block[j - 1] != 0) {
            j += goodSuffix[0];
            continue;
        }
        return blockOffset + j;
    }
    return std::nullopt;
}

PreparedPattern::PreparedPattern(const std::string& raw) : bytes(raw.begin(), raw.end()) {
    PatternSearch::prepareBadCharTable(bytes.data(), length(), badChar);
    PatternSearch::prepareGoodSuffixTable(bytes.data(), length(), goodSuffix);
}

} // namespace morrow
