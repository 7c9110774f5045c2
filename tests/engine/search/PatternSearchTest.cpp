#include "search/PatternSearch.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <random>

using namespace morrow;
using morrow::test::bytes;

namespace {

const unsigned char* u(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

// The plain definition of "first match", for checking the shifts against.
std::int64_t naiveFind(const std::string& block, const std::string& pattern, bool zeroBefore) {
    for (std::size_t j = 0; j + pattern.size() <= block.size(); ++j) {
        if (block.compare(j, pattern.size(), pattern) == 0 && (!zeroBefore || j == 0 || block[j - 1] == 0)) {
            return static_cast<std::int64_t>(j);
        }
    }
    return -1;
}

TEST(PatternSearchTest, TablesForTheJpegFooter) {
    std::string ffd9 = bytes({0xFF, 0xD9});
    BadCharTable bad;
    GoodSuffixTable good;
    PatternSearch::prepareBadCharTable(u(ffd9), 2, bad);
    PatternSearch::prepareGoodSuffixTable(u(ffd9), 2, good);
    EXPECT_EQ(bad[0xFF], 1);
    EXPECT_EQ(bad[0xD9], 2);
    EXPECT_EQ(bad[0x00], 2);
    EXPECT_EQ(good, (GoodSuffixTable{2, 1}));
}

TEST(PatternSearchTest, MatchIsAnAbsoluteOffset) {
    PreparedPattern p(bytes({0x50, 0x4B, 0x05, 0x06}));
    std::string block = "xx" + bytes({0x50, 0x4B, 0x05, 0x06}) + "yy";
    const std::int64_t at = 5LL << 32; // past 4 GiB
    EXPECT_EQ(p.find(u(block), at, static_cast<std::uint32_t>(block.size())), at + 2);
    EXPECT_EQ(p.find(u(block), 7, static_cast<std::uint32_t>(block.size())), 9);
}

TEST(PatternSearchTest, BlockEdges) {
    PreparedPattern p(bytes({0xFF, 0xD9}));
    std::string shortBlock = bytes({0xFF});
    EXPECT_FALSE(p.find(u(shortBlock), 0, 1));
    std::string atEnd = "abcdef" + bytes({0xFF, 0xD9});
    EXPECT_EQ(p.find(u(atEnd), 0, 8), 6);
    // Straddling: the block holds only the first byte; the search never looks past n.
    EXPECT_FALSE(p.find(u(atEnd), 0, 7));
    std::string twice = "a" + bytes({0xFF, 0xD9}) + "b" + bytes({0xFF, 0xD9});
    EXPECT_EQ(p.find(u(twice), 0, 6), 1);
}

TEST(PatternSearchTest, GifRuleAcceptsAFooterOnlyAfterAZeroByteOrAtTheBlockStart) {
    PreparedPattern p(bytes({0x3B}));
    std::string block = "a;b" + bytes({0x00, 0x3B});
    EXPECT_EQ(p.find(u(block), 0, 5, true), 4);
    EXPECT_EQ(p.find(u(block), 0, 5, false), 1);
    std::string first = ";abc";
    EXPECT_EQ(p.find(u(first), 0, 4, true), 0);
}

// The good-suffix table is easy to get subtly wrong; a wrong shift skips real matches. Compare
// with the naive search on many random blocks over a small alphabet, where repeats abound.
TEST(PatternSearchTest, AgreesWithNaiveSearchOnRandomBlocks) {
    std::mt19937 rng(42);
    for (int round = 0; round < 3000; ++round) {
        std::string pattern;
        int m = 1 + static_cast<int>(rng() % 8);
        for (int i = 0; i < m; ++i) {
            pattern.push_back(static_cast<char>(rng() % 3));
        }
        if (round % 2 == 0) {
            pattern[0] = 1; // keep some patterns free of zeros, as signatures are
        }
        std::string block;
        int n = static_cast<int>(rng() % 200);
        for (int i = 0; i < n; ++i) {
            block.push_back(static_cast<char>(rng() % 3));
        }
        bool zeroBefore = round % 3 == 0;
        PreparedPattern p(pattern);
        const auto found = p.find(u(block), 1000, static_cast<std::uint32_t>(block.size()), zeroBefore);
        std::int64_t expected = naiveFind(block, pattern, zeroBefore);
        if (!zeroBefore) {
            ASSERT_EQ(found ? *found - 1000 : -1, expected) << "round " << round;
        } else if (found) {
            // With the GIF rule a refused match moves on by the good-suffix shift of a whole
            // match, so a later match may be stepped over; what is reported must still be real.
            std::int64_t j = *found - 1000;
            ASSERT_EQ(block.compare(static_cast<std::size_t>(j), pattern.size(), pattern), 0);
            ASSERT_TRUE(j == 0 || block[static_cast<std::size_t>(j - 1)] == 0);
        }
    }
}

} // namespace
