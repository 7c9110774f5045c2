// morrow-cli --dfxml and --list on an image of real files: the DFXML is well-formed XML whose
// digests are those md5sum and sha256sum give for the files on disk and for the evidence, and a
// report-only run writes the rows a full run writes, and no carved file.
#include "TestSupport.h"
#include "evidence/EwfEvidence.h"
#include "output/Digest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sys/stat.h>

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
    for (const std::string& a :
         {std::string("-y"), std::string("-q"), std::string("-o"), dir / "out", evidence}) {
        args.push_back(a);
    }
    const test::ChildResult result = test::runCliWith(args);
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string folder = dir / "out/disk";
    EXPECT_EQ(test::readFile(folder + "/disk~Report.xls"), plainRows);
    const std::vector<std::string> listed = test::listFolder(folder);
    EXPECT_EQ(listed.size(), (row.files ? 4u : 0u) + 1u + (row.dfxml ? 1u : 0u))
        << testing::PrintToString(listed);
    if (!row.files) {
        EXPECT_NE(result.out.find("Total No:Of files found (report only, none written): 4"),
                  std::string::npos);
    }
    if (!row.dfxml) {
        return;
    }
    const std::string dfxmlPath = folder + "/disk~Report.dfxml";
    EXPECT_EQ(std::system(("xmllint --noout '" + dfxmlPath + "'").c_str()), 0);
    const std::string xml = test::readFile(dfxmlPath);
    EXPECT_NE(
        xml.find("<hashdigest type=\"md5\">" + firstWord("md5sum '" + evidence + "'") + "</hashdigest>"),
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
    test::ImageBuilder(5 << 19)
        .randomFill(4)
        .place(8192, test::fixture("image.png"))
        .writeTo(dir / "disk.raw");
    ASSERT_TRUE(test::acquireEwf(dir / "disk.raw", dir / "disk", 1 << 20, "none"));
    const test::ChildResult result =
        test::runCliWith({"--dfxml", "-y", "-q", "-o", dir / "out", dir / "disk.E01"});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string md5 = firstWord("md5sum '" + dir / "disk.raw" + "'");
    EXPECT_NE(result.err.find("Evidence MD5 matches the hash stored at acquisition: " + dir / "disk.E01"),
              std::string::npos)
        << result.err;
    const std::string xml = test::readFile(dir / "out/disk/disk~Report.dfxml");
    for (const char* segment : {"disk.E01", "disk.E02", "disk.E03"}) {
        EXPECT_NE(xml.find("<image_filename>" + dir / segment + "</image_filename>"), std::string::npos)
            << segment;
    }
    EXPECT_NE(xml.find("<hashdigest type=\"md5\">" + md5 + "</hashdigest>"), std::string::npos);
    EXPECT_NE(xml.find("<acquisition_hashdigest type=\"md5\">" + md5 + "</acquisition_hashdigest>"),
              std::string::npos);
}

// Evidence names of every awkward kind, made on a real file system: each DFXML report is read by
// an XML parser, and every name in it, its backslash escapes undone, gives back the exact bytes of
// the file it names. Names without bytes that XML cannot carry stay plain.
struct NameRow {
    std::string stem;
    bool escaped;
};

const char* const nameCheck = R"(import os, sys, xml.etree.ElementTree as ET
ns = '{http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML}'
def name(element):
    raw = element.text.encode('utf-8')
    if element.get('encoding') != 'backslash-escaped':
        return raw
    out, i = bytearray(), 0
    while i < len(raw):
        if raw[i:i + 2] == b'\\\\':
            out.append(92)
            i += 2
        elif raw[i:i + 2] == b'\\x':
            out.append(int(raw[i + 2:i + 4], 16))
            i += 4
        else:
            out.append(raw[i])
            i += 1
    return bytes(out)
for path in open(sys.argv[1], 'rb').read().split(b'\0'):
    root = ET.parse(open(path, 'rb')).getroot()
    image = root.find(ns + 'source/' + ns + 'image_filename')
    files = [name(f) for f in root.iter(ns + 'filename')]
    print(image.get('encoding', '-'), name(image).hex(), sum(os.path.exists(f) for f in files), len(files))
)";

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text += {digits[c >> 4], digits[c & 15]};
    }
    return text;
}

TEST(DfxmlNamesCliTest, EveryNameIsWellFormedXmlAndNamesItsFileExactly) {
    if (!Digest::available() || !test::haveProgram("python3")) {
        GTEST_SKIP() << "needs a build that writes DFXML, and python3";
    }
    const std::vector<NameRow> rows = {
        {"back\\slash", false},   {"mark&<>\"'up", false},       {"cr\rname", false},
        {"tab\tlf\nname", false}, {"euro\xE2\x82\xAC", false},   {"ctl\x01", true},
        {"nc\xEF\xBF\xBE", true}, {"nc\xEF\xBF\xBF", true},      {"surrogate\xED\xA0\x80", true},
        {"ovl\xC0\xAF", true},    {"big\xF4\x90\x80\x80", true}, {"ff\xFF\xFE", true},
        {"back\\\xFF", true},
    };
    test::TempDir dir;
    std::vector<std::string> args{"--dfxml", "-y", "-q", "-t", "jpeg", "-o", dir / "out"};
    std::string reports;
    for (const NameRow& row : rows) {
        args.push_back(dir / (row.stem + ".P01"));
        test::ImageBuilder(4096)
            .randomFill(4)
            .place(1024, test::fixture("photo-jfif.jpg"))
            .writeTo(args.back());
        reports += (reports.empty() ? "" : std::string(1, '\0')) +
                   dir / ("out/" + row.stem + "/" + row.stem) + "~Report.dfxml";
    }
    const test::ChildResult result = test::runCliWith(args);
    ASSERT_EQ(result.status, 0) << result.err;
    test::writeFile(dir / "check.py", nameCheck);
    test::writeFile(dir / "reports", reports);
    std::string lines;
    if (FILE* pipe =
            ::popen(("python3 '" + dir / "check.py" + "' '" + dir / "reports" + "' 2>&1").c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            lines += buffer;
        }
        ::pclose(pipe);
    }
    std::string expected;
    for (const NameRow& row : rows) {
        expected += std::string(row.escaped ? "backslash-escaped " : "- ") + hex(dir / (row.stem + ".P01")) +
                    " 1 1\n";
    }
    EXPECT_EQ(lines, expected);
}

// The DFXML asked for and not written is a partial run (exit 1) that says why; a temporary
// folder that cannot hold the report's scratch file is named, and refuses the run before
// anything is made. The file size limit plays the full volume.
struct UnwrittenRow {
    const char* name;
    std::vector<std::string> options;
    const char* tmpdir;      // under the test's folder; made unless "missing"
    std::uint64_t sizeLimit; // RLIMIT_FSIZE, 0 for none
    int status;
    const char* message; // on standard error; @ stands for the test's folder
};

class DfxmlUnwrittenTest : public ::testing::TestWithParam<UnwrittenRow> {};

TEST_P(DfxmlUnwrittenTest, ADfxmlNotWrittenIsNoCompleteRun) {
    const UnwrittenRow& row = GetParam();
    if (!Digest::available()) {
        GTEST_SKIP() << "needs a build that writes DFXML";
    }
    test::TempDir dir;
    test::ImageBuilder image(32 * 1024);
    image.randomFill(6);
    for (int i = 0; i < 12; ++i) {
        image.place(1024 + i * 2048, test::fixture("photo-jfif.jpg"));
    }
    image.writeTo(dir / "disk.img");
    if (std::string(row.tmpdir) != "missing") {
        ASSERT_EQ(::mkdir((dir / row.tmpdir).c_str(), 0755), 0);
    }
    test::ChildOptions options;
    options.fileSizeLimit = row.sizeLimit;
    options.environment = {{"TMPDIR", dir / row.tmpdir}};
    std::vector<std::string> args = row.options;
    for (const std::string& a :
         {std::string("--dfxml"), std::string("-y"), std::string("-q"), std::string("-t"),
          std::string("jpeg"), std::string("-o"), dir / "out", dir / "disk.img"}) {
        args.push_back(a);
    }
    const test::ChildResult result = test::runCliWith(args, options);
    EXPECT_EQ(result.status, row.status) << result.err;
    std::string message = row.message;
    for (auto at = message.find('@'); at != std::string::npos; at = message.find('@', at)) {
        message.replace(at, 1, dir.path());
    }
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    EXPECT_FALSE(test::fileExists(dir / "out/disk/disk~Report.dfxml"));
    if (row.status == 2) {
        EXPECT_FALSE(test::fileExists(dir / "out"));
    } else {
        EXPECT_EQ(result.out.rfind("Carving Completed Partially.\n", 0), 0u) << result.out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DfxmlUnwrittenTest,
    ::testing::Values(
        UnwrittenRow{"TemporaryFolderMissing",
                     {},
                     "missing",
                     0,
                     2,
                     "morrow-cli: DFXML scratch file creation failed: @/missing ($TMPDIR): No such file or "
                     "directory\n"},
        // Report-only: the scratch file outgrows the limit long before the report does.
        UnwrittenRow{
            "TemporaryFolderFull",
            {"--list"},
            "scratch",
            2000,
            1,
            "morrow-cli: DFXML report write failed: @/out/disk/disk~Report.dfxml: its scratch file in "
            "@/scratch ($TMPDIR) failed: File too large\n"},
        // The carved files and the report fit, the whole document does not.
        UnwrittenRow{
            "OutputFull",
            {},
            "scratch",
            6000,
            1,
            "morrow-cli: DFXML report write failed: @/out/disk/disk~Report.dfxml: File too large\n"}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
