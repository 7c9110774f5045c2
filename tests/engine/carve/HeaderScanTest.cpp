#include "carve/HeaderScan.h"
#include "TestSupport.h"
#include "carve/PassContext.h"
#include "evidence/EvidenceSource.h"
#include "formats/HtmlExtent.h"
#include "search/HexText.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

using namespace morrow;
using namespace morrow::test;

namespace {

const std::string jpeg = bytes({0xFF, 0xD8, 0xFF});

// What a header scan sees of a run: a display that records, a poll that answers "stop" at poll
// number `stopAt` (from 1), and the run's match cache. No engine, host form or output folder.
class ScanContext : public PassContext {
  public:
    FakeHost display_;
    HeaderIndex cache;
    std::int64_t polls = 0;
    std::int64_t stopAt = -1;
    bool aborted = false;
    OffsetList pdf;
    std::int32_t pdfCount = 0;

    EvidenceReader* openEvidence(const std::string&) override { return nullptr; }
    bool carve(const CarvedFile&) override { return true; }
    std::string carvedFilePath(const std::string&, const std::string&, std::int64_t,
                               const std::string&) const override {
        return {};
    }
    PassDisplay& display() override { return display_; }
    bool pollCandidate() override { return ++polls != stopAt; }
    bool pollScan() override {
        aborted = ++polls == stopAt;
        return !aborted;
    }
    bool scanAborted() const override { return aborted; }
    void evidenceFailed(EvidenceReader&) override { aborted = true; }
    HeaderIndex& headerCache() override { return cache; }
    ParallelDigest* evidenceDigest() override { return nullptr; }
    void evidenceDigestDone() override {}
    OffsetList& pdfHeaderIndex() override { return pdf; }
    std::int32_t& pdfCarvedBySize() override { return pdfCount; }
};

struct ScanFixture : ::testing::Test {
    ScanContext context;
    FakeHost& host = context.display_;
    std::unique_ptr<MemoryImage> image;
    std::unique_ptr<EvidenceSource> file;
    std::unique_ptr<EvidenceReader> fileReader;
    std::string path = "image.P01";
    HeaderScan::Result result;

    void load(const std::string& bytes) { image = std::make_unique<MemoryImage>(bytes); }
    void load(const ImageBuilder& img) { load(img.data()); }
    EvidenceReader& evidence() { return image ? image->reader() : *fileReader; }
    // Scans for `hex` (the MP4 family's way when `shifted`); true when the scan went through.
    bool scan(const std::string& hex, const std::string& label = "JPEGFile", bool shifted = false) {
        result = HeaderScan::run(context, evidence(), path, label, HeaderKey{HexText::toBytes(hex), shifted});
        return result.finished;
    }
};

TEST_F(ScanFixture, OnlyWholeSectorStartsAreIndexed) {
    ImageBuilder img(4096 + 300);
    img.place(512, jpeg).place(700, jpeg).place(0, jpeg).place(4096, jpeg); // last: a partial sector
    load(img);
    EXPECT_TRUE(scan("FFD8FF"));
    EXPECT_EQ(result.matches, (std::vector<std::int64_t>{0, 512}));
}

TEST_F(ScanFixture, TheLastWholeSectorMayCompareIntoThePartialOne) {
    ImageBuilder img(1024 + 1);
    img.place(1022, bytes({0x89, 0x50, 0x4E})); // signature begins 2 bytes before the last sector
    img.place(512, bytes({0x89, 0x50}));
    img.resize(1024 + 10);
    img.place(512, bytes({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}));
    img.place(1024, bytes({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A})); // in the partial sector
    load(img);
    EXPECT_TRUE(scan("89504E470D0A1A0A", "PNGFile"));
    EXPECT_EQ(result.matches, (std::vector<std::int64_t>{512}));
}

TEST_F(ScanFixture, Mp4PassComparesFourBytesIntoTheSectorAndIndexesTheSector) {
    ImageBuilder img(2048);
    img.place(1024 + 4, "ftyp").place(512, "ftyp");
    load(img);
    EXPECT_TRUE(scan("66747970", "VideoFiles", true));
    EXPECT_EQ(result.matches, (std::vector<std::int64_t>{1024}));
}

TEST_F(ScanFixture, BigEndianTiffWithItsZeroByteMatchesNothing) {
    ImageBuilder img(1024);
    img.place(0, bytes({0x4D, 0x4D, 0x00, 0x2A}));
    load(img);
    for (const char* alt : {"4D4D2A", "4949", "492049"}) {
        EXPECT_TRUE(scan(alt, "TIFFile"));
    }
    EXPECT_TRUE(result.matches.empty());
}

TEST_F(ScanFixture, StatusLineNamesTheKindLabelAndEvidence) {
    load(ImageBuilder(512));
    path = "/cases/17/image.P01";
    scan("4949", "TIFFile(2)");
    ASSERT_GE(host.statusTexts.size(), 2u);
    EXPECT_EQ(host.statusTexts[0], "");
    EXPECT_EQ(host.statusTexts[1], "Searching  TIFFile(2) headers and indexing, evidence: image.P01");
}

TEST_F(ScanFixture, ShorterThanASectorHasNoSectorToScan) {
    load(jpeg + "abc");
    EXPECT_TRUE(scan("FFD8FF"));
    EXPECT_TRUE(result.matches.empty());
    EXPECT_NE(std::find(host.log.begin(), host.log.end(), "range:0"), host.log.end());
    EXPECT_TRUE(host.percentTexts == std::vector<std::string>{""});
}

TEST_F(ScanFixture, ProgressStepsAreAHundredthAndTheBarLagsTheText) {
    load(ImageBuilder(1000 * 512));
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
    load(ImageBuilder(7 * 512));
    scan("FFD8FF");
    EXPECT_EQ(host.percentTexts, (std::vector<std::string>{"1%", ""}));
    EXPECT_NE(std::find(host.log.begin(), host.log.end(), "range:7"), host.log.end());
}

TEST_F(ScanFixture, AStopKeepsTheMatchesOfTheSectorsBeforeAndLeavesTheBarShown) {
    ImageBuilder img(10 * 512);
    for (int s : {1, 3, 4, 7}) {
        img.place(static_cast<std::uint64_t>(s) * 512, jpeg);
    }
    load(img);
    context.stopAt = 5; // the poll of sector 4
    EXPECT_FALSE(scan("FFD8FF"));
    EXPECT_EQ(result.matches, (std::vector<std::int64_t>{512, 1536}));
    EXPECT_EQ(std::count(host.log.begin(), host.log.end(), "hide"), 0);
    EXPECT_EQ(std::count(host.log.begin(), host.log.end(), "closeAnimation"), 0);
}

// The first scan of a run reads the evidence once for every signature the run will look for;
// later scans take their matches from what it gathered.
TEST_F(ScanFixture, LaterScansOfARunTakeTheirMatchesFromTheFirstRead) {
    ImageBuilder img(3 * 1024 * 1024);
    img.randomFill(3);
    img.place(512 * 9, jpeg).place(512 * 4000, "II").place(512 * 4001, "MM*").place(512 * 5000 + 4, "ftyp");
    load(img);
    std::vector<HeaderKey> keys;
    for (const char* hex : {"FFD8FF", "4D4D2A", "4949", "66747970"}) {
        keys.push_back(HeaderKey{HexText::toBytes(hex), std::string(hex) == "66747970"});
    }
    context.cache.prepare(path, keys);

    scan("FFD8FF");
    EXPECT_EQ(result.matches, (std::vector<std::int64_t>{512 * 9}));
    std::uint64_t firstRead = evidence().bytesFetched();
    EXPECT_GE(firstRead, img.data().size());

    scan("4949", "TIFFile");
    EXPECT_EQ(result.matches, (std::vector<std::int64_t>{512 * 4000}));
    EXPECT_EQ(evidence().bytesFetched(), firstRead); // nothing more read
    scan("66747970", "VideoFiles", true);
    EXPECT_EQ(result.matches, (std::vector<std::int64_t>{512 * 5000}));

    // A Stop at sector s leaves exactly the matches before s, also from the index.
    context.polls = 0;
    context.stopAt = 4001; // the poll of sector 4000
    EXPECT_FALSE(scan("4D4D2A", "TIFFile"));
    EXPECT_TRUE(result.matches.empty());
}

// A key with a test of the sector's first bytes (an exact-ends HTML start's) indexes only the
// sectors that pass it; nextStart finds the lowest start of any signature of two bytes or more in
// a range, whichever key matched it.
TEST_F(ScanFixture, FirstBytesTestAndNextStart) {
    ImageBuilder img(64 * 512);
    img.randomFill(4);
    img.place(512 * 3, " \n<html>").place(512 * 5, " plain text").place(512 * 7, "<p>no page");
    img.place(512 * 9, jpeg).place(512 * 12, "\r\n<!DOCTYPE html>").place(512 * 20, jpeg);
    load(img);
    const std::vector<HeaderKey> keys = {
        HeaderKey{HexText::toBytes("FFD8FF")}, HeaderKey{" ", false, &HtmlExtent::opensPage},
        HeaderKey{"\r", false, &HtmlExtent::opensPage}, HeaderKey{"<", false, &HtmlExtent::opensPage}};
    context.cache.prepare(path, keys);
    result = HeaderScan::run(context, evidence(), path, "JPEGFile", keys[0]);
    EXPECT_EQ(result.matches, (std::vector<std::int64_t>{512 * 9, 512 * 20}));
    for (const auto& [key, found] : {std::pair{keys[1], std::vector<std::int64_t>{512 * 3}},
                                     std::pair{keys[2], std::vector<std::int64_t>{512 * 12}},
                                     std::pair{keys[3], std::vector<std::int64_t>{}}}) {
        result = HeaderScan::run(context, evidence(), path, "HTMLFile", key);
        EXPECT_EQ(result.matches, found) << key.signature;
    }
    // One-byte openings start no file by themselves: only the JPEGs count.
    EXPECT_EQ(context.cache.nextStart(0, 64 * 512), 512 * 9);
    EXPECT_EQ(context.cache.nextStart(512 * 9 + 1, 64 * 512), 512 * 20);
    EXPECT_EQ(context.cache.nextStart(512 * 9 + 1, 512 * 20), -1);
    EXPECT_TRUE(context.cache.startsFile(512 * 20));
    EXPECT_FALSE(context.cache.startsFile(512 * 3));
}

#ifndef _WIN32 // sparse files
// Evidence larger than 4 GiB (sparse, so it costs no disk): the block reads must index exactly
// what one read per sector finds, offsets past 2 GiB and 4 GiB included.
TEST_F(ScanFixture, LargeSparseImageMatchesAPerSectorReference) {
    TempDir tmp;
    path = tmp / "image.P01";
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
    for (std::uint64_t edge : {std::uint64_t{2048 * 512}, std::uint64_t{1} << 31, std::uint64_t{1} << 32,
                               (size / 512 - 1) * 512}) {
        placed.push_back(edge - 512);
        placed.push_back(edge);
    }
    for (std::uint64_t at : placed) {
        ASSERT_EQ(::pwrite(fd, jpeg.data(), 3, static_cast<off_t>(at)), 3);
    }
    // Two bytes of a header split over a sector start: not a match.
    ASSERT_EQ(::pwrite(fd, jpeg.data(), 3, static_cast<off_t>((1ULL << 31) + 511)), 3);
    ::close(fd);
    std::string error;
    file = openEvidenceSource(path, error);
    ASSERT_TRUE(file) << error;
    fileReader = std::make_unique<EvidenceReader>(*file);

    EXPECT_TRUE(scan("FFD8FF"));

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
    EXPECT_EQ(result.matches, reference);
    EXPECT_EQ(result.matches.back(), static_cast<std::int64_t>((size / 512 - 1) * 512));
}
#endif

} // namespace
