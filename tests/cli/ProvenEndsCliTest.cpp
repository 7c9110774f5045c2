// morrow-cli -x on images where a file breaks (cut short, its size fields claiming bytes that are
// another file's) and whole files follow it: every whole file comes out byte for byte as a file of
// its own, and the broken one is carved no further than its own bytes run. A size field or a
// container's extent alone proves nothing.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

using namespace morrow;

namespace {

// One file of a scenario: a fixture, whole or cut to its first `keep` bytes, at the next sector
// start after the one before it (no gap).
struct Placed {
    const char* fixture;
    std::size_t keep = 0; // 0: whole
};

struct Scenario {
    const char* name;
    std::vector<Placed> files;
};

class ProvenEndsCliTest : public ::testing::TestWithParam<Scenario> {};

// Report rows: offset -> size.
std::map<std::int64_t, std::uint64_t> reportRows(const std::string& report) {
    std::map<std::int64_t, std::uint64_t> rows;
    std::istringstream lines(report);
    std::string line;
    std::getline(lines, line); // the header
    while (std::getline(lines, line)) {
        std::vector<std::string> cells;
        std::istringstream cellsIn(line);
        for (std::string cell; std::getline(cellsIn, cell, '\t');) {
            cells.push_back(cell);
        }
        if (cells.size() >= 5) {
            rows[std::stoll(cells[1])] = std::stoull(cells[4]);
        }
    }
    return rows;
}

TEST_P(ProvenEndsCliTest, WholeFilesComeOutAndBrokenOnesStopAtTheirBreak) {
    const Scenario& scenario = GetParam();
    test::TempDir dir;
    std::string image(8192, '\0');
    struct Where {
        std::int64_t offset;
        std::string bytes;
        bool whole;
    };
    std::vector<Where> placed;
    for (const Placed& p : scenario.files) {
        std::string bytes = test::fixture(p.fixture);
        const bool whole = p.keep == 0;
        if (!whole) {
            bytes.resize(p.keep);
        }
        placed.push_back(Where{static_cast<std::int64_t>(image.size()), bytes, whole});
        image += bytes;
        image.resize((image.size() + 511) / 512 * 512, '\0');
    }
    image += test::randomBytes(16384, 5);
    test::writeFile(dir / "disk.img", image);

    const std::string out = dir / "out";
    const test::ChildResult result =
        test::runCliWith({"-x", "-y", "-q", "-t", "all", "-o", out, dir / "disk.img"});
    ASSERT_EQ(result.status, 0) << result.err;
    std::set<std::string> carved;
    for (const std::string& name : test::listFolder(out + "/disk")) {
        carved.insert(test::readFile(out + "/disk/" + name));
    }
    const auto rows = reportRows(test::readFile(out + "/disk/disk~Report.xls"));
    for (std::size_t i = 0; i < placed.size(); ++i) {
        const Where& w = placed[i];
        if (w.whole) {
            EXPECT_EQ(carved.count(w.bytes), 1U) << scenario.files[i].fixture << " at " << w.offset;
        } else if (const auto row = rows.find(w.offset); row != rows.end()) {
            EXPECT_LE(row->second, w.bytes.size()) << scenario.files[i].fixture << " carved past its break";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, ProvenEndsCliTest,
    ::testing::Values(
        // A bitmap's pixels carry no check: the whole files that start in what its size claims show
        // where it broke.
        Scenario{"BitmapCutBeforeOtherFiles",
                 {{"bitmap124.bmp", 1024}, {"image.png"}, {"image89a.gif"}, {"photo-jfif.jpg"}}},
        // A profile after version 3 pixels, counted by the size field only.
        Scenario{"BitmapWithProfileAfterItsPixels", {{"bitmap40-profile.bmp"}, {"image.png"}}},
        // A document's last sector overwritten by a picture that runs on past it: the picture is
        // no stream of the document's, which breaks where the picture starts.
        Scenario{"DocumentTailOverwritten", {{"sheet.xls", 5120}, {"photo-jfif.jpg"}, {"page.html"}}}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace

namespace {

// A run of several kinds measures the files that hold others once, before its passes, and carves
// them from that record: each comes out under the name, number and bytes a run of its kind alone
// gives it, the PDF's two passes (linearized, then the others) in their order.
TEST(ProvenEndsCliTest, ContainersCarvedFromTheirRecordAsTheirOwnRunCarvesThem) {
    test::TempDir dir;
    std::string image(8192, '\0');
    for (const char* name :
         {"plain.pdf", "clip.avi", "linearized.pdf", "clip-faststart.mp4", "with-comment.zip", "image.tif",
          "layers.psd", "doc.doc", "update.pdf", "clip-packets.wmv", "doc.docx"}) {
        image += test::fixture(name);
        image.resize((image.size() + 511) / 512 * 512 + 1024, '\0');
    }
    test::writeFile(dir / "disk.img", image);
    auto carve = [&](const std::string& out, const char* kinds) {
        const test::ChildResult result =
            test::runCliWith({"-x", "-y", "-q", "-t", kinds, "-o", out, dir / "disk.img"});
        EXPECT_EQ(result.status, 0) << result.err;
    };
    carve(dir / "all", "all");
    for (const char* kind : {"pdf", "video", "zip", "tiff", "psd", "cdoc"}) {
        const std::string alone = dir / (std::string("alone-") + kind);
        carve(alone, kind);
        const std::vector<std::string> names = test::listFolder(alone + "/disk");
        ASSERT_GT(names.size(), 1U) << kind;
        for (const std::string& name : names) {
            if (name == "disk~Report.xls") {
                continue;
            }
            EXPECT_EQ(test::readFile(dir / "all/disk/" + name), test::readFile(alone + "/disk/" + name))
                << kind << ": " << name;
        }
    }
}

} // namespace
