#include "Catalog.h"
#include "ExtentTests.h"
#include "formats/ExactEnds.h"
#include "search/OffsetList.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>

using namespace morrow;

namespace {

constexpr std::size_t sector = 512;

void put(std::string& s, std::size_t at, const std::string& bytes) {
    s.replace(at, bytes.size(), bytes);
}
std::string be32(std::uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}
std::string le16(std::uint16_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8)};
}
std::string le32(std::uint32_t v) {
    return le16(static_cast<std::uint16_t>(v)) + le16(static_cast<std::uint16_t>(v >> 16));
}
std::uint32_t crc(const std::string& s) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

// Sets the 4 bytes at `at` so that `of(s)` is `target`: CRC-32 is affine in the bits, so the
// target is an XOR of the flips of those 32 bits.
void forgeCrc(std::string& s, std::size_t at, std::uint32_t target,
              const std::function<std::uint32_t(const std::string&)>& of) {
    const std::uint32_t base = of(s);
    std::array<std::uint32_t, 32> basis{};
    std::array<std::uint32_t, 32> flips{};
    for (unsigned bit = 0; bit < 32; ++bit) {
        std::string t = s;
        t[at + bit / 8] = static_cast<char>(t[at + bit / 8] ^ (1 << (bit % 8)));
        std::uint32_t v = of(t) ^ base;
        std::uint32_t f = 1u << bit;
        for (int top = 31; top >= 0 && v != 0; --top) {
            if ((v >> top & 1) == 0) {
                continue;
            }
            if (basis[top] == 0) {
                basis[top] = v;
                flips[top] = f;
                break;
            }
            v ^= basis[top];
            f ^= flips[top];
        }
    }
    std::uint32_t want = base ^ target;
    std::uint32_t chosen = 0;
    for (int top = 31; top >= 0; --top) {
        if ((want >> top & 1) != 0) {
            want ^= basis[top];
            chosen ^= flips[top];
        }
    }
    for (unsigned bit = 0; bit < 32; ++bit) {
        if ((chosen >> bit & 1) != 0) {
            s[at + bit / 8] = static_cast<char>(s[at + bit / 8] ^ (1 << (bit % 8)));
        }
    }
}

// One sector of each hostile image: a file start whose structure runs on through the starts in
// every later sector.
std::string gifSector() { // a comment's sub-blocks (255, 255) step over the next header
    std::string s(sector, '\0');
    put(s, 0, std::string("GIF89a\1\0\1\0\0\0\0\x21\xFE", 15));
    s[15] = s[271] = '\xFF';
    return s;
}
std::string jpegSector() { // an APP1 that ends on the next sector's APP1: no frame, no scan
    std::string s(sector, '\0');
    put(s, 0, std::string("\xFF\xD8\xFF\xE1\x01\xFE", 6));
    return s;
}
std::string pngSector() { // a tEXt chunk over the next signature and IHDR, whose CRC is the IHDR's
    std::string s(sector, '\0');
    const std::string ihdrBody = std::string("IHDR") + be32(1) + be32(1) + std::string("\x08\0\0\0\0", 5);
    const std::string ihdr = be32(13) + ihdrBody + be32(crc(ihdrBody));
    put(s, 0, "\x89PNG\r\n\x1A\n" + ihdr + be32(sector - 12) + "tEXt");
    forgeCrc(s, 100, crc(ihdrBody), [](const std::string& b) { return crc(b.substr(37) + b.substr(0, 29)); });
    return s;
}
std::string mp4Sector() { // ftyp, then an mdat of size 0 "to the end of the file"
    std::string s(sector, '\0');
    put(s, 0, be32(20) + "ftypisom" + be32(1) + "isom" + be32(0) + "mdat");
    return s;
}
std::string tiffSector() { // one strip of 1 GiB
    std::string s(sector, '\0');
    std::string ifd = le16(5);
    const std::pair<unsigned, unsigned> entries[] = {
        {256, 64}, {257, 1u << 20}, {273, 0}, {278, 1u << 20}, {279, 1u << 30}};
    for (const auto& [tag, value] : entries) {
        ifd += le16(static_cast<std::uint16_t>(tag)) + le16(4) + le32(1) + le32(value);
    }
    put(s, 0, "II*" + std::string(1, '\0') + le32(8) + ifd + le32(0));
    return s;
}
std::string bmpSector() { // a 300 MB pixel array
    std::string s(sector, '\0');
    put(s, 0,
        "BM" + le32(54 + 3072 * 100000) + le32(0) + le32(54) + le32(40) + le32(1024) + le32(100000) +
            le16(1) + le16(24));
    return s;
}
std::string htmlSector() { // text without a closing tag
    std::string s(sector, 'x');
    put(s, 0, "<html>\n");
    return s;
}

struct HostileRow {
    const char* name;
    FileTypeId type;
    std::string (*sector)();
};
void PrintTo(const HostileRow& row, std::ostream* os) {
    *os << row.name;
}

class HostileExactTest : public testing::TestWithParam<HostileRow> {};

// Every sector of a 1 MiB image starts a file whose walk would run to the end of the image: the
// walks read a bounded multiple of the image and carve no more than it. (Before, each walk went
// to the end: about a thousand times the image read, and for all but GIF as much carved.)
TEST_P(HostileExactTest, EverySectorStartStaysLinear) {
    std::string bytes;
    for (std::size_t i = 0; i < 2048; ++i) {
        bytes += GetParam().sector();
    }
    test::MemoryImage image(bytes);
    OffsetList candidates;
    for (std::size_t at = 0; at < bytes.size(); at += sector) {
        candidates.push_back(static_cast<std::int64_t>(at));
    }
    ExactWalks walks(kindInfo(GetParam().type).exactReader, image, candidates, std::uint64_t{1} << 20);
    std::uint64_t carved = 0;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const Extent e = walks.measure(i);
        carved += e ? std::min<std::uint64_t>(e.length, bytes.size() - i * sector) : 0;
    }
    EXPECT_LE(carved, bytes.size());
    EXPECT_LE(image.reader().bytesFetched(), 8 * bytes.size());
}

INSTANTIATE_TEST_SUITE_P(Shapes, HostileExactTest,
                         testing::Values(HostileRow{"GifSubBlockChain", kind::Gif, gifSector},
                                         HostileRow{"JpegApp1Chain", kind::Jpeg, jpegSector},
                                         HostileRow{"PngChunkChain", kind::Png, pngSector},
                                         HostileRow{"Mp4MdatToTheEnd", kind::VideoQuickTime, mp4Sector},
                                         HostileRow{"TiffStripToTheEnd", kind::Tiff, tiffSector},
                                         HostileRow{"BmpPixelsToTheEnd", kind::Bmp, bmpSector},
                                         HostileRow{"HtmlWithoutClosingTag", kind::Html, htmlSector}),
                         test::RowName());

// A photo whose APP1 holds a whole thumbnail at a sector start: the photo walks past it (the
// thumbnail ends inside its own stretch), and the thumbnail is measured on its own.
TEST(ExactWalksTest, PhotoWalksPastItsSectorAlignedThumbnail) {
    const std::string thumb = test::fixture("photo-jfif.jpg");
    const std::string app1 = std::string(sector - 6, '\0') + thumb + std::string(10, '\0');
    const std::string photo = std::string("\xFF\xD8\xFF\xE1", 4) + static_cast<char>((app1.size() + 2) >> 8) +
                              static_cast<char>((app1.size() + 2) & 0xFF) + app1 + thumb.substr(2);
    test::MemoryImage image(photo + test::garbage(3000, 3));
    const OffsetList candidates{0, sector};
    ExactWalks walks(kindInfo(kind::Jpeg).exactReader, image, candidates, std::uint64_t{1} << 20);
    test::expectExtent(walks.measure(0), true, photo.size(), false);
    test::expectExtent(walks.measure(1), true, thumb.size(), false);
}

// Without its essential parts a start is no file, however sound what it has.
TEST(ExactWalksTest, NoFileWithoutItsEssentialParts) {
    const std::string jpeg = std::string("\xFF\xD8\xFF\xE0", 4) + test::garbage(100 * 1024, 4);
    EXPECT_FALSE(kindInfo(kind::Jpeg).exactReader(test::MemoryImage(jpeg), 0, 1 << 20));
    const std::string png = pngSector().substr(0, 33) + std::string(4, '\0') + "IEND" + be32(crc("IEND"));
    EXPECT_FALSE(kindInfo(kind::Png).exactReader(test::MemoryImage(png), 0, 1 << 20));
    EXPECT_FALSE(kindInfo(kind::VideoQuickTime)
                     .exactReader(test::MemoryImage(mp4Sector() + test::garbage(4096, 5)), 0, 1 << 20));
    const std::string gif = gifSector().substr(0, 15) + std::string("\x03"
                                                                    "abc"
                                                                    "\0"
                                                                    "\x3B",
                                                                    6);
    EXPECT_FALSE(kindInfo(kind::Gif).exactReader(test::MemoryImage(gif), 0, 1 << 20));
}

} // namespace
