#include "formats/BmpExtent.h"
#include "ExtentTests.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

using namespace morrow;
using morrow::test::fixture;
using morrow::test::garbage;
using morrow::test::le16;
using morrow::test::le32;

namespace {

Extent measure(const std::string& data, std::int64_t H = 0) {
    test::MemoryImage image(data);
    return BmpExtent::measure(image, H);
}

struct Fields {
    std::uint32_t headerSize = 40;
    std::int32_t width = 4;
    std::int32_t height = 3;
    std::uint16_t planes = 1;
    std::uint16_t bits = 24;
    std::uint32_t compression = 0;
    std::uint32_t imageSize = 0;
    std::uint32_t colours = 0;
    std::uint32_t offset = 54;
    std::uint32_t fileSize = 90;   // 4x3 at 24 bits: rows of 12 bytes
    std::uint32_t profileData = 0; // v5 only, with "MBED" when not 0
    std::uint32_t profileSize = 0;
};

// The headers the fields describe, followed by filler up to the file size field.
std::string bmp(const Fields& f) {
    std::string info = le32(f.headerSize);
    if (f.headerSize == 12) {
        info += le16(static_cast<std::uint16_t>(f.width)) + le16(static_cast<std::uint16_t>(f.height)) +
                le16(f.planes) + le16(f.bits);
    } else {
        info += le32(static_cast<std::uint32_t>(f.width)) + le32(static_cast<std::uint32_t>(f.height)) +
                le16(f.planes) + le16(f.bits) + le32(f.compression) + le32(f.imageSize) + le32(2835) +
                le32(2835) + le32(f.colours) + std::string(4, '\0');
        info.resize(f.headerSize, '\0');
        if (f.profileData != 0) {
            info.replace(56, 4, "DEBM");
            info.replace(112, 8, le32(f.profileData) + le32(f.profileSize));
        }
    }
    std::string file = "BM" + le32(f.fileSize) + std::string(4, '\0') + le32(f.offset) + info;
    if (file.size() < f.fileSize) {
        file += std::string(f.fileSize - file.size(), '\x55');
    }
    return file;
}

template <typename Change> Fields with(Change change) {
    Fields f;
    change(f);
    return f;
}

struct Row {
    const char* name;
    Fields fields;
    bool found;
    std::uint64_t length; // when found
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

class BmpExtentRowsTest : public testing::TestWithParam<Row> {};

TEST_P(BmpExtentRowsTest, ReadsTheHeaders) {
    const Row& row = GetParam();
    const Extent e = measure(bmp(row.fields) + garbage(2000));
    ASSERT_EQ(static_cast<bool>(e), row.found) << (e.whyNot ? e.whyNot : "found");
    if (row.found) {
        EXPECT_EQ(e.length, row.length);
        EXPECT_FALSE(e.truncated);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BmpExtentRowsTest,
    testing::Values(Row{"SizeFieldAgrees", Fields{}, true, 90},
                    Row{"SizeFieldWithPadding", with([](Fields& f) { f.fileSize = 92; }), true, 92},
                    Row{"SizeFieldFarBeyond", with([](Fields& f) { f.fileSize = 90 + 10000; }), true, 90},
                    Row{"SizeFieldTooSmall", with([](Fields& f) { f.fileSize = 60; }), true, 90},
                    Row{"TopDown", with([](Fields& f) { f.height = -3; }), true, 90},
                    Row{"CoreHeader", with([](Fields& f) {
                            f.headerSize = 12;
                            f.offset = 26;
                            f.fileSize = 62;
                        }),
                        true, 62},
                    Row{"FullPalette", with([](Fields& f) {
                            f.bits = 8;
                            f.offset = 54 + 1024;
                            f.fileSize = 1078 + 12;
                        }),
                        true, 1090},
                    Row{"EmbeddedProfileAfterThePixels", with([](Fields& f) {
                            f.headerSize = 124;
                            f.offset = 138;
                            f.profileData = 160;
                            f.profileSize = 1000;
                            f.fileSize = 1174;
                        }),
                        true, 1174},
                    Row{"RunLength8", with([](Fields& f) {
                            f.bits = 8;
                            f.compression = 1;
                            f.imageSize = 100;
                            f.offset = 1078;
                            f.fileSize = 1178;
                        }),
                        true, 1178},
                    Row{"PngInside", with([](Fields& f) {
                            f.bits = 0;
                            f.compression = 5;
                            f.imageSize = 30;
                            f.fileSize = 84;
                        }),
                        true, 84},
                    Row{"HeaderSizeFortyOne", with([](Fields& f) { f.headerSize = 41; }), false, 0},
                    Row{"TwoPlanes", with([](Fields& f) { f.planes = 2; }), false, 0},
                    Row{"ThreeBits", with([](Fields& f) { f.bits = 3; }), false, 0},
                    Row{"ZeroWidth", with([](Fields& f) { f.width = 0; }), false, 0},
                    Row{"CompressionSeven", with([](Fields& f) { f.compression = 7; }), false, 0},
                    Row{"PixelsInsideTheHeaders", with([](Fields& f) { f.offset = 40; }), false, 0},
                    Row{"PixelsInsideThePalette", with([](Fields& f) {
                            f.bits = 8;
                            f.fileSize = 66;
                        }),
                        false, 0},
                    Row{"RunLength8WithTwentyFourBits", with([](Fields& f) {
                            f.compression = 1;
                            f.imageSize = 30;
                            f.fileSize = 84;
                        }),
                        false, 0},
                    Row{"CompressedImageLargerThanTheFile", with([](Fields& f) {
                            f.bits = 8;
                            f.compression = 1;
                            f.imageSize = 100;
                            f.offset = 1078;
                            f.fileSize = 1100;
                        }),
                        false, 0},
                    Row{"PixelArrayBeyondFourGiB", with([](Fields& f) {
                            f.width = 65536;
                            f.height = 65536;
                            f.bits = 32;
                        }),
                        false, 0}),
    test::RowName());

// The ICC profile after the pixels belongs to the file whatever the size field says; a profile
// that is none (no "acsp") does not.
TEST(BmpExtentTest, EmbeddedProfileEndsTheFile) {
    const std::string file = fixture("bitmap124-profile.bmp"); // 8x8, 24 bits: pixels end at 330
    // The size field, and the length without a true profile (the field, when it lies within the
    // claimed profile's end, else the pixels' end).
    const std::pair<std::uint32_t, std::uint64_t> rows[] = {{894, 894}, {0, 330}, {400, 400}, {10894, 330}};
    for (const auto& [sizeField, withoutProfile] : rows) {
        std::string bad = file;
        bad.replace(2, 4, le32(sizeField));
        const Extent e = measure(bad + garbage(2000));
        ASSERT_TRUE(e) << e.whyNot;
        EXPECT_EQ(e.length, file.size()) << sizeField;
        bad.replace(330 + 36, 4, "xxxx");
        EXPECT_EQ(measure(bad + garbage(2000)).length, withoutProfile) << sizeField;
    }
}

// A version 3 header points at no profile: the size field counts the one after the pixels, and it
// wins only while the bytes it adds are that profile, whole.
TEST(BmpExtentTest, ProfileAfterVersion3PixelsCountsWhenWhole) {
    const std::string file = fixture("bitmap40-profile.bmp"); // pixels end at 438, profile to 1002
    struct Change {
        std::size_t at; // a byte changed, or npos
        std::uint64_t length;
    };
    const Change rows[] = {{std::string::npos, 1002}, {438 + 36, 438}, {438 + 3, 438}, {438, 438}};
    for (const Change& row : rows) {
        std::string bytes = file;
        if (row.at != std::string::npos) {
            bytes[row.at] = static_cast<char>(bytes[row.at] ^ 0x40);
        }
        const Extent e = measure(bytes + garbage(2000));
        ASSERT_TRUE(e) << e.whyNot;
        EXPECT_EQ(e.length, row.length) << row.at;
    }
}

TEST(BmpExtentTest, CutAnywhereNeverReachesPastTheCut) {
    const std::string file = fixture("bitmap40.bmp");
    for (std::size_t cut = 1; cut < file.size(); ++cut) {
        const Extent e = measure(file.substr(0, cut));
        if (cut < 14 + 40) {
            EXPECT_FALSE(e) << cut;
        } else {
            ASSERT_TRUE(e) << cut;
            EXPECT_TRUE(e.truncated) << cut;
            EXPECT_EQ(e.length, cut);
        }
    }
}

} // namespace
