#include "formats/CompoundDocClassifier.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace morrow;

namespace {

constexpr std::int64_t H = 4096; // the document's header, after eight sectors of filler

// A directory entry's first bytes: its name in UTF-16LE, then zeros.
std::string entryName(const std::string& name) {
    std::string entry(128, '\0');
    for (std::size_t i = 0; i < name.size(); ++i) {
        entry[2 * i] = name[i];
    }
    return entry;
}

std::int64_t sectorOffset(std::int64_t sector) {
    return H + (sector + 1) * 512;
}

// Evidence of filler holding the given directory entries; classifies the document at H with
// `table` as its whole allocation table.
class Classification {
  public:
    Classification() : image_(64 * 1024) { image_.randomFill(6); }

    Classification& name(std::int64_t sector, int slot, const std::string& text) {
        image_.place(static_cast<std::uint64_t>(sectorOffset(sector) + slot * 128), entryName(text));
        return *this;
    }
    Classification& firstDirectory(std::uint32_t sector) {
        image_.place(H + 48, test::le32(sector));
        return *this;
    }
    Classification& at(std::uint64_t offset, const std::string& piece) {
        image_.place(offset, piece);
        return *this;
    }

    std::string classify(std::vector<std::int64_t> table, std::int64_t firstIndex = 0,
                         std::int64_t tableSize = -1) {
        test::MemoryImage evidence(image_.data());
        searched_.clear();
        return CompoundDocClassifier::classify(evidence, H, table, firstIndex, tableSize, &searched_);
    }
    const std::vector<std::uint64_t>& searched() const { return searched_; }

  private:
    test::ImageBuilder image_;
    std::vector<std::uint64_t> searched_;
};

struct NameRow {
    const char* label;
    friend void PrintTo(const NameRow& r, std::ostream* os) { *os << r.label; }
    std::vector<const char*> names; // the entries of the first directory sector, in order
    const char* extension;
};

class ClassifierNameTest : public ::testing::TestWithParam<NameRow> {};

TEST_P(ClassifierNameTest, FirstMatchingEntryDecides) {
    Classification c;
    c.firstDirectory(3);
    int slot = 0;
    for (const char* n : GetParam().names) {
        c.name(3, slot++, n);
    }
    EXPECT_EQ(c.classify({-3, -2, -2, -2, -1}), GetParam().extension);
}

INSTANTIATE_TEST_SUITE_P(
    CompoundDocClassifierTest, ClassifierNameTest,
    ::testing::Values(
        NameRow{"WordDocumentInSecondEntry", {"Root Entry", "WordDocument", "1Table"}, ".doc"},
        NameRow{"Workbook", {"Root Entry", "Workbook"}, ".xls"},
        NameRow{"OlderBook", {"Root Entry", "Book"}, ".xls"},
        NameRow{"PowerPointDocument", {"Root Entry", "Current User", "PowerPoint Document"}, ".ppt"},
        NameRow{"PP40", {"Root Entry", "PP40"}, ".ppt"},
        NameRow{"ThumbnailCatalog", {"Root Entry", "Catalog"}, ".db"},
        NameRow{"NoKnownName", {"Root Entry", "SummaryInformation", "!_StringData"}, ".ukn"},
        NameRow{"WorkbookBeforeWordDocument", {"Root Entry", "Workbook", "WordDocument"}, ".xls"},
        NameRow{"WordDocumentsStillDoc", {"WordDocuments"}, ".doc"},
        NameRow{"BookmarksStillXls", {"Bookmarks"}, ".xls"}, NameRow{"PP97IsNotPP4", {"PP97"}, ".ukn"},
        NameRow{"PP4XIsPP4", {"PP4X"}, ".ppt"}, NameRow{"EmptyDirectory", {}, ".ukn"}),
    [](const ::testing::TestParamInfo<NameRow>& row) { return std::string(row.param.label); });

TEST(CompoundDocClassifierTest, ScatteredDirectoryWalksSuccessorsOfFollowingSectors) {
    // Directory chain 2 -> 5 -> end, with sector 3's chain (3 -> 4) in between: the list is 2, then
    // the entries at 2, 3, 4 ... = 5, 4, then entry 4 is end of chain.
    Classification c;
    c.firstDirectory(2).name(2, 0, "Root Entry").name(5, 1, "Catalog");
    EXPECT_EQ(c.classify({-3, -2, 5, 4, -2, -2, -1, -1}), ".db");
    EXPECT_EQ(c.searched(), (std::vector<std::uint64_t>{2, 5}));
}

TEST(CompoundDocClassifierTest, OneSectorDirectoryEndingTheChainSearchesOnlyThatSector) {
    Classification c;
    c.firstDirectory(1).name(1, 0, "Root Entry").name(2, 0, "WordDocument");
    EXPECT_EQ(c.classify({-3, -2, -2, -1}), ".ukn");
    EXPECT_EQ(c.searched(), (std::vector<std::uint64_t>{1}));
}

TEST(CompoundDocClassifierTest, WalkStopsBeforeTheLastEntryOfTheTable) {
    // Entry 2 points to sector 3, but index 2 is the table's last: only sector 1, then 2 (from
    // entry 1) are searched.
    Classification c;
    c.firstDirectory(1).name(3, 0, "Workbook");
    EXPECT_EQ(c.classify({-3, 2, 3}), ".ukn");
    EXPECT_EQ(c.searched(), (std::vector<std::uint64_t>{1, 2}));
}

// Regression: the special values -4 and -3 name positions before the document's header; a name
// that happens to lie there (another file's directory) must not classify this document.
TEST(CompoundDocClassifierTest, SpecialValuesBeforeTheHeaderMatchNothing) {
    Classification c;
    c.firstDirectory(0).at(H - 1536, entryName("WordDocument")).at(H - 1024, entryName("Workbook"));
    EXPECT_EQ(c.classify({-4, -3, -1, -2}), ".ukn");
}

TEST(CompoundDocClassifierTest, DirectoryOutsideTheEvidenceIsUnknown) {
    Classification c;
    c.firstDirectory(0xFFFFFFF0);
    EXPECT_EQ(c.classify({-3, -2}), ".ukn");
}

TEST(CompoundDocClassifierTest, WindowOfTheTableGivesTheWholeTablesAnswer) {
    // Only the entries from the first directory sector on are handed over.
    Classification c;
    c.firstDirectory(4).name(4, 0, "Root Entry").name(6, 3, "PowerPoint Document");
    EXPECT_EQ(c.classify({6, -2}, 4, 9), ".ppt");
    EXPECT_EQ(c.searched(), (std::vector<std::uint64_t>{4, 6}));
}

} // namespace
