// What the files that hold others point at by their own structure: a TIFF its strips, a PSD its
// image resources and layer section, a compound document the sectors its allocation table chains.
// A picture that starts in one of them is the container's; one anywhere else is carved on its own,
// so a part too wide hides files and one too narrow writes a container's thumbnails twice.
#include "formats/CompoundDocAnalysis.h"
#include "formats/ExactEnds.h"
#include "formats/PsdExtent.h"
#include "formats/TiffExtent.h"

#include "ExtentTests.h"

#include <gtest/gtest.h>

#include <vector>

using namespace morrow;
using morrow::test::fixture;
using morrow::test::garbage;

namespace {

struct PartsRow {
    const char* name;
    const char* fixture;
    PartsReader read;
    std::vector<Part> parts; // merged where they touch, in order
    bool readsItsHeader;     // and so points at nothing where no such file starts
};

void PrintTo(const PartsRow& row, std::ostream* os) {
    *os << row.name;
}

class ContainerPartsTest : public testing::TestWithParam<PartsRow> {};

TEST_P(ContainerPartsTest, PointsAtWhatItsStructureNames) {
    const PartsRow& row = GetParam();
    const std::string file = fixture(row.fixture);
    morrow::test::MemoryImage image(garbage(1024) + file + garbage(4096, 3));
    std::vector<Part> parts;
    row.read(image, 1024, file.size(), parts);
    std::sort(parts.begin(), parts.end(), [](const Part& a, const Part& b) { return a.offset < b.offset; });
    std::vector<Part> merged;
    for (const Part& p : parts) {
        ASSERT_LE(p.offset + p.length, file.size()) << "a part past the file";
        if (!merged.empty() && merged.back().offset + merged.back().length >= p.offset) {
            merged.back().length = std::max(merged.back().length, p.offset + p.length - merged.back().offset);
        } else {
            merged.push_back(p);
        }
    }
    EXPECT_EQ(merged, row.parts);

    // Read over other bytes (a start that is no file of the kind) it points at nothing.
    if (!row.readsItsHeader) {
        return; // only ever asked of a document the carver measured
    }
    morrow::test::MemoryImage other(garbage(1024) + garbage(file.size(), 8));
    std::vector<Part> none;
    row.read(other, 1024, file.size(), none);
    EXPECT_TRUE(none.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ContainerPartsTest,
    testing::Values(
        PartsRow{"TiffStrip", "image.tif", &TiffExtent::parts, {{8, 4608}}, true},
        PartsRow{"PsdResourcesAndLayers", "layers.psd", &PsdExtent::parts, {{34, 28}, {66, 632}}, true},
        // Sector 0 holds the allocation table, sector 1 is free, 2 to 16 are chained.
        PartsRow{"CompoundDocumentChains", "doc.doc", &CompoundDocAnalysis::parts, {{1536, 7680}}, false}),
    [](const testing::TestParamInfo<PartsRow>& row) { return std::string(row.param.name); });

} // namespace
