#include "CarveEngine.h"
#include "HeaderScan.h"
#include "HexText.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <cstring>
#include <random>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

using namespace morrow;
using namespace morrow::test;

namespace {

const std::string jpeg = bytes({0xFF, 0xD8, 0xFF});

struct ScanFixture : ::testing::Test {
    TempDir tmp;
    FakeHost host;
    CarveEngine engine{host};
    CarveState& st = engine.state();
    std::string path = tmp / "image.P01";

    int scan(const std::string& hex, const std::string& tag = "JPEGFile") {
        EXPECT_TRUE(engine.openEvidence(path));
        return HeaderScan::run(engine, path, tag, HexText::toBytes(hex));
    }
};

TEST_F(ScanFixture, OnlyWholeSectorStartsAreIndexed) {
    ImageBuilder img(4096 + 300);
    img.place(512, jpeg).place(700, jpeg).place(0, jpeg).place(4096, jpeg); // last: a partial sector
    img.writeTo(path);
    EXPECT_EQ(scan("FFD8FF"), 1);
    EXPECT_EQ(st.headerIndex, (std::vector<std::int64_t>{0, 512}));
}

TEST_F(ScanFixture, TheLastWholeSectorMayCompareIntoThePartialOne) {
    ImageBuilder img(1024 + 1);
    img.place(1022, bytes({0x89, 0x50, 0x4E})); // signature begins 2 bytes before the last sector
    img.place(512, bytes({0x89, 0x50}));
    img.resize(1024 + 10);
    img.place(512, bytes({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}));
    img.place(1024, bytes({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A})); // in the partial sector
    img.writeTo(path);
    EXPECT_EQ(scan("89504E470D0A1A0A", "PNGFile"), 1);
    EXPECT_EQ(st.headerIndex, (std::vector<std::int64_t>{512}));
}

TEST_F(ScanFixture, Mp4PassComparesFourBytesIntoTheSectorAndIndexesTheSector) {
    ImageBuilder img(2048);
    img.place(1024 + 4, "ftyp").place(512, "ftyp");
    img.writeTo(path);
    st.mp4Pass = 1;
    EXPECT_EQ(scan("66747970", "VideoFiles"), 1);
    EXPECT_EQ(st.headerIndex, (std::vector<std::int64_t>{1024}));
}

TEST_F(ScanFixture, BigEndianTiffWithItsZeroByteMatchesNothing) {
    ImageBuilder img(1024);
    img.place(0, bytes({0x4D, 0x4D, 0x00, 0x2A}));
    img.writeTo(path);
    for (const char* alt : {"4D4D2A", "4949", "492049"}) {
        EXPECT_EQ(scan(alt, "TIFFile"), 1);
    }
    EXPECT_TRUE(st.headerIndex.empty());
}

TEST_F(ScanFixture, StatusLineNamesTheKindLabelAndEvidence) {
    ImageBuilder(512).writeTo(path);
    st.passLabel = "(2)";
    scan("4949", "TIFFile");
    ASSERT_GE(host.statusTexts.size(), 2u);
    EXPECT_EQ(host.statusTexts[0], "");
    EXPECT_EQ(host.statusTexts[1], "Searching  TIFFile(2) headers and indexing, evidence: image.P01");
}

TEST_F(ScanFixture, ShorterThanASectorHasNoSectorToScan) {
    writeFile(path, jpeg + "abc");
    EXPECT_EQ(scan("FFD8FF"), 1);
    EXPECT_TRUE(st.headerIndex.empty());
    EXPECT_NE(std::find(host.log.begin(), host.log.end(), "range:0"), host.log.end());
    EXPECT_TRUE(host.percentTexts == std::vector<std::string>{""});
}

TEST_F(ScanFixture, ProgressStepsAreAHundredthAndTheBarLagsTheText) {
    ImageBuilder(1000 * 512).writeTo(path);
    scan("FFD8FF");
    std::vector<std::string> expectedPercent;
    for (int k = 1; k <= 99; ++k) {
        expectedPercent.push_back(std::to_string(k) + "%");
    }
    expectedPercent.push_back("");
    EXPECT_EQ(host.percentTexts, expectedPercent);
    std::vector<std::string> positions;
    for (const auto& l : host.log) {
        if (l.rfind("pos:", 0) == 0) {
            positions.push_back(l);
        }
    }
    ASSERT_EQ(positions.size(), 100u); // the first resets to 0, then one per step
    EXPECT_EQ(positions[1], "pos:0");
    EXPECT_EQ(positions[99], "pos:98");
    EXPECT_NE(std::find(host.log.begin(), host.log.end(), "range:100"), host.log.end());
}

TEST_F(ScanFixture, FewSectorsShowOneStepAtTheFirst) {
    ImageBuilder(7 * 512).writeTo(path);
    scan("FFD8FF");
    EXPECT_EQ(host.percentTexts, (std::vector<std::string>{"1%", ""}));
    EXPECT_NE(std::find(host.log.begin(), host.log.end(), "range:7"), host.log.end());
}

TEST_F(ScanFixture, StopAnsweredYesKeepsTheMatchesOfTheSectorsBefore) {
    ImageBuilder img(10 * 512);
    for (int s : {1, 3, 4, 7}) {
        img.place(static_cast<std::uint64_t>(s) * 512, jpeg);
    }
    img.writeTo(path);
    host.stopAt = 5; // the poll of sector 4
    host.answer = [](const Message& m) { return m.style == 0x14 ? answerYes : answerOk; };
    st.carvingInProgress = 1;
    EXPECT_EQ(scan("FFD8FF"), 0);
    EXPECT_EQ(st.headerIndex, (std::vector<std::int64_t>{512, 1536}));
    EXPECT_EQ(st.scanAborted, 1);
    EXPECT_EQ(st.carvingInProgress, 0);
    EXPECT_EQ(host.messages.at(0).text, "Do you want to Cancel the Carving Process?");
    EXPECT_EQ(host.percentTexts.back(), "");
    // The bar stays visible and the animation stopped on its frame.
    EXPECT_EQ(std::count(host.log.begin(), host.log.end(), "hide"), 0);
    EXPECT_EQ(host.log.back(), "showMessage:Do you want to Cancel the Carving Process?");
}

TEST_F(ScanFixture, StopAnsweredNoComparesTheSameSectorAndGoesOn) {
    ImageBuilder img(10 * 512);
    img.place(4 * 512, jpeg);
    img.writeTo(path);
    host.stopAt = 5;
    EXPECT_EQ(scan("FFD8FF"), 1);
    EXPECT_EQ(st.headerIndex, (std::vector<std::int64_t>{2048}));
    EXPECT_EQ(st.scanAborted, 0);
    auto pause = std::find(host.log.begin(), host.log.end(), "pauseAnimation");
    ASSERT_NE(pause, host.log.end());
    EXPECT_EQ(*(pause + 2), "resumeAnimation");
}

TEST_F(ScanFixture, QuitAnsweredYesEndsTheScanAndConfirmsQuit) {
    ImageBuilder img(10 * 512);
    img.writeTo(path);
    host.quitAt = 3;
    host.answer = [](const Message& m) { return m.style == 0x14 ? answerYes : answerOk; };
    EXPECT_EQ(scan("FFD8FF"), 0);
    EXPECT_EQ(st.quitConfirmed, 1);
    EXPECT_EQ(st.scanAborted, 1);
    EXPECT_EQ(host.messages.at(0).text, "Carving Process is in progress!.\n Do you want to Quit the process?");
}

// The first scan of a run reads the evidence once for every signature the run will look for;
// later scans take their matches from what it gathered.
TEST_F(ScanFixture, LaterScansOfARunTakeTheirMatchesFromTheFirstRead) {
    ImageBuilder img(3 * 1024 * 1024);
    img.randomFill(3);
    img.place(512 * 9, jpeg).place(512 * 4000, "II").place(512 * 4001, "MM*").place(512 * 5000 + 4, "ftyp");
    img.writeTo(path);
    std::vector<HeaderKey> keys;
    for (const char* hex : {"FFD8FF", "4D4D2A", "4949", "66747970"}) {
        keys.push_back(HeaderKey{HexText::toBytes(hex), std::string(hex) == "66747970"});
    }
    engine.headerIndexCache().prepare(path, keys);

    scan("FFD8FF");
    EXPECT_EQ(st.headerIndex, (std::vector<std::int64_t>{512 * 9}));
    std::uint64_t firstRead = engine.evidence().bytesFetched();
    EXPECT_GE(firstRead, img.data().size());

    st.headerIndex.clear();
    scan("4949", "TIFFile");
    EXPECT_EQ(st.headerIndex, (std::vector<std::int64_t>{512 * 4000}));
    EXPECT_EQ(engine.evidence().bytesFetched(), firstRead); // nothing more read
    st.headerIndex.clear();
    st.mp4Pass = 1;
    scan("66747970", "VideoFiles");
    EXPECT_EQ(st.headerIndex, (std::vector<std::int64_t>{512 * 5000}));

    // A Stop at sector s leaves exactly the matches before s, also from the index.
    st.headerIndex.clear();
    st.mp4Pass = 0;
    host.polls = 0;
    host.stopAt = 4001; // the poll of sector 4000
    host.answer = [](const Message& m) { return m.style == 0x14 ? answerYes : answerOk; };
    EXPECT_EQ(scan("4D4D2A", "TIFFile"), 0);
    EXPECT_TRUE(st.headerIndex.empty());
}

#ifndef _WIN32 // sparse files
// Evidence larger than 4 GiB (sparse, so it costs no disk): the block reads must index exactly
// what one read per sector finds, offsets past 2 GiB and 4 GiB included.
TEST_F(ScanFixture, LargeSparseImageMatchesAPerSectorReference) {
    const std::uint64_t size = (4ULL << 30) + 512 * 77 + 100;
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    std::mt19937_64 rng(9);
    std::vector<std::uint64_t> placed;
    for (int i = 0; i < 300; ++i) {
        placed.push_back((rng() % (size / 512)) * 512);
    }
    // Around the scan's block edges and the 2 GiB / 4 GiB marks, and right at the end.
    for (std::uint64_t edge : {std::uint64_t{2048 * 512}, std::uint64_t{1} << 31, std::uint64_t{1} << 32, (size / 512 - 1) * 512}) {
        placed.push_back(edge - 512);
        placed.push_back(edge);
    }
    for (std::uint64_t at : placed) {
        ASSERT_EQ(::pwrite(fd, jpeg.data(), 3, static_cast<off_t>(at)), 3);
    }
    // Two bytes of a header split over a sector start: not a match.
    ASSERT_EQ(::pwrite(fd, jpeg.data(), 3, static_cast<off_t>((1ULL << 31) + 511)), 3);
    ::close(fd);

    EXPECT_EQ(scan("FFD8FF"), 1);

    // The reference: one small read per sector, the plain way.
    std::vector<std::int64_t> reference;
    int rfd = ::open(path.c_str(), O_RDONLY);
    unsigned char b[3];
    for (std::uint64_t s = 0; s < size / 512; ++s) {
        ssize_t got = ::pread(rfd, b, 3, static_cast<off_t>(s * 512));
        if (got == 3 && std::memcmp(b, jpeg.data(), 3) == 0) {
            reference.push_back(static_cast<std::int64_t>(s * 512));
        }
    }
    ::close(rfd);
    EXPECT_EQ(st.headerIndex, reference);
    EXPECT_EQ(st.headerIndex.back(), static_cast<std::int64_t>((size / 512 - 1) * 512));
}
#endif

} // namespace
