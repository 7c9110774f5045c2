#include "evidence/EwfEvidence.h"
#include "TestSupport.h"
#include "evidence/EvidenceReader.h"
#include "evidence/EvidenceSource.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace morrow;
using namespace morrow::test;

namespace {

namespace fs = std::filesystem;

// A 2.5 MiB image acquired by ewfacquire, stored, in three segments of 1 MiB.
struct EwfFixture : ::testing::Test {
    TempDir tmp;
    void SetUp() override {
        if (!canAcquireEwf() || !EwfEvidence::builtIn()) {
            GTEST_SKIP() << "needs ewfacquire (ewf-tools) and a build that reads E01 images";
        }
        ImageBuilder(5 << 19).randomFill(9).writeTo(tmp / "disk.raw");
        ASSERT_TRUE(acquireEwf(tmp / "disk.raw", tmp / "disk", 1 << 20, "none"));
        ASSERT_TRUE(fileExists(tmp / "disk.E03"));
    }
    // Writes `bytes` over `segment` at `at` bytes past the start of its first `type` section.
    void overwrite(const std::string& segment, const std::string& type, std::size_t at,
                   const std::string& bytes) {
        std::string data = readFile(tmp / segment);
        data.replace(data.find(type + std::string(16 - type.size(), '\0')) + at, bytes.size(), bytes);
        writeFile(tmp / segment, data);
    }
};

// A set with a segment missing or damaged is refused at the open, saying what is wrong, and never
// read as an image with zeros where data is missing.
struct DamageRow {
    const char* name;
    std::function<void(EwfFixture&)> damage;
    const char* reason; // the start of the open failure's reason
};

class EwfDamageTest : public EwfFixture, public ::testing::WithParamInterface<DamageRow> {};

TEST_P(EwfDamageTest, DamagedSetIsRefusedWithItsReason) {
    GetParam().damage(*this);
    std::string error;
    EXPECT_EQ(openEvidenceSource(tmp / "disk.E01", error), nullptr);
    EXPECT_EQ(error.rfind(GetParam().reason, 0), 0u) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Damage, EwfDamageTest,
    ::testing::Values(DamageRow{"MiddleSegmentMissing", [](EwfFixture& f) { fs::remove(f.tmp / "disk.E02"); },
                                "segment disk.E02 is missing"},
                      DamageRow{"LastSegmentMissing", [](EwfFixture& f) { fs::remove(f.tmp / "disk.E03"); },
                                "segment disk.E03 is missing"},
                      DamageRow{"SegmentCutShort",
                                [](EwfFixture& f) { fs::resize_file(f.tmp / "disk.E02", 500000); },
                                "segment disk.E02 is damaged: the \"sectors\" section at byte"},
                      DamageRow{"DescriptorOverwritten",
                                [](EwfFixture& f) { f.overwrite("disk.E02", "sectors", 20, "XXXXXXXX"); },
                                "segment disk.E02 is damaged: the section descriptor at byte"},
                      // The descriptors are whole; libewf finds the section's own checksum wrong.
                      DamageRow{"SectionDataOverwritten",
                                [](EwfFixture& f) { f.overwrite("disk.E02", "data", 96, "XXXXXXXX"); },
                                "libewf: "},
                      DamageRow{"SegmentsOutOfOrder",
                                [](EwfFixture& f) {
                                    fs::remove(f.tmp / "disk.E02"); // a rename over a file fails on Windows
                                    fs::rename(f.tmp / "disk.E03", f.tmp / "disk.E02");
                                },
                                "segment disk.E02 is number 3 of its set, not 2"}),
    [](const auto& row) { return std::string(row.param.name); });

// Broke on Windows: libewf took the path's UTF-8 for the ANSI code page, so a set in a folder named
// outside it was found as its first segment alone; and it looked for the later segments in the
// current folder when the path was written with slashes. Every segment is found, and every byte
// read, whichever separators the path has.
TEST_F(EwfFixture, SegmentsAreFoundInAFolderNamedOutsideTheCodePage) {
    const fs::path folder = fs::path(tmp.path()) / fs::path(u8"carvé-日本");
    fs::create_directory(folder);
    for (const char* name : {"disk.E01", "disk.E02", "disk.E03"}) {
        fs::copy_file(tmp / name, folder / name);
    }
    for (const std::u8string& first :
         {(folder / "disk.E01").u8string(), (folder / "disk.E01").generic_u8string()}) {
        std::string error;
        auto source = openEvidenceSource(std::string(first.begin(), first.end()), error);
        ASSERT_NE(source, nullptr) << error;
        EXPECT_EQ(source->segments().size(), 3u);
        std::string image(source->size(), '\0');
        ASSERT_EQ(source->read(0, image.data(), image.size()), image.size());
        EXPECT_TRUE(image == readFile(tmp / "disk.raw"));
    }
}

// Broke: libewf hands on a chunk that fails its checksum as it is and only counts it, so carved
// files took damaged bytes for the evidence's; then one such chunk ended the whole run as a change.
// The chunk now reads short, and a reader reads on past it: zeros there, noted as damage, every
// other byte the image's.
TEST_F(EwfFixture, ChunkFailingItsChecksumIsReadPastAsDamage) {
    overwrite("disk.E02", "sectors", 76 + 100000, "XXXXXXXX");
    std::string error;
    auto source = openEvidenceSource(tmp / "disk.E01", error);
    ASSERT_NE(source, nullptr) << error;
    EvidenceReader reader(*source);
    std::string image(source->size(), '\0');
    for (std::uint64_t offset = 0; offset < image.size(); offset += 1 << 20) {
        const std::size_t want = std::min<std::uint64_t>(1 << 20, image.size() - offset);
        EXPECT_EQ(reader.readAt(static_cast<std::int64_t>(offset), image.data() + offset, want), want);
    }
    EXPECT_FALSE(reader.readFailed());
    EXPECT_EQ(reader.changed(), "");
    ASSERT_EQ(reader.damage().size(), 1u);
    const auto [first, end] = reader.damage()[0];
    EXPECT_EQ(end - first, 32768u);
    EXPECT_EQ(first % 32768, 0u);
    std::string raw = readFile(tmp / "disk.raw");
    raw.replace(first, end - first, std::string(end - first, '\0'));
    EXPECT_TRUE(image == raw);
    EXPECT_EQ(reader.damageText(), "sectors " + std::to_string(first / 512) + " to " +
                                       std::to_string(end / 512 - 1) +
                                       " cannot be read (they fail their checksum)");
}

// Broke: libewf's index of the chunks grew by 4 MiB per GiB read, without bound. The handle is now
// opened again as reads move on; with regions of 64 KiB that happens at almost every read here,
// and every byte must still be the image's, whether read again from the chunks kept decoded or
// decoded anew once they have gone (the image is larger than the chunks kept, and some reads
// are longer than all of them).
TEST_F(EwfFixture, ReopeningToBoundTheIndexKeepsEveryByte) {
    std::string error;
    auto source = EwfEvidence::open(tmp / "disk.E01", error, 64 << 10);
    ASSERT_NE(source, nullptr) << error;
    const std::string raw = readFile(tmp / "disk.raw");
    std::string block;
    for (std::uint64_t offset = 0; offset < raw.size(); offset += 300000) {
        block.assign(offset % 600000 == 0 ? 100000 : 1500000, '\0');
        for (const std::uint64_t at : {offset, raw.size() - 1 - offset / 2, offset / 3}) {
            const std::size_t got = source->read(at, block.data(), block.size());
            ASSERT_EQ(got, std::min<std::uint64_t>(block.size(), raw.size() - at)) << source->changed();
            EXPECT_TRUE(block.compare(0, got, raw, at, got) == 0) << "at " << at;
        }
        // A few bytes across the edge between two chunks.
        const std::uint64_t edge = (offset / 32768 + 1) * 32768 - 2;
        ASSERT_EQ(source->read(edge, block.data(), 5), 5u);
        EXPECT_EQ(block.substr(0, 5), raw.substr(edge, 5)) << "at " << edge;
    }
    EXPECT_EQ(source->changed(), "");
}

} // namespace
