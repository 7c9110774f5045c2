#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace morrow {

using BadCharTable = std::array<std::int32_t, 256>;
using GoodSuffixTable = std::vector<std::int32_t>;

// Boyer-Moore search (bad-character and good-suffix rules, after Charras and Lecroq) inside one
// in-memory block. It never looks across the end of the block: a pattern that straddles two
// blocks is not found.
class PatternSearch {
  public:
    static void prepareBadCharTable(const unsigned char* pattern, int m, BadCharTable& table);
    // Fills `table` with m entries.
    static void prepareGoodSuffixTable(const unsigned char* pattern, int m, GoodSuffixTable& table);

    // Searches block[0..n) whose first byte lies at evidence offset `blockOffset`. Returns the
    // evidence offset (blockOffset + j) of the first accepted match, or nothing.
    //
    // `zeroBefore` applies GIF's rule: a match counts only at the block's first byte or right
    // after a 00 byte (the trailer follows the block terminator). Only the GIF footer search
    // sets it.
    static std::optional<std::int64_t> find(const unsigned char* pattern, int m, const unsigned char* block,
                                            std::int64_t blockOffset, std::uint32_t n,
                                            const BadCharTable& badChar, const GoodSuffixTable& goodSuffix,
                                            bool zeroBefore = false);
};

// A pattern with its two tables, prepared once and reused for every block.
struct PreparedPattern {
    std::vector<unsigned char> bytes;
    BadCharTable badChar{};
    GoodSuffixTable goodSuffix;

    PreparedPattern() = default;
    explicit PreparedPattern(const std::string& raw);
    int length() const { return static_cast<int>(bytes.size()); }
    std::optional<std::int64_t> find(const unsigned char* block, std::int64_t blockOffset, std::uint32_t n,
                                     bool zeroBefore = false) const {
        return PatternSearch::find(bytes.data(), length(), block, blockOffset, n, badChar, goodSuffix,
                                   zeroBefore);
    }
};

} // namespace morrow
