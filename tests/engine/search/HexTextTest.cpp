#include "search/HexText.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace morrow;
using morrow::test::bytes;

TEST(HexTextTest, FromBytesWritesZeroAsOneDigitInBothStyles) {
    auto pk = bytes({0x50, 0x4B, 0x03, 0x04});
    auto u = reinterpret_cast<const unsigned char*>(pk.data());
    EXPECT_EQ(HexText::fromBytes(u, 4, HexStyle::Compact), "504B34");
    EXPECT_EQ(HexText::fromBytes(u, 4, HexStyle::Padded), "504B0304");
    auto mixed = bytes({0x43, 0x00, 0x61});
    auto m = reinterpret_cast<const unsigned char*>(mixed.data());
    EXPECT_EQ(HexText::fromBytes(m, 3, HexStyle::Compact), "43061");
    EXPECT_EQ(HexText::fromBytes(m, 3, HexStyle::Padded), "43061");
    unsigned char zero = 0, ten = 0x0A;
    EXPECT_EQ(HexText::fromBytes(&zero, 1, HexStyle::Padded), "0");
    EXPECT_EQ(HexText::fromBytes(&ten, 1, HexStyle::Compact), "A");
    EXPECT_EQ(HexText::fromBytes(&ten, 1, HexStyle::Padded), "0A");
    EXPECT_EQ(HexText::fromBytes(&ten, 0, HexStyle::Padded), "");
}

TEST(HexTextTest, ParseSkipsForeignCharactersAndIgnoresCase) {
    EXPECT_EQ(HexText::parse("01BC", 4, 16), 444);
    EXPECT_EQ(HexText::parse("ffd9", 4, 16), 65497);
    EXPECT_EQ(HexText::parse("1G", 2, 16), 1);
    EXPECT_EQ(HexText::parse("FFFF", 0, 16), 0);
    EXPECT_EQ(HexText::parse("12", 9, 10), 12); // a count beyond the text stops at its end
    EXPECT_EQ(HexText::digit(16), "");
    EXPECT_EQ(HexText::digit(-1), "");
    EXPECT_EQ(HexText::digit(11), "B");
}

TEST(HexTextTest, SignatureBytesHoldZeroAsDigitZero) {
    EXPECT_EQ(HexText::toBytes("FFD9"), bytes({0xFF, 0xD9}));
    EXPECT_EQ(HexText::toBytes("003B"), bytes({0x30, 0x3B}));
    EXPECT_EQ(HexText::toBytes(""), "");
}

TEST(HexTextTest, ListFieldGivesEmptyBeyondTheLast) {
    const std::string tiff = "4D4D2A,4949,492049";
    EXPECT_EQ(HexText::listField(tiff, 1, ','), "4D4D2A");
    EXPECT_EQ(HexText::listField(tiff, 2, ','), "4949");
    EXPECT_EQ(HexText::listField(tiff, 3, ','), "492049");
    EXPECT_EQ(HexText::listField(tiff, 4, ','), "");
    EXPECT_EQ(HexText::listField(tiff, 0, ','), "");
    EXPECT_EQ(HexText::listField("FFD8FF", 1, ','), "FFD8FF");
    EXPECT_EQ(HexText::listField("FFD8FF", 2, ','), "");
}
