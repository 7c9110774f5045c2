#include "formats/ZipClassifier.h"
#include "TestSupport.h"
#include "formats/ZipExtent.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

using namespace morrow;
using morrow::test::bytes;
using morrow::test::fixture;
using morrow::test::le16;
using morrow::test::le32;

namespace {

struct RuleRow {
    const char* name;
    std::vector<std::string> members;
    std::string mimetype;
    const char* extension;
};

void PrintTo(const RuleRow& row, std::ostream* os) {
    *os << row.name;
}

class ZipClassifierRuleTest : public testing::TestWithParam<RuleRow> {};

TEST_P(ZipClassifierRuleTest, NamesTheArchiveByItsMembers) {
    ZipClassifier::Members members;
    for (const std::string& name : GetParam().members) {
        members.note(name);
    }
    members.mimetype = GetParam().mimetype;
    EXPECT_EQ(ZipClassifier::extension(members), GetParam().extension);
}

const std::string odf = "application/vnd.oasis.opendocument.";

INSTANTIATE_TEST_SUITE_P(
    Rules, ZipClassifierRuleTest,
    testing::Values(
        RuleRow{"Docx", {"_rels/.rels", "word/document.xml", "[Content_Types].xml"}, "", ".docx"},
        RuleRow{"Xlsx", {"[Content_Types].xml", "xl/workbook.xml"}, "", ".xlsx"},
        RuleRow{"Pptx", {"[Content_Types].xml", "ppt/presentation.xml"}, "", ".pptx"},
        RuleRow{"MainPartWithoutContentTypes", {"word/document.xml"}, "", ".zip"},
        RuleRow{"ContentTypesWithoutMainPart", {"[Content_Types].xml", "word/styles.xml"}, "", ".zip"},
        RuleRow{"NamesAreCaseSensitive", {"[content_types].xml", "Word/Document.xml"}, "", ".zip"},
        RuleRow{"Odt", {"mimetype", "content.xml"}, odf + "text", ".odt"},
        RuleRow{"Ods", {"mimetype"}, odf + "spreadsheet", ".ods"},
        RuleRow{"Odp", {"mimetype"}, odf + "presentation", ".odp"},
        RuleRow{"Odg", {"mimetype"}, odf + "graphics", ".odg"},
        RuleRow{"Epub", {"mimetype"}, "application/epub+zip", ".epub"},
        RuleRow{"MimetypeWithNewline", {"mimetype"}, "application/epub+zip\n", ".zip"},
        RuleRow{"OtherMimetype", {"mimetype"}, odf + "text-template", ".zip"},
        RuleRow{"SignedApk", {"AndroidManifest.xml", "classes.dex", "META-INF/MANIFEST.MF"}, "", ".apk"},
        RuleRow{"ApkWithoutCode", {"AndroidManifest.xml", "res/layout/main.xml"}, "", ".apk"},
        RuleRow{"Jar", {"META-INF/MANIFEST.MF", "morrow/Note.class"}, "", ".jar"},
        RuleRow{"Plain", {"alpha.txt", "META-INF/manifest.xml"}, "", ".zip"}),
    [](const auto& row) { return std::string(row.param.name); });

// A central directory header (46 bytes, then the name) for `name` whose local header is at
// `local`, claiming `nameLength` bytes of name.
std::string centralEntry(const std::string& name, std::uint32_t local, std::uint16_t nameLength) {
    return bytes({0x50, 0x4B, 0x01, 0x02}) + std::string(24, '\0') + le16(nameLength) +
           std::string(12, '\0') + le32(local) + name;
}

// Read from an image: the directory the walk met, or the local headers of an archive cut before
// it; the stored mimetype member is read where the directory says it is.
TEST(ZipClassifierTest, ReadsTheDirectoryOrTheLocalHeaders) {
    for (const auto& [file, extension] : {std::pair{"doc.docx", ".docx"}, std::pair{"doc.odt", ".odt"},
                                          std::pair{"book.epub", ".epub"}, std::pair{"app.jar", ".jar"}}) {
        const std::string zip = fixture(file);
        test::MemoryImage image(std::string(1024, 'x') + zip + std::string(700, '\0'));
        const ZipExtent::Result walk = ZipExtent::measure(image, 1024, true);
        ASSERT_NE(walk.directory, 0u) << file;
        EXPECT_EQ(ZipClassifier::classify(image, 1024, walk.extent.length, walk.directory), extension)
            << file;
        if (zip.compare(30, 8, "mimetype") == 0) {
            // Cut before its directory: the mimetype member is the first local header.
            const std::uint64_t cut = walk.directory - 1024;
            EXPECT_EQ(ZipClassifier::classify(image, 1024, cut, 0), extension) << file;
        }
    }
}

// Hostile directories: a name length of 65535, a mimetype member that lies outside the archive or
// is deflated, and the one telling name past the first maxEntries entries. Nothing is believed.
TEST(ZipClassifierTest, HostileDirectoriesNameNothing) {
    const std::string mimetype = "application/epub+zip";
    const std::string deflated = bytes({0x50, 0x4B, 0x03, 0x04}) + std::string(4, '\0') +
                                 le16(std::uint16_t{8}) + std::string(8, '\0') + le32(20u) + le32(20u) +
                                 le16(std::uint16_t{8}) + le16(std::uint16_t{0}) + "mimetype" + mimetype;
    const std::string directory = centralEntry("mimetype", 0, 8) + centralEntry("mimetype", 0xFFFFFFF0u, 8) +
                                  centralEntry("", 0, 65535);
    const std::string head = deflated + directory;
    test::MemoryImage hostile(head);
    EXPECT_EQ(ZipClassifier::classify(hostile, 0, head.size(), deflated.size()), ".zip");

    std::string many(30, 'x'); // where the local headers would be
    for (std::size_t i = 0; i < ZipClassifier::maxEntries; ++i) {
        many += centralEntry("a", 0, 1);
    }
    many += centralEntry("AndroidManifest.xml", 0, 19);
    test::MemoryImage capped(many);
    EXPECT_EQ(ZipClassifier::classify(capped, 0, many.size(), 30), ".zip");
    EXPECT_EQ(ZipClassifier::classify(capped, 0, many.size(), many.size() - 65), ".apk");
}

} // namespace
