// morrow-cli --dfxml and --list on an image of real files: the DFXML is well-formed XML whose
// digests are those md5sum and sha256sum give for the files on disk and for the evidence, and a
// report-only run writes the rows a full run writes, and no carved file.
#include "TestSupport.h"
#include "evidence/EwfEvidence.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

using namespace morrow;

namespace {

// The first word a command prints (a digest tool's digest), or "" when it cannot run.
std::string firstWord(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            text += buffer;
        }
        ::pclose(pipe);
    }
    return text.substr(0, text.find_first_of(" \n"));
}

struct FileObject {
    std::string filename;
    std::string md5;
    std::string sha256;
};

std::vector<FileObject> fileObjects(const std::string& xml) {
    std::vector<FileObject> objects;
    static const std::regex object("<fileobject>([\\s\\S]*?)</fileobject>");
    static const std::regex name("<filename>([^<]*)</filename>");
    static const std::regex md5("<hashdigest type=\"md5\">([0-9a-f]+)</hashdigest>");
    static const std::regex sha("<hashdigest type=\"sha256\">([0-9a-f]+)</hashdigest>");
    for (std::sregex_iterator it(xml.begin(), xml.end(), object), end; it != end; ++it) {
        const std::string body = (*it)[1];
        std::smatch m;
        FileObject o;
        if (std::regex_search(body, m, name)) {
            o.filename = m[1];
        }
        if (std::regex_search(body, m, md5)) {
            o.md5 = m[1];
        }
        if (std::regex_search(body, m, sha)) {
            o.sha256 = m[1];
        }
        objects.push_back(o);
    }
    return objects;
}

struct ModeRow {
    const char* name;
    std::vector<std::string> options;
    bool dfxml;
    bool files; // carved files are written
};

class DfxmlCliTest : public ::testing::TestWithParam<ModeRow> {};

TEST_P(DfxmlCliTest, ReportsTellTheTruthAboutWhatWasWritten) {
    const ModeRow& row = GetParam();
    test::TempDir dir;
    const std::string evidence = dir / "disk.img";
    test::ImageBuilder(96 * 1024)
        .randomFill(5)
        .place(4096, test::fixture("photo-exif.jpg"))
        .place(16384, test::fixture("image.png"))
        .place(32768, test::fixture("two-stored.zip"))
        .place(49152, test::fixture("doc.doc"))
        .writeTo(evidence);
    // The rows of a plain full run, which every mode must repeat.
    ASSERT_EQ(test::runCliWith({"-y", "-q", "-o", dir / "plain", evidence}).status, 0);
    std::string plainRows = test::readFile(dir / "plain/disk/disk~Report.xls");
    plainRows = std::regex_replace(plainRows, std::regex(dir / "plain/"), dir / "out/");

    std::vector<std::string> args = row.options;
    for (const std::string& a : {std::string("-y"), std::string("-q"), std::string("-o"), dir / "out", evidence}) {
        args.push_back(a);
    }
    const test::ChildResult result = test::runCliWith(args);
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string folder = dir / "out/disk";
    EXPECT_EQ(test::readFile(folder + "/disk~Report.xls"), plainRows);
    const std::vector<std::string> listed = test::listFolder(folder);
    EXPECT_EQ(listed.size(), (row.files ? 4u : 0u) + 1u + (row.dfxml ? 1u : 0u)) << testing::PrintToString(listed);
    if (!row.files) {
        EXPECT_NE(result.out.find("Total No:Of files found (report only, none written): 4"), std::string::npos);
    }
    if (!row.dfxml) {
        return;
    }
    const std::string dfxmlPath = folder + "/disk~Report.dfxml";
    EXPECT_EQ(std::system(("xmllint --noout '" + dfxmlPath + "'").c_str()), 0);
    const std::string xml = test::readFile(dfxmlPath);
    EXPECT_NE(xml.find("<hashdigest type=\"md5\">" + firstWord("md5sum '" + evidence + "'") + "</hashdigest>"),
              std::string::npos);
    EXPECT_NE(xml.find("<hashdigest type=\"sha256\">" + firstWord("sha256sum '" + evidence + "'")),
              std::string::npos);
    const std::vector<FileObject> objects = fileObjects(xml);
    ASSERT_EQ(objects.size(), 4u);
    for (const FileObject& o : objects) {
        EXPECT_NE(plainRows.find(o.filename + "\t"), std::string::npos) << o.filename;
        if (row.files) {
            EXPECT_EQ(o.md5, firstWord("md5sum '" + o.filename + "'")) << o.filename;
            EXPECT_EQ(o.sha256, firstWord("sha256sum '" + o.filename + "'")) << o.filename;
        } else {
            EXPECT_TRUE(o.md5.empty() && o.sha256.empty()) << o.filename;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, DfxmlCliTest,
                         ::testing::Values(ModeRow{"Plain", {}, false, true},
                                           ModeRow{"Dfxml", {"--dfxml"}, true, true},
                                           ModeRow{"ListWithDfxml", {"--list", "--dfxml"}, true, false},
                                           ModeRow{"List", {"--list"}, false, false}),
                         [](const auto& row) { return std::string(row.param.name); });

// An E01 image's DFXML source names its segments and the MD5 stored at acquisition, and the run
// says that what it read matches it.
TEST(DfxmlEwfCliTest, SourceHoldsTheSegmentsAndTheStoredHash) {
    if (!test::haveProgram("ewfacquire") || !EwfEvidence::builtIn()) {
        GTEST_SKIP() << "needs ewfacquire (ewf-tools) and a build that reads E01 images";
    }
    test::TempDir dir;
    test::ImageBuilder(5 << 19).randomFill(4).place(8192, test::fixture("image.png")).writeTo(dir / "disk.raw");
    ASSERT_TRUE(test::acquireEwf(dir / "disk.raw", dir / "disk", 1 << 20, "none"));
    const test::ChildResult result = test::runCliWith({"--dfxml", "-y", "-q", "-o", dir / "out", dir / "disk.E01"});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string md5 = firstWord("md5sum '" + dir / "disk.raw" + "'");
    EXPECT_NE(result.err.find("Evidence MD5 matches the hash stored at acquisition: " + dir / "disk.E01"),
              std::string::npos)
        << result.err;
    const std::string xml = test::readFile(dir / "out/disk/disk~Report.dfxml");
    for (const char* segment : {"disk.E01", "disk.E02", "disk.E03"}) {
        EXPECT_NE(xml.find("<image_filename>" + dir / segment + "</image_filename>"), std::string::npos) << segment;
    }
    EXPECT_NE(xml.find("<hashdigest type=\"md5\">" + md5 + "</hashdigest>"), std::string::npos);
    EXPECT_NE(xml.find("<acquisition_hashdigest type=\"md5\">" + md5 + "</acquisition_hashdigest>"),
              std::string::npos);
}

} // namespace
