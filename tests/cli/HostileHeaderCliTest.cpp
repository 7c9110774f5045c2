// morrow-cli over images whose headers lie about their lengths. Every run finishes, keeps the
// lengths the readers' rules give (clipped or capped where the evidence ends), and needs no more
// memory than a run over the same image without the lie.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace morrow;
using namespace morrow::test;

namespace {

constexpr std::uint64_t H = 0x10000; // where the hostile header sits: sector 128
constexpr std::uint64_t imageSize = 1 << 20;
constexpr int maxKB = 16;

// What a run printed on standard error, its exit status and its peak memory.
ChildResult runMeasured(const std::vector<std::string>& args) {
    return runCliWith(args);
}

std::string u32le(std::uint32_t v) {
    return test::le32(v);
}

// A compound document header (version 3, 512-byte sectors) with the given counts; its 109 FAT
// sector numbers all name sector 0, whose filler entries are all in use.
std::string compoundHeader(std::uint32_t fatSectors, std::uint32_t difatStart, std::uint32_t difatSectors) {
    std::string h = bytes({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}) + std::string(36, '\0');
    h += u32le(fatSectors) + u32le(0) + std::string(16, '\0') + u32le(difatStart) + u32le(difatSectors);
    h += std::string(109 * 4, '\0');
    return h;
}

std::string ftypMp42() {
    return test::be32(24) + "ftypmp42" + test::be32(0) + "mp42isom";
}

const std::string noFreeSpace =
    "No free space availabe on the destination drive.\nCarving can't be continued.";

struct HostileCase {
    const char* name;
    std::function<void(ImageBuilder&)> plant;
    std::uint64_t size;                                       // of the image
    int status;                                               // of morrow-cli
    std::vector<std::pair<std::string, std::uint64_t>> files; // carved, with their sizes
    std::string message;                                      // expected on standard error, or empty
};

// Rows print as their names in test listings.
void PrintTo(const HostileCase& row, std::ostream* os) {
    *os << row.name;
}

class HostileHeaderTest : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileHeaderTest, HostileLengthsFinishWithBoundedMemory) {
    const HostileCase& c = GetParam();
    TempDir tmp;
    ImageBuilder image(c.size);
    image.randomFill(31);
    image.writeTo(tmp / "plain.img");
    c.plant(image);
    image.writeTo(tmp / "disk.img");

    const std::vector<std::string> common = {"-y", "-q", "-s", std::to_string(maxKB), "-o", tmp / "out"};
    std::vector<std::string> args = common;
    args.push_back(tmp / "plain.img");
    const ChildResult plain = runMeasured(args);
    ASSERT_EQ(plain.status, 0) << plain.err;
    args = common;
    args.push_back(tmp / "disk.img");
    const ChildResult hostile = runMeasured(args);

    EXPECT_EQ(hostile.status, c.status) << hostile.err;
    if (c.message.empty()) {
        EXPECT_TRUE(hostile.err.empty()) << hostile.err;
    } else {
        EXPECT_NE(hostile.err.find(c.message), std::string::npos) << hostile.err;
    }
    std::vector<std::string> expected = {"disk~Report.xls"};
    for (const auto& [name, size] : c.files) {
        expected.push_back(name);
        const std::string path = tmp / ("out/disk/" + name);
        EXPECT_EQ(readFile(path).size(), size) << name;
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listFolder(tmp / "out/disk"), expected);
    // The copy buffer, the scan block and the readers' windows are the same for both runs; a
    // claimed length must not add anything near its size.
    EXPECT_LT(hostile.peakKiB, plain.peakKiB + 8 * 1024) << "plain run: " << plain.peakKiB << " KiB";
}

const std::string asfHeader = bytes({0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11}) + std::string(22, 'h') +
                              bytes({0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11}) + std::string(32, 'f') +
                              std::string(7, '\0') + "\x80"; // File Size 2^63

constexpr std::uint64_t rest = imageSize - H; // evidence bytes from the header on
constexpr std::uint64_t walkLimit = 10485760;

INSTANTIATE_TEST_SUITE_P(
    Headers, HostileHeaderTest,
    ::testing::Values(
        // 2^32 - 1 FAT sectors claimed: the table is read as far as the evidence holds sectors,
        // and the document is carved up to the end of the evidence, not past it.
        HostileCase{"compoundDocFatCountAllOnes",
                    [](ImageBuilder& i) { i.place(H, compoundHeader(0xFFFFFFFF, 0xFFFFFFFE, 0)); },
                    imageSize,
                    0,
                    {{"disk~CDocFile0.ukn", rest}},
                    ""},
        // A DIFAT chain whose sector names itself as the next one, for ever.
        HostileCase{"compoundDocDifatLoop",
                    [](ImageBuilder& i) {
                        i.place(H, compoundHeader(0xFFFFFFFF, 1, 0x7FFFFF01));
                        i.place(H + 2 * 512 + 127 * 4, test::le32(1)); // sector 1, its last entry
                    },
                    imageSize,
                    0,
                    {{"disk~CDocFile0.ukn", rest}},
                    ""},
        // A local header whose data would run 4 GiB past the end: no end record, not carved.
        HostileCase{"zipSizesPastTheEnd",
                    [](ImageBuilder& i) {
                        i.place(H, bytes({0x50, 0x4B, 0x03, 0x04}) + std::string(14, '\0') +
                                       test::le32(0xFFFFFFFF) + test::le32(0xFFFFFFFF) + test::le16(0xFFFF) +
                                       test::le16(0xFFFF));
                    },
                    imageSize,
                    0,
                    {},
                    ""},
        // A box of size 1 (the 64-bit size mark) moves the walk one byte: "dat" then continues,
        // the next size read is 00 00 01 'm' (365), then a zero size ends it at 24 + 1 + 365.
        HostileCase{"quickTimeBoxOfSizeOne",
                    [](ImageBuilder& i) {
                        i.place(H, ftypMp42() + test::be32(1) + "mdat" + std::string(1024, '\0'));
                    },
                    imageSize,
                    0,
                    {{"disk~VideoFiles0.mp4", 390}},
                    ""},
        // Empty 8-byte free boxes, one after another: the walk stops at its 10 MiB limit.
        HostileCase{"quickTimeBoxesOfSizeEight",
                    [](ImageBuilder& i) {
                        std::string boxes = ftypMp42();
                        const std::string box = test::be32(8) + "free";
                        while (boxes.size() < walkLimit + 4096) {
                            boxes += box;
                        }
                        i.place(H, boxes);
                    },
                    H + walkLimit + 65536,
                    0,
                    {{"disk~VideoFiles0.mp4", walkLimit}},
                    ""},
        // 4 GiB + 7 bytes stated: clipped at the end of the evidence.
        HostileCase{"riffSizeAllOnes",
                    [](ImageBuilder& i) {
                        i.place(H, "RIFF\xFF\xFF\xFF\xFF"
                                   "AVI LIST");
                    },
                    imageSize,
                    0,
                    {{"disk~VideoFiles0.avi", rest}},
                    ""},
        // Twenty digits: the first sixteen are taken. The free-space test is made for the stated
        // length before clipping, so no volume is large enough and the run ends there.
        HostileCase{"pdfLinearizedLengthOfTwentyDigits",
                    [](ImageBuilder& i) {
                        i.place(H,
                                "%PDF-1.5\n1 0 obj << /Linearized 1 /L 99999999999999999999 /H [ 1 2 ] >>");
                    },
                    imageSize,
                    1,
                    {},
                    noFreeSpace},
        // 2^63 bytes stated: as above, refused by the free-space test, never allocated.
        HostileCase{"asfFileSizeTwoToThe63",
                    [](ImageBuilder& i) { i.place(H, asfHeader); },
                    imageSize,
                    1,
                    {},
                    noFreeSpace}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
