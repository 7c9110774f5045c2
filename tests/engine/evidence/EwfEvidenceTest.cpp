#include "evidence/EwfEvidence.h"
#include "TestSupport.h"
#include "evidence/EvidenceSource.h"

#include <functional>
#include <random>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace morrow;
using namespace morrow::test;

namespace {

// A 2.5 MiB image, half random and half zeros in turns so that compression has work, acquired
// by ewfacquire in segments of 1 MiB: three without compression, two with.
struct EwfFixture : ::testing::Test {
    TempDir tmp;
    std::string raw;
    std::string first = tmp / "disk.E01";

    void acquire(const std::string& compression) {
        if (!haveProgram("ewfacquire") || !EwfEvidence::builtIn()) {
            GTEST_SKIP() << "needs ewfacquire (ewf-tools) and a build that reads E01 images";
        }
        // Bytes of every value, which deflate cannot shrink, between the zeros.
        std::mt19937 rng(9);
        raw.assign(5 << 19, '\0');
        for (std::size_t at = 128 << 10; at < raw.size(); at += 256 << 10) {
            for (std::size_t i = at; i < at + (128 << 10); ++i) {
                raw[i] = static_cast<char>(rng());
            }
        }
        writeFile(tmp / "disk.raw", raw);
        ASSERT_TRUE(acquireEwf(tmp / "disk.raw", tmp / "disk", 1 << 20, compression));
        ASSERT_TRUE(fileExists(tmp / (compression == "none" ? "disk.E03" : "disk.E02"))) << "too few segments";
    }
    // Writes `bytes` over `segment` at `offset`.
    void overwrite(const std::string& segment, std::size_t offset, const std::string& bytes) {
        std::string data = readFile(tmp / segment);
        ASSERT_LE(offset + bytes.size(), data.size());
        data.replace(offset, bytes.size(), bytes);
        writeFile(tmp / segment, data);
    }
    // Where the descriptor of the first section of `type` in `segment` starts.
    std::size_t sectionAt(const std::string& segment, const std::string& type) {
        return readFile(tmp / segment).find(type + std::string(16 - type.size(), '\0'));
    }
};

class EwfReadTest : public EwfFixture, public ::testing::WithParamInterface<const char*> {};

// Every byte of the media, read in pieces that straddle the chunks and the segments, is the
// acquired image's.
TEST_P(EwfReadTest, MediaReadsAsTheAcquiredImage) {
    acquire(GetParam());
    std::string error;
    auto source = openEvidenceSource(first, error);
    ASSERT_NE(source, nullptr) << error;
    ASSERT_EQ(source->size(), raw.size());
    std::string whole;
    for (std::uint64_t offset = 0; offset < raw.size();) {
        std::string block(100000, '\0');
        const std::size_t got = source->read(offset, block.data(), block.size());
        ASSERT_GT(got, 0u) << "at " << offset << ": " << source->changed();
        whole.append(block, 0, got);
        offset += got;
    }
    EXPECT_TRUE(whole == raw);
    EXPECT_EQ(source->changed(), "");
}

INSTANTIATE_TEST_SUITE_P(Compression, EwfReadTest, ::testing::Values("none", "fast", "best"));

// A set with a segment missing or damaged is refused at the open, saying what is wrong, and never
// read as an image with zeros where data is missing.
struct DamageRow {
    const char* name;
    std::function<void(EwfFixture&)> damage;
    const char* reason; // the start of the open failure's reason
};

class EwfDamageTest : public EwfFixture, public ::testing::WithParamInterface<DamageRow> {};

TEST_P(EwfDamageTest, DamagedSetIsRefusedWithItsReason) {
    acquire("none");
    GetParam().damage(*this);
    std::string error;
    EXPECT_EQ(openEvidenceSource(first, error), nullptr);
    EXPECT_EQ(error.rfind(GetParam().reason, 0), 0u) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Damage, EwfDamageTest,
    ::testing::Values(
        DamageRow{"MiddleSegmentMissing", [](EwfFixture& f) { ::unlink((f.tmp / "disk.E02").c_str()); },
                  "segment disk.E02 is missing"},
        DamageRow{"LastSegmentMissing", [](EwfFixture& f) { ::unlink((f.tmp / "disk.E03").c_str()); },
                  "segment disk.E03 is missing"},
        DamageRow{"SegmentCutShort",
                  [](EwfFixture& f) { ASSERT_EQ(::truncate((f.tmp / "disk.E02").c_str(), 500000), 0); },
                  "segment disk.E02 is damaged: the \"sectors\" section at byte"},
        DamageRow{"DescriptorOverwritten",
                  [](EwfFixture& f) {
                      f.overwrite("disk.E02", f.sectionAt("disk.E02", "sectors") + 20, "XXXXXXXX");
                  },
                  "segment disk.E02 is damaged: the section descriptor at byte"},
        // The descriptors are whole; libewf finds the section's own checksum wrong.
        DamageRow{"SectionDataOverwritten",
                  [](EwfFixture& f) {
                      f.overwrite("disk.E02", f.sectionAt("disk.E02", "data") + 76 + 20, "XXXXXXXX");
                  },
                  "libewf: "},
        DamageRow{"SegmentsOutOfOrder",
                  [](EwfFixture& f) {
                      ASSERT_EQ(::rename((f.tmp / "disk.E03").c_str(), (f.tmp / "disk.E02").c_str()), 0);
                  },
                  "segment disk.E02 is number 3 of its set, not 2"}),
    [](const auto& row) { return std::string(row.param.name); });

// Broke: libewf hands on a chunk that fails its checksum as it is and only counts it, so carved
// files took damaged bytes for the evidence's. The read now fails and says why.
TEST_F(EwfFixture, ChunkFailingItsChecksumIsNotHandedOn) {
    acquire("none");
    overwrite("disk.E02", sectionAt("disk.E02", "sectors") + 76 + 100000, "XXXXXXXX");
    std::string error;
    auto source = openEvidenceSource(first, error);
    ASSERT_NE(source, nullptr) << error;
    std::string block(1 << 20, '\0');
    bool shortRead = false;
    for (std::uint64_t offset = 0; offset < source->size(); offset += block.size()) {
        const std::size_t want = std::min<std::uint64_t>(block.size(), source->size() - offset);
        shortRead = shortRead || source->read(offset, block.data(), want) < want;
    }
    EXPECT_TRUE(shortRead);
    EXPECT_EQ(source->changed().rfind("its data is damaged: sectors ", 0), 0u) << source->changed();
}

struct NameRow {
    const char* name;
    const char* path;
    const char* next;
};

class EwfSegmentNameTest : public ::testing::TestWithParam<NameRow> {};

// libewf's naming, which the message about a missing segment follows.
TEST_P(EwfSegmentNameTest, NextSegmentNameFollowsLibewf) {
    EXPECT_EQ(EwfEvidence::nextSegmentName(GetParam().path), GetParam().next);
}

INSTANTIATE_TEST_SUITE_P(Names, EwfSegmentNameTest,
                         ::testing::Values(NameRow{"Digits", "/ev/disk.E01", "/ev/disk.E02"},
                                           NameRow{"DigitCarry", "/ev/disk.E09", "/ev/disk.E10"},
                                           NameRow{"DigitsToLetters", "/ev/disk.E99", "/ev/disk.EAA"},
                                           NameRow{"LetterCarry", "/ev/disk.EAZ", "/ev/disk.EBA"},
                                           NameRow{"FirstLetterCarry", "/ev/disk.EZZ", "/ev/disk.FAA"},
                                           NameRow{"LowerCase", "disk.e09", "disk.e10"},
                                           NameRow{"PastTheLast", "disk.ZZZ", ""},
                                           NameRow{"NoSuffix", "/ev.d/disk", ""},
                                           NameRow{"ShortSuffix", "disk.E1", ""}),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
