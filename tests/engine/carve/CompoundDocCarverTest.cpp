#include "carve/CompoundDocCarver.h"

#include "CarveEngine.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace morrow;

namespace {

constexpr std::uint32_t freeEntry = 0xFFFFFFFF;
constexpr std::uint32_t endOfChain = 0xFFFFFFFE;
constexpr std::uint32_t fatMark = 0xFFFFFFFD;
constexpr std::uint32_t difatMark = 0xFFFFFFFC;

void put32(std::string& s, std::size_t at, std::uint32_t v) {
    s.replace(at, 4, test::le32(v));
}

// A compound document built sector by sector: the header, then sectors 0, 1, ... of filler.
class BuiltDoc {
  public:
    explicit BuiltDoc(std::size_t sectorCount)
        : header_(512, '\0'), sectors_(sectorCount, std::string(512, 'q')) {
        header_.replace(0, 8, test::bytes({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}));
        for (std::size_t i = 0; i < 109; ++i) {
            put32(header_, 76 + 4 * i, freeEntry);
        }
        field(48, endOfChain).field(68, endOfChain);
    }
    BuiltDoc& field(std::size_t at, std::uint32_t v) {
        put32(header_, at, v);
        return *this;
    }
    BuiltDoc& headerFat(std::size_t i, std::uint32_t sector) { return field(76 + 4 * i, sector); }
    // Fills sector `s` with 128 entries: `values`, then `rest`.
    BuiltDoc& entries(std::size_t s, const std::vector<std::uint32_t>& values,
                      std::uint32_t rest = freeEntry) {
        for (std::size_t i = 0; i < 128; ++i) {
            put32(sectors_.at(s), 4 * i, i < values.size() ? values[i] : rest);
        }
        return *this;
    }
    std::string bytes() const {
        std::string all = header_;
        for (const std::string& s : sectors_) {
            all += s;
        }
        return all;
    }

  private:
    std::string header_;
    std::vector<std::string> sectors_;
};

// Analyses the documents at `headers` of an evidence image; the records, one per header.
std::vector<CompoundDocRecord> analyseImage(const std::string& image, std::vector<std::int64_t> headers) {
    test::FakeHost host;
    CarveEngine engine(host);
    test::serveFromMemory(engine, {{"ev.img", image}});
    EXPECT_TRUE(engine.openEvidence("ev.img"));
    OffsetList list;
    list = headers;
    const auto last = static_cast<std::int64_t>(headers.size()) - 1;
    std::vector<CompoundDocRecord> records;
    EXPECT_EQ(CompoundDocCarver::analyse(engine, engine.evidence(), list, 0, last, last, records), 1);
    return records;
}

// One run of the engine with only compound documents ticked, over one evidence image.
class CompoundDocRun {
  public:
    CompoundDocRun() : engine(host) {}

    void run(const std::string& image, std::int32_t maxKB = 1024) {
        test::writeFile(dir / "disk.img", image);
        host.evidence = {dir / "disk.img"};
        host.carvingPath = dir / "out";
        host.maxFileSizeKB = maxKB;
        host.tick({"Compound Doc Files"});
        engine.startRun();
    }
    std::string folder() const { return dir / "out/disk"; }
    std::string carved(const std::string& name) const { return test::readFile(folder() + "/" + name); }
    std::vector<std::string> carvedNames() const {
        std::vector<std::string> names;
        for (const std::string& n : test::listFolder(folder())) {
            if (n != "disk~Report.xls") {
                names.push_back(n);
            }
        }
        return names;
    }

    test::TempDir dir;
    test::FakeHost host;
    CarveEngine engine;
};

std::string filler(std::size_t size, std::uint32_t seed) {
    test::ImageBuilder b(size);
    b.randomFill(seed);
    return b.data();
}

// Regression: counting the free entries instead of taking the last entry in use cut one sector
// off each of these LibreOffice documents, whose sector 1 is free in the middle of the table.
TEST(CompoundDocCarverTest, RealDocumentsWithFreeEntryInTheMiddleCarvedWhole) {
    const std::string doc = test::fixture("doc.doc");
    const std::string xls = test::fixture("sheet.xls");
    const std::string ppt = test::fixture("slides.ppt");
    test::ImageBuilder image(200 * 1024);
    image.randomFill(36).place(2048, doc).place(40960, xls).place(81920, ppt);

    CompoundDocRun r;
    r.run(image.data());
    EXPECT_EQ(r.carvedNames(),
              (std::vector<std::string>{"disk~CDocFile0.doc", "disk~CDocFile1.xls", "disk~CDocFile2.ppt"}));
    EXPECT_EQ(r.carved("disk~CDocFile0.doc"), doc);
    EXPECT_EQ(r.carved("disk~CDocFile1.xls"), xls);
    EXPECT_EQ(r.carved("disk~CDocFile2.ppt"), ppt);
    EXPECT_EQ(r.engine.state().filesCarvedTotal, 3);
    const std::string report = r.carved("disk~Report.xls");
    EXPECT_NE(report.find("~CDocFile0.doc\t2048\t"), std::string::npos) << report;
    EXPECT_NE(report.find("\t18\t9216"), std::string::npos) << report;
    EXPECT_NE(report.find("~CDocFile2.ppt\t81920\t"), std::string::npos) << report;
    EXPECT_NE(report.find("\t57\t29184"), std::string::npos) << report;
    EXPECT_TRUE(r.engine.state().pdfHeaderIndex.empty());

    const auto& status = r.host.statusTexts;
    auto analysing = std::find(status.begin(), status.end(), "Analysing Copound Doc file system...");
    auto carving = std::find(status.begin(), status.end(), "Carving CDocFile: 1 Of 3");
    ASSERT_NE(analysing, status.end());
    ASSERT_NE(carving, status.end());
    EXPECT_LT(analysing, carving);
    EXPECT_NE(std::find(status.begin(), status.end(), "Carving CDocFile: 3 Of 3"), status.end());
}

struct LengthRow {
    const char* label;
    friend void PrintTo(const LengthRow& r, std::ostream* os) { *os << r.label; }
    std::function<std::string()> build; // the document, at offset 0 of the evidence
    std::int64_t lastSectorIndex;
    std::size_t evidenceSectors; // the evidence is at least this many sectors long
};

class LengthTest : public ::testing::TestWithParam<LengthRow> {};

TEST_P(LengthTest, LastSectorIndexIsThePositionOfTheLastEntryInUse) {
    std::string image = GetParam().build();
    if (image.size() < GetParam().evidenceSectors * 512) {
        image += filler(GetParam().evidenceSectors * 512 - image.size(), 3);
    }
    auto records = analyseImage(image, {0});
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].startOffset, 0);
    EXPECT_EQ(records[0].lastSectorIndex, GetParam().lastSectorIndex);
}

std::vector<std::uint32_t> used(std::size_t count, std::uint32_t value = endOfChain) {
    return std::vector<std::uint32_t>(count, value);
}

INSTANTIATE_TEST_SUITE_P(
    CompoundDocCarverTest, LengthTest,
    ::testing::Values(
        LengthRow{"TenUsedThenFree",
                  [] { return BuiltDoc(10).field(44, 1).headerFat(0, 0).entries(0, used(10)).bytes(); }, 10,
                  0},
        LengthRow{"FreeEntriesInTheMiddle",
                  [] {
                      return BuiltDoc(8)
                          .field(44, 1)
                          .headerFat(0, 0)
                          .entries(0, {fatMark, endOfChain, freeEntry, freeEntry, 5, 6, endOfChain})
                          .bytes();
                  },
                  7, 0},
        // Regression: with no free entry the header sector used to be left out.
        LengthRow{"TableFullyUsed",
                  [] { return BuiltDoc(128).field(44, 1).headerFat(0, 0).entries(0, used(128)).bytes(); },
                  128, 0},
        LengthRow{"NoFatSectorGivesTheHeaderAlone", [] { return BuiltDoc(4).field(44, 0).bytes(); }, 0, 0},
        LengthRow{"AllEntriesFree",
                  [] { return BuiltDoc(4).field(44, 1).headerFat(0, 0).entries(0, {}).bytes(); }, 0, 0},
        // 110 FAT sectors: the 109 of the header (all sector 0: entries 0..3 used) and one more
        // (sector 2, entry 5 used) from the DIFAT sector 1.
        LengthRow{
            "DifatSectorFollowed",
            [] {
                BuiltDoc d(3);
                d.field(44, 110).field(68, 1).field(72, 1).entries(0,
                                                                   {fatMark, difatMark, fatMark, endOfChain});
                for (std::size_t i = 0; i < 109; ++i) {
                    d.headerFat(i, 0);
                }
                d.entries(1, {2}, 7).entries(2, {freeEntry, freeEntry, freeEntry, freeEntry, freeEntry, 9});
                return d.bytes();
            },
            109 * 128 + 5 + 1, 120},
        LengthRow{
            "DifatCount256TreatedAsNone",
            [] {
                BuiltDoc d(3);
                d.field(44, 110).field(68, 1).field(72, 256).entries(
                    0, {fatMark, difatMark, fatMark, endOfChain});
                for (std::size_t i = 0; i < 109; ++i) {
                    d.headerFat(i, 0);
                }
                d.entries(1, {2}, 7).entries(2, {freeEntry, freeEntry, freeEntry, freeEntry, freeEntry, 9});
                return d.bytes();
            },
            108 * 128 + 3 + 1, 120},
        // 237 FAT sectors over a chain of two DIFAT sectors (1 -> 2). The second lists only one
        // FAT sector (3); its other entries name sector 4, all in use, and must not be read.
        LengthRow{"DifatChainOfTwoSectors",
                  [] {
                      BuiltDoc d(5);
                      d.field(44, 237).field(68, 1).field(72, 2).entries(0, {fatMark});
                      for (std::size_t i = 0; i < 109; ++i) {
                          d.headerFat(i, 0);
                      }
                      std::vector<std::uint32_t> first(127, 0);
                      first.push_back(2);
                      d.entries(1, first).entries(2, {3}, 4);
                      d.entries(3, {freeEntry, freeEntry, freeEntry, freeEntry, freeEntry, endOfChain});
                      d.entries(4, used(128, 1));
                      return d.bytes();
                  },
                  236 * 128 + 5 + 1, 240},
        // The DIFAT start given as end of chain is sector 0.
        LengthRow{"DifatStartEndOfChainIsSectorZero",
                  [] {
                      BuiltDoc d(3);
                      d.field(44, 110).field(68, endOfChain).field(72, 1).entries(1, {fatMark});
                      for (std::size_t i = 0; i < 109; ++i) {
                          d.headerFat(i, 1);
                      }
                      d.entries(0, {2}).entries(2, {freeEntry, 5});
                      return d.bytes();
                  },
                  109 * 128 + 1 + 1, 120},
        // Four billion FAT sectors claimed and a DIFAT chain that points to itself for ever:
        // the counts stop at the 256 sectors of the evidence; every entry read is in use.
        LengthRow{"LoopingDifatChainEnds",
                  [] {
                      BuiltDoc d(2);
                      d.field(44, 0xFFFFFFFF).field(68, 1).field(72, 0x7FFFFF01).entries(1, used(128, 1));
                      for (std::size_t i = 0; i < 109; ++i) {
                          d.headerFat(i, 1);
                      }
                      return d.bytes();
                  },
                  256 * 128, 256}),
    [](const ::testing::TestParamInfo<LengthRow>& row) { return std::string(row.param.label); });

TEST(CompoundDocCarverTest, EveryHeaderGetsOneRecordInIndexOrder) {
    std::string a = BuiltDoc(3).field(44, 1).headerFat(0, 0).entries(0, used(3)).bytes();
    std::string b = BuiltDoc(6).field(44, 1).headerFat(0, 1).entries(1, used(6)).bytes();
    std::string image = a + b + filler(4096, 9);
    auto records = analyseImage(image, {0, 2048});
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].lastSectorIndex, 3);
    EXPECT_EQ(records[1].startOffset, 2048);
    EXPECT_EQ(records[1].lastSectorIndex, 6);
    EXPECT_EQ(records[0].extension, ".ukn");
}

struct ClampRow {
    const char* label;
    friend void PrintTo(const ClampRow& r, std::ostream* os) { *os << r.label; }
    std::int64_t offset;
    std::uint64_t length, evidenceSize, expected;
};

class ClampTest : public ::testing::TestWithParam<ClampRow> {};

TEST_P(ClampTest, NoCarvedBytePastTheEndOfTheEvidence) {
    const ClampRow& p = GetParam();
    EXPECT_EQ(CompoundDocCarver::carvedLength(p.offset, p.length, p.evidenceSize), p.expected);
}

INSTANTIATE_TEST_SUITE_P(CompoundDocCarverTest, ClampTest,
                         ::testing::Values(ClampRow{"InsideTheEvidence", 512, 1024, 4096, 1024},
                                           ClampRow{"EndingAtTheEnd", 512, 3584, 4096, 3584},
                                           ClampRow{"RunningPastTheEnd", 512, 4096, 4096, 3584},
                                           ClampRow{"HugeLength", 0, ~0ull - 511, 4096, 4096}),
                         [](const ::testing::TestParamInfo<ClampRow>& row) {
                             return std::string(row.param.label);
                         });

struct CutRow {
    const char* label;
    friend void PrintTo(const CutRow& r, std::ostream* os) { *os << r.label; }
    std::size_t kept; // bytes of sheet.xls left in the evidence
    bool exactEnds;
    const char* extension; // the directory (sector 8) is lost when the cut comes before it; null:
                           // nothing carved
};

class CutDocumentTest : public ::testing::TestWithParam<CutRow> {};

// Both modes carve what the evidence holds and nothing after it; exact ends only a document whose
// allocation table and directory are still there.
TEST_P(CutDocumentTest, DocumentCutByTheEndOfTheEvidence) {
    const CutRow& c = GetParam();
    const std::string doc = test::fixture("sheet.xls");
    CompoundDocRun r;
    r.host.exactEnds = c.exactEnds;
    r.run(filler(1024, 5) + doc.substr(0, c.kept), 1);
    if (c.extension == nullptr) {
        EXPECT_TRUE(r.carvedNames().empty());
        return;
    }
    const std::string name = std::string("disk~CDocFile0") + c.extension;
    ASSERT_EQ(r.carvedNames(), std::vector<std::string>{name});
    EXPECT_EQ(r.carved(name), doc.substr(0, c.kept));
}

INSTANTIATE_TEST_SUITE_P(CompoundDocCarverTest, CutDocumentTest,
                         ::testing::Values(CutRow{"ShortOfOneSector", 5120, false, ".xls"},
                                           CutRow{"BeforeItsDirectory", 3584, false, ".ukn"},
                                           CutRow{"ExactShortOfOneSector", 5120, true, ".xls"},
                                           CutRow{"ExactBeforeItsDirectoryNotCarved", 3584, true, nullptr}),
                         [](const ::testing::TestParamInfo<CutRow>& row) {
                             return std::string(row.param.label);
                         });

// Regression: a header claiming 2^32-1 FAT sectors made the analysis read and hold billions of
// entries and the carve write terabytes of zeros. Exact ends carve no such document, nor the
// signature followed by random bytes.
TEST(CompoundDocCarverTest, HostileHeadersStayBoundedAndInsideTheEvidence) {
    std::string doc = BuiltDoc(0).field(44, 0xFFFFFFFF).bytes();
    for (std::size_t i = 0; i < 109; ++i) {
        put32(doc, 76 + 4 * i, static_cast<std::uint32_t>(i));
    }
    const std::string image = filler(4096, 8) + doc + filler(60 * 1024, 8);
    CompoundDocRun r;
    r.run(image, 2);
    ASSERT_EQ(r.carvedNames(), std::vector<std::string>{"disk~CDocFile0.ukn"});
    EXPECT_EQ(r.carved("disk~CDocFile0.ukn"), image.substr(4096));

    const std::string random = filler(4096, 8) + "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + filler(100 * 1024, 9);
    for (const std::string& hostile : {image, random}) {
        CompoundDocRun x;
        x.host.exactEnds = true;
        x.run(hostile, 2);
        EXPECT_TRUE(x.carvedNames().empty());
    }
}

struct StopRow {
    const char* label;
    friend void PrintTo(const StopRow& r, std::ostream* os) { *os << r.label; }
    bool quit;
};

class StopDuringAnalysisTest : public ::testing::TestWithParam<StopRow> {};

TEST_P(StopDuringAnalysisTest, NothingCarvedAndTheRunEnds) {
    test::ImageBuilder image(64 * 1024);
    image.randomFill(12)
        .place(0, test::fixture("sheet.xls"))
        .place(16384, test::fixture("sheet.xls"))
        .place(32768, test::fixture("sheet.xls"));
    CompoundDocRun r;
    // The header scan polls once per sector (128); the analysis then polls once per header.
    const std::int64_t secondHeader = 128 + 2;
    (GetParam().quit ? r.host.quitAt : r.host.stopAt) = secondHeader;
    r.host.answer = [](const test::Message& m) {
        return m.text == CarveEngine::stopQuestion || m.text == CarveEngine::quitQuestion ? answerYes
                                                                                          : answerNo;
    };
    r.run(image.data());

    EXPECT_TRUE(r.carvedNames().empty());
    const auto& status = r.host.statusTexts;
    EXPECT_NE(std::find(status.begin(), status.end(), "Analysing Copound Doc file system..."), status.end());
    EXPECT_EQ(std::find(status.begin(), status.end(), "Carving CDocFile: 1 Of 3"), status.end());
    const auto texts = r.host.messageTexts();
    EXPECT_NE(
        std::find_if(texts.begin(), texts.end(),
                     [](const std::string& t) { return t.rfind("Carving Completed Partially.", 0) == 0; }),
        texts.end());
    EXPECT_EQ(r.host.ended, GetParam().quit);
    EXPECT_TRUE(r.engine.state().pdfHeaderIndex.empty());
}

INSTANTIATE_TEST_SUITE_P(CompoundDocCarverTest, StopDuringAnalysisTest,
                         ::testing::Values(StopRow{"Stop", false}, StopRow{"Quit", true}),
                         [](const ::testing::TestParamInfo<StopRow>& row) {
                             return std::string(row.param.label);
                         });

TEST(CompoundDocCarverTest, FullDestinationEndsThePassWithoutAFile) {
    CompoundDocRun r;
    r.engine.output().setFreeSpaceProbe(
        [](const std::string&) { return std::optional<std::uint64_t>(1000); });
    r.run(filler(1024, 2) + test::fixture("sheet.xls"));
    EXPECT_TRUE(r.carvedNames().empty());
    EXPECT_EQ(r.engine.state().filesCarvedTotal, 0);
}

} // namespace
