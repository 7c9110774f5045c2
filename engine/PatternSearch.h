#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace morrow {

struct CarveState;

// Which CarveState field receives a match.
enum class SearchTarget {
    Footer = 0,      // footerMatchOffset
    HeaderField = 1, // fieldMatchOffset
    ZipRecord = 2,   // zipMatchOffset
};

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

    // Searches block[0..n) whose first byte lies at evidence offset `blockOffset`. On the first
    // accepted match sets the target's field to blockOffset + j and returns true; otherwise
    // returns false and changes nothing.
    //
    // `zeroBeforeFooter` applies GIF's rule to the Footer target: a match counts only at the
    // block's first byte or right after a 00 byte (the trailer follows the block terminator).
    // The caller sets it only while the GIF pass is being carved.
    static bool find(CarveState& state, const unsigned char* pattern, int m, const unsigned char* block,
                     std::int64_t blockOffset, std::uint32_t n, const BadCharTable& badChar,
                     const GoodSuffixTable& goodSuffix, SearchTarget target, bool zeroBeforeFooter = false);
};

// A pattern with its two tables, prepared once and reused for every block.
struct PreparedPattern {
    std::vector<unsigned char> bytes;
    BadCharTable badChar{};
    GoodSuffixTable goodSuffix;

    PreparedPattern() = default;
    explicit PreparedPattern(const std::string& raw);
    int length() const { return static_cast<int>(bytes.size()); }
    bool find(CarveState& state, const unsigned char* block, std::int64_t blockOffset, std::uint32_t n,
              SearchTarget target, bool zeroBeforeFooter = false) const {
        return PatternSearch::find(state, bytes.data(), length(), block, blockOffset, n, badChar, goodSuffix,
                                   target, zeroBeforeFooter);
    }
};

} // namespace morrow
