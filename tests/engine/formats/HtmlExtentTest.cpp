#include "formats/HtmlExtent.h"
#include "ExtentTests.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

using morrow::Extent;
using morrow::HtmlExtent;
using morrow::test::fixture;

namespace test = morrow::test;

namespace {

std::string garbage(std::size_t n, std::uint32_t seed = 3) {
    return morrow::test::ImageBuilder(n).randomFill(seed).data();
}

Extent measure(const std::string& data, std::int64_t H) {
    morrow::test::MemoryImage image(data);
    return HtmlExtent::measure(image, H);
}

struct StartRow {
    const char* name;
    std::string text;
    bool starts;
};

void PrintTo(const StartRow& row, std::ostream* os) {
    *os << row.name;
}

class HtmlExtentStartTest : public testing::TestWithParam<StartRow> {};

TEST_P(HtmlExtentStartTest, StartsDocument) {
    morrow::test::MemoryImage image(garbage(512) + GetParam().text + "<head></head></html>\n" +
                                    garbage(512, 5));
    EXPECT_EQ(HtmlExtent::startsDocument(image, 512), GetParam().starts);
    // The header scan keeps only the sectors whose first bytes may open a page: never one that
    // does.
    const std::string first =
        (GetParam().text + "<head>" + std::string(64, ' ')).substr(0, HtmlExtent::opening);
    if (GetParam().starts) {
        EXPECT_TRUE(
            HtmlExtent::opensPage(reinterpret_cast<const unsigned char*>(first.data()), first.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HtmlExtentStartTest,
    testing::Values(StartRow{"Root", "<html>", true},
                    StartRow{"RootWithAttribute", "<HTML lang=\"en\">", true},
                    StartRow{"DoctypeAnyCase", "<!DocType\tHTML>", true},
                    StartRow{"SpaceAndByteOrderMark", "\xEF\xBB\xBF \r\n<html>", true},
                    StartRow{"DeclarationAndComments", "<?xml version='1.0'?>\n<!-- a -->\n<!---->\n<html>",
                             true},
                    StartRow{"WhiteSpacePastTheFirstBytes", std::string(100, ' ') + "<html>", true},
                    StartRow{"OtherElement", "<htmlx>", false},
                    StartRow{"DoctypeOfOtherDocument", "<!DOCTYPE svg>", false},
                    StartRow{"DoctypeWithoutSpace", "<!DOCTYPEhtml>", false},
                    StartRow{"CommentNotClosed", "<!-- <html>", false},
                    StartRow{"ByteOrderMarkAfterSpace", " \xEF\xBB\xBF<html>", false},
                    StartRow{"NotTextBefore", "<!-- \x01 --><html>", false},
                    StartRow{"Paragraph", "<p>text</p><html>", false}),
    [](const testing::TestParamInfo<StartRow>& row) { return std::string(row.param.name); });

struct EndRow {
    const char* name;
    std::string body;     // between "<html>" and the rest
    std::uint64_t length; // 0: rejected
};

void PrintTo(const EndRow& row, std::ostream* os) {
    *os << row.name;
}

class HtmlExtentEndTest : public testing::TestWithParam<EndRow> {};

TEST_P(HtmlExtentEndTest, Measures) {
    const Extent e = measure("<html>" + GetParam().body + "xyz" + std::string(100, '\0'), 0);
    if (GetParam().length == 0) {
        EXPECT_FALSE(e) << e.length;
        return;
    }
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_EQ(e.length, GetParam().length);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HtmlExtentEndTest,
    testing::Values(EndRow{"LineFeed", "</html>\n", 14}, EndRow{"CrLf", "</html>\r\n", 15},
                    EndRow{"CarriageReturn", "</html>\r", 14}, EndRow{"NoLineEnd", "</Html>", 13},
                    EndRow{"ValidUtf8", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x93\x8E</HTML>\n", 23},
                    EndRow{"NulBeforeTag", std::string("a\0b</html>\n", 11), 0},
                    EndRow{"Latin1Byte", "caf\xE9</html>\n", 0},
                    EndRow{"OverlongSlash", "\xC0\xAF</html>\n", 0},
                    EndRow{"Surrogate", "\xED\xA0\x80</html>\n", 0},
                    EndRow{"AboveUnicode", "\xF4\x90\x80\x80</html>\n", 0},
                    EndRow{"TruncatedSequence", "\xE2\x82</html>\n", 0},
                    EndRow{"ControlByte", "\x1B[0m</html>\n", 0},
                    EndRow{"NoClosingTag", "<body></body>\n", 0},
                    // White space and complete comments after the closing tag belong to the page.
                    EndRow{"CommentsAndSpaceAfter", "</html>\n<!-- a -->\n \t<!---->\r\n", 36},
                    EndRow{"UnfinishedCommentAfter", "</html>\n \n<!-- a --", 16},
                    EndRow{"CommentOpenerIsNoEnd", "</html>\n<!-->", 14}),
    [](const testing::TestParamInfo<EndRow>& row) { return std::string(row.param.name); });

TEST(HtmlExtentTest, TextLengthStopsAtTheFirstByteThatIsNoText) {
    morrow::test::MemoryImage nul(std::string("<html>ab\xC3\xA9") + '\0' + "cd");
    EXPECT_EQ(HtmlExtent::textLength(nul, 0, 1000), 10u);
    EXPECT_EQ(HtmlExtent::textLength(nul, 0, 7), 7u);
    // An incomplete sequence before the bad byte is not text.
    morrow::test::MemoryImage cut(std::string("<html>ab\xE2\x82") + "x");
    EXPECT_EQ(HtmlExtent::textLength(cut, 0, 1000), 8u);
    // Nor at the end of the evidence.
    morrow::test::MemoryImage end(std::string("<html>ab\xE2\x82"));
    EXPECT_EQ(HtmlExtent::textLength(end, 0, 1000), 8u);
    morrow::test::MemoryImage all("<html>abc");
    EXPECT_EQ(HtmlExtent::textLength(all, 0, 1000), 9u);
    EXPECT_EQ(HtmlExtent::textLength(all, 3, 1000), 6u);
}

TEST(HtmlExtentTest, SequenceAndTagStraddlingReadBlocks) {
    // The scan reads 64 KiB blocks from H: an "é" straddles the end of the first, the closing tag
    // the end of the second.
    const std::size_t block = HtmlExtent::blockSize;
    std::string page = "<!DOCTYPE html>\n<html><body><p>";
    page += std::string(block - 1 - page.size(), 'a') + "\xC3\xA9";
    page += std::string(2 * block - 3 - page.size(), 'b') + "</html>\r\n";
    const Extent e = measure(garbage(777) + page + garbage(100), 777);
    ASSERT_TRUE(e) << e.whyNot;
    EXPECT_EQ(e.length, page.size());

    // A bad continuation byte across the first boundary ends the text there.
    std::string bad = page;
    bad[block] = 'x';
    EXPECT_FALSE(measure(bad, 0));
    morrow::test::MemoryImage image(bad);
    EXPECT_EQ(HtmlExtent::textLength(image, 0, 1 << 20), block - 1);
}

TEST(HtmlExtentTest, TruncatedAtEveryByteNeverMeasuresPastTheData) {
    for (const char* file : {"page-utf8.html", "page-comment.html"}) {
        const std::string page = fixture(file);
        for (std::size_t cut = 0; cut < page.size(); ++cut) {
            const Extent e = measure(page.substr(0, cut), 0);
            if (e) {
                // Only the closing tag's line end can be missing.
                EXPECT_LE(e.length, cut) << file << " " << cut;
                EXPECT_GE(cut + 2, page.size()) << file << " " << cut;
            }
        }
    }
}

} // namespace
