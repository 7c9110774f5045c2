// morrow-cli --fragments on evidence images in which a real file lies in two or three pieces at
// sector starts, as a file system splits it, with other data between them: the file comes out
// byte for byte in one carved file; a join its format does not prove is never made.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <tuple>
#include <zlib.h>

using namespace morrow;

namespace {

constexpr std::uint64_t sector = 512;

enum class Gap { Random, Zeros, OtherFile };

struct FragmentRow {
    const char* name;
    const char* fixture;
    const char* kinds;               // morrow-cli's -t
    const char* carved;              // its name in the output folder
    std::vector<std::uint64_t> cuts; // where the file is split, sector multiples
    std::vector<std::uint64_t> gaps; // the bytes between its pieces
    Gap fill = Gap::Random;
    const char* other = nullptr; // what a gap of another file starts with
};

// The image: 8 KiB of random bytes, then the file's pieces with their gaps, then random bytes.
std::string fragmentedImage(const std::string& file, const FragmentRow& row) {
    std::string image = test::randomBytes(8192, 5);
    std::uint64_t from = 0;
    for (std::size_t i = 0; i < row.cuts.size(); ++i) {
        image += file.substr(from, row.cuts[i] - from);
        std::string gap = row.fill == Gap::Zeros
                              ? std::string(row.gaps[i], '\0')
                              : test::randomBytes(row.gaps[i], static_cast<std::uint32_t>(7 + i));
        if (row.fill == Gap::OtherFile) {
            const std::string other = test::fixture(row.other);
            gap.replace(0, std::min(other.size(), gap.size()), other.substr(0, gap.size()));
        }
        image += gap;
        from = row.cuts[i];
    }
    image += file.substr(from);
    image += test::randomBytes((sector - image.size() % sector) % sector + 4096, 9);
    return image;
}

class FragmentsCliTest : public ::testing::TestWithParam<FragmentRow> {};

TEST_P(FragmentsCliTest, CarvesThePiecesAsOneFile) {
    const FragmentRow& row = GetParam();
    test::TempDir dir;
    const std::string file = test::fixture(row.fixture);
    test::writeFile(dir / "disk.img", fragmentedImage(file, row));

    const test::ChildResult result =
        test::runCliWith({"--fragments", "-y", "-t", row.kinds, "-o", dir / "out", dir / "disk.img"});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string carved = dir / "out/disk/" + row.carved;
    ASSERT_TRUE(test::fileExists(carved)) << result.out;
    EXPECT_TRUE(test::readFile(carved) == file) << row.fixture << " not reassembled byte for byte";
    EXPECT_NE(result.out.find("1 reassembled from fragments"), std::string::npos) << result.out;
    // The report row gives the first piece's offset and the whole size.
    EXPECT_NE(test::readFile(dir / "out/disk/disk~Report.xls")
                  .find(carved + "\t8192\t15\t" + std::to_string((file.size() + 511) / 512) + "\t" +
                        std::to_string(file.size())),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FragmentsCliTest,
    ::testing::Values(
        FragmentRow{"PngTwoPieces", "image-large.png", "png", "disk~PNGFile0.png", {65536}, {37 * sector}},
        FragmentRow{"PngThreePieces",
                    "image-large.png",
                    "png",
                    "disk~PNGFile0.png",
                    {65536, 300 * sector},
                    {37 * sector, 24 * sector}},
        FragmentRow{
            "PngSplitInItsFirstImageData", "image-large.png", "png", "disk~PNGFile0.png", {16384}, {4096}},
        FragmentRow{"PngGapOf16MiBZeros",
                    "image-large.png",
                    "png",
                    "disk~PNGFile0.png",
                    {98304},
                    {std::uint64_t{16} << 20},
                    Gap::Zeros},
        FragmentRow{"PngGapHoldsAPhoto",
                    "image-large.png",
                    "png,jpeg",
                    "disk~PNGFile0.png",
                    {34304},
                    {200 * sector},
                    Gap::OtherFile,
                    "photo-large.jpg"},
        FragmentRow{"JpegTwoPieces", "photo-large.jpg", "jpeg", "disk~JPEGFile0.jpg", {65536}, {37 * sector}},
        FragmentRow{"JpegThreePieces",
                    "photo-large.jpg",
                    "jpeg",
                    "disk~JPEGFile0.jpg",
                    {65536, 400 * sector},
                    {37 * sector, 24 * sector}},
        FragmentRow{"JpegGapOfZeros",
                    "photo-large.jpg",
                    "jpeg",
                    "disk~JPEGFile0.jpg",
                    {131072},
                    {std::uint64_t{1} << 20},
                    Gap::Zeros},
        FragmentRow{"JpegGapHoldsAPicture",
                    "photo-large.jpg",
                    "jpeg,png",
                    "disk~JPEGFile0.jpg",
                    {300 * sector},
                    {200 * sector},
                    Gap::OtherFile,
                    "image-large.png"},
        // The tests before any trial: a photo without restart markers whose gap holds a picture
        // of long runs of zeros (its tables decode them for kilobytes), and a cut between an FF
        // and the restart marker it begins, which the next piece's own bytes do not show.
        FragmentRow{"JpegWithoutRestartsGapHoldsAPicture",
                    "photo-exif.jpg",
                    "jpeg",
                    "disk~JPEGFile0.jpg",
                    {2048},
                    {200 * sector},
                    Gap::OtherFile,
                    "image-large.png"},
        FragmentRow{"JpegCutInsideARestartMarker",
                    "photo-large.jpg",
                    "jpeg",
                    "disk~JPEGFile0.jpg",
                    {483 * sector},
                    {37 * sector}},
        // Broken before the first scan: in the EXIF block (the next marker stands where its
        // length says, in the next piece), and in the scan's header, the gap zeros.
        FragmentRow{
            "JpegSplitInItsExifBlock", "photo-exif.jpg", "jpeg", "disk~JPEGFile0.jpg", {512}, {41 * sector}},
        FragmentRow{"JpegSplitInItsScanHeader",
                    "photo-exif.jpg",
                    "jpeg",
                    "disk~JPEGFile0.jpg",
                    {1024},
                    {41 * sector},
                    Gap::Zeros},
        // A progressive picture: every scan decoded across the join, a split in the segments
        // between two scans, in a scan's data, and a gap holding another progressive picture.
        FragmentRow{"JpegProgressiveSplitBetweenScans",
                    "photo-progressive.jpg",
                    "jpeg",
                    "disk~JPEGFile0.jpg",
                    {512},
                    {41 * sector}},
        FragmentRow{"JpegProgressiveGapOfZeros",
                    "photo-progressive.jpg",
                    "jpeg",
                    "disk~JPEGFile0.jpg",
                    {1024},
                    {std::uint64_t{1} << 20},
                    Gap::Zeros},
        FragmentRow{"JpegProgressiveGapHoldsAnother",
                    "photo-progressive.jpg",
                    "jpeg",
                    "disk~JPEGFile0.jpg",
                    {1024},
                    {6 * sector},
                    Gap::OtherFile,
                    "photo-progressive-q60.jpg"},
        FragmentRow{"GifTwoPieces", "image-00-3b.gif", "gif", "disk~GIFFile0.gif", {1024}, {3 * sector}},
        FragmentRow{
            "GifSplitInItsColourTable", "image-00-3b.gif", "gif", "disk~GIFFile0.gif", {512}, {23 * sector}},
        FragmentRow{"GifGapHoldsAPhoto",
                    "image-00-3b.gif",
                    "gif",
                    "disk~GIFFile0.gif",
                    {1536},
                    {100 * sector},
                    Gap::OtherFile,
                    "image-large.png"},
        FragmentRow{
            "ZipStoredMemberSplit", "stored-png.zip", "zip", "disk~ZIPFile0.zip", {1024}, {5 * sector}},
        FragmentRow{"ZipGapHoldsAnotherArchive",
                    "stored-png.zip",
                    "zip,png",
                    "disk~ZIPFile0.zip",
                    {1536},
                    {3 * sector},
                    Gap::OtherFile,
                    "two-stored.zip"},
        // The middle piece starts with the stored picture's header, which the PNG pass finds.
        FragmentRow{"ZipThreePiecesMiddleStartsThePicture",
                    "stored-png.zip",
                    "zip,png",
                    "disk~ZIPFile0.zip",
                    {512, 1536},
                    {65 * sector, 111 * sector}},
        FragmentRow{"ZipSplitBetweenMembers", "aligned.zip", "zip", "disk~ZIPFile0.zip", {512}, {9 * sector}},
        FragmentRow{
            "PdfSplitInADeflatedStream", "plain.pdf", "pdf", "disk~PDFFile0.pdf", {4096}, {37 * sector}},
        FragmentRow{"PdfThreePieces",
                    "plain.pdf",
                    "pdf",
                    "disk~PDFFile0.pdf",
                    {4096, 10752},
                    {37 * sector, 24 * sector}},
        FragmentRow{"PdfSplitBetweenObjects",
                    "update.pdf",
                    "pdf",
                    "disk~PDFFile0.pdf",
                    {12288},
                    {std::uint64_t{16} << 20},
                    Gap::Zeros},
        FragmentRow{"PdfTablesInBothPieces",
                    "linearized.pdf",
                    "pdf",
                    "disk~PDFFile0.pdf",
                    {6144},
                    {60 * sector},
                    Gap::OtherFile,
                    "plain.pdf"},
        // Cut in its last objects, after the first page's own "%%EOF".
        FragmentRow{"PdfLinearizedCutNearItsEnd",
                    "linearized.pdf",
                    "pdf",
                    "disk~PDFFile0.pdf",
                    {12800},
                    {40 * sector}},
        FragmentRow{
            "MovieBoxPastTheBreak", "clip.3gp", "mov", "disk~VideoFiles0.3gp", {2048}, {200 * sector}},
        FragmentRow{"MovieBoxBrokenInside", "clip.mp4", "mov", "disk~VideoFiles0.mp4", {512}, {9 * sector}},
        FragmentRow{
            "AviIndexPastTheBreak", "clip.avi", "avi", "disk~VideoFiles0.avi", {7680}, {100 * sector}},
        // Split in the header's lists, and in a frame with two sector starts between its chunk's
        // header and the next: the frame's JPEG structure tells which.
        FragmentRow{"AviSplitInItsHeader", "clip.avi", "avi", "disk~VideoFiles0.avi", {1024}, {100 * sector}},
        FragmentRow{"AviSplitInAFrame",
                    "clip-mjpeg-aligned.avi",
                    "avi",
                    "disk~VideoFiles0.avi",
                    {8192},
                    {120 * sector}},
        // The next piece begins with a frame, which the picture pass must leave to the movie.
        FragmentRow{"AviPieceBeginsWithAFrame",
                    "clip-mjpeg-aligned.avi",
                    "jpeg,avi",
                    "disk~VideoFiles0.avi",
                    {5632},
                    {2 * sector}},
        FragmentRow{"AviThreePieces",
                    "clip-mjpeg-aligned.avi",
                    "avi",
                    "disk~VideoFiles0.avi",
                    {6144, 9216},
                    {158 * sector, 196 * sector}},
        // A movie written for streaming (its box before its media data), broken in each.
        FragmentRow{"StreamingMovieBoxBroken",
                    "clip-faststart.mp4",
                    "mov",
                    "disk~VideoFiles0.mp4",
                    {512},
                    {63 * sector}},
        FragmentRow{"StreamingMovieMediaBroken",
                    "clip-faststart.mp4",
                    "mov",
                    "disk~VideoFiles0.mp4",
                    {1024},
                    {49 * sector}},
        FragmentRow{"AviGapOfZeros",
                    "clip.avi",
                    "avi",
                    "disk~VideoFiles0.avi",
                    {9216},
                    {std::uint64_t{16} << 20},
                    Gap::Zeros},
        FragmentRow{"MovieBoxPastAnotherMovie",
                    "clip.3gp",
                    "mov",
                    "disk~VideoFiles0.3gp",
                    {2048},
                    {8 * sector},
                    Gap::OtherFile,
                    "clip.mp4"},
        // Compound documents: split in a workbook's records, after a presentation's records, before
        // a document's directory.
        FragmentRow{
            "WorkbookSplitInItsRecords", "sheet.xls", "cdoc", "disk~CDocFile0.xls", {2048}, {37 * sector}},
        FragmentRow{"WorkbookGapOf16MiBZeros",
                    "sheet.xls",
                    "cdoc",
                    "disk~CDocFile0.xls",
                    {4096},
                    {std::uint64_t{16} << 20},
                    Gap::Zeros},
        FragmentRow{"PresentationGapHoldsAMovie",
                    "slides.ppt",
                    "cdoc",
                    "disk~CDocFile0.ppt",
                    {4096},
                    {20 * sector},
                    Gap::OtherFile,
                    "clip.wmv"},
        FragmentRow{
            "DocumentSplitBeforeItsDirectory", "doc.doc", "cdoc", "disk~CDocFile0.doc", {8192}, {9 * sector}},
        // WMV: split in its data object's header, in a packet's payloads, in its padding.
        FragmentRow{
            "WmvSplitInItsDataHeader", "clip.wmv", "wmv", "disk~VideoFiles0.wmv", {512}, {100 * sector}},
        FragmentRow{"WmvThreePieces",
                    "clip.wmv",
                    "wmv",
                    "disk~VideoFiles0.wmv",
                    {512, 3584},
                    {229 * sector, 44 * sector}},
        FragmentRow{"WmvGapOfZeros",
                    "clip.wmv",
                    "wmv",
                    "disk~VideoFiles0.wmv",
                    {1024},
                    {std::uint64_t{1} << 20},
                    Gap::Zeros},
        FragmentRow{"WmvGapHoldsADocument",
                    "clip.wmv",
                    "wmv",
                    "disk~VideoFiles0.wmv",
                    {2560},
                    {30 * sector},
                    Gap::OtherFile,
                    "doc.doc"}),
    [](const auto& row) { return std::string(row.param.name); });

// A look-alike of the continuation in the gap, nearer than the real tail: it is passed over; and
// without the real tail no join is made at all, the file's sound first piece carved as the exact
// mode carves it (or, a GIF without a whole image, not at all). The look-alike is the real tail
// with one byte changed where a checksum covers it, and with a sector missing for JPEG, whose
// entropy-coded data a changed byte may leave decodable.
TEST(FragmentsCliTest, LookAlikeTailsAreRefused) {
    struct Case {
        const char* fixture;
        const char* kind;
        const char* carved;
        std::uint64_t cut;
        std::uint64_t flip; // the byte of the tail changed in the look-alike, from the cut
        bool dropSector;    // the look-alike lacks the sector there instead
    };
    for (const Case& c : {Case{"image-large.png", "png", "disk~PNGFile0.png", 65536, 700, false},
                          Case{"stored-png.zip", "zip", "disk~ZIPFile0.zip", 1024, 300, false},
                          Case{"photo-large.jpg", "jpeg", "disk~JPEGFile0.jpg", 65536, 8192, true},
                          Case{"photo-progressive.jpg", "jpeg", "disk~JPEGFile0.jpg", 512, 100, true},
                          Case{"image-00-3b.gif", "gif", "disk~GIFFile0.gif", 1024, 300, false},
                          Case{"image-00-3b.gif", "gif", "disk~GIFFile0.gif", 512, 812, false},
                          Case{"plain.pdf", "pdf", "disk~PDFFile0.pdf", 4096, 2000, false},
                          // The look-alike movie box's one chunk offset changed.
                          Case{"clip.3gp", "mov", "disk~VideoFiles0.3gp", 2048, 700, false},
                          Case{"clip.mp4", "mov", "disk~VideoFiles0.mp4", 512, 650, false},
                          // The look-alike index's first offset changed.
                          Case{"clip.avi", "avi", "disk~VideoFiles0.avi", 7680, 2012, false},
                          // The look-alike directory's root entry of another type; packet padding
                          // that is not zeros.
                          Case{"sheet.xls", "cdoc", "disk~CDocFile0.xls", 2048, 2626, false},
                          Case{"clip.wmv", "wmv", "disk~VideoFiles0.wmv", 2048, 952, false}}) {
        const std::string file = test::fixture(c.fixture);
        std::string lookAlike = file.substr(c.cut);
        if (c.dropSector) {
            lookAlike.erase(c.flip, sector);
        } else {
            lookAlike[c.flip] = static_cast<char>(lookAlike[c.flip] ^ 0x20);
        }
        const std::string pad = test::randomBytes((sector - lookAlike.size() % sector) % sector + sector, 3);
        for (const bool realTail : {true, false}) {
            test::TempDir dir;
            std::string image = test::randomBytes(8192, 1) + file.substr(0, c.cut) +
                                test::randomBytes(4 * sector, 2) + lookAlike + pad;
            if (realTail) {
                image += file.substr(c.cut);
            }
            image += test::randomBytes(8192 - image.size() % sector, 4);
            test::writeFile(dir / "disk.img", image);
            const test::ChildResult result =
                test::runCliWith({"--fragments", "-y", "-t", c.kind, "-o", dir / "out", dir / "disk.img"});
            ASSERT_EQ(result.status, 0) << result.err;
            const std::string carved = dir / "out/disk/" + c.carved;
            const bool whole = test::fileExists(carved) && test::readFile(carved) == file;
            EXPECT_EQ(whole, realTail) << c.fixture << (realTail ? " with" : " without") << " its real tail";
            EXPECT_EQ(result.out.find("reassembled from fragments") != std::string::npos, realTail)
                << result.out;
        }
    }
}

std::uint32_t crc32Of(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (const char ch : bytes) {
        crc ^= static_cast<unsigned char>(ch);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

// Two pictures of one kind, each cut in two and interleaved, A's tail where B's search meets it
// first: A takes its own tail, and B passes over A's (claimed by A, though its broken chunk reads
// the same) to take its own.
TEST(FragmentsCliTest, InterleavedFilesOfOneKindJoinTheirOwnTails) {
    const std::string a = test::fixture("image-large.png");
    // B: A with a byte changed in a later chunk (its CRC mended), so that the two tails differ.
    std::string b = a;
    const std::size_t chunk = 98373; // an IDAT chunk of 32768 bytes
    b[chunk + 8 + 100] = static_cast<char>(b[chunk + 8 + 100] ^ 0x01);
    const std::string mended = test::be32(crc32Of(b.substr(chunk + 4, 4 + 32768)));
    b.replace(chunk + 8 + 32768, 4, mended);
    ASSERT_NE(a, b);
    const std::uint64_t cut = 65536;
    const std::string tailPad = test::randomBytes((sector - (a.size() - cut) % sector) % sector + sector, 4);
    test::TempDir dir;
    test::writeFile(dir / "disk.img", test::randomBytes(8192, 1) + a.substr(0, cut) +
                                          test::randomBytes(2 * sector, 2) + b.substr(0, cut) +
                                          test::randomBytes(3 * sector, 3) + a.substr(cut) + tailPad +
                                          b.substr(cut) + tailPad);
    const test::ChildResult result =
        test::runCliWith({"--fragments", "-y", "-t", "png", "-o", dir / "out", dir / "disk.img"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("2 reassembled from fragments"), std::string::npos) << result.out;
    EXPECT_TRUE(test::readFile(dir / "out/disk/disk~PNGFile0.png") == a);
    EXPECT_TRUE(test::readFile(dir / "out/disk/disk~PNGFile1.png") == b);
}

// A whole copy of the file lies between its first piece and its own tail, as a second copy of one
// picture often does on a disk: the copy's bytes read on from the break as well as the tail, but a
// reassembled file's byte runs are its own, so the join passes over the copy.
TEST(FragmentsCliTest, ACopyOfTheFileLendsItNoPiece) {
    const bool dfxml = test::runCli({"--dfxml", "--version"}) == 0;
    if (!dfxml) {
        GTEST_SKIP() << "needs a build with DFXML reports";
    }
    for (const auto& [fixture, kind, cut] :
         {std::tuple{"photo-large.jpg", "jpeg", 65536}, std::tuple{"image-00-3b.gif", "gif", 1024}}) {
        const std::string file = test::fixture(fixture);
        const std::string copy = file + std::string((sector - file.size() % sector) % sector, '\0');
        const std::string before = test::randomBytes(8192, 1) + file.substr(0, cut) +
                                   test::randomBytes(4 * sector, 2) + copy + test::randomBytes(8 * sector, 3);
        test::TempDir dir;
        test::writeFile(dir / "disk.img", before + file.substr(cut) + test::randomBytes(8192, 4));
        const test::ChildResult result = test::runCliWith(
            {"--dfxml", "--fragments", "-y", "-t", kind, "-o", dir / "out", dir / "disk.img"});
        ASSERT_EQ(result.status, 0) << result.err;
        const std::string report = test::readFile(dir / "out/disk/disk~Report.dfxml");
        EXPECT_NE(report.find("<byte_run offset=\"" + std::to_string(cut) + "\" img_offset=\"" +
                              std::to_string(before.size()) + "\""),
                  std::string::npos)
            << fixture << ": " << report;
    }
}

// Two progressive pictures of one size and scan script, each cut in two and interleaved: each
// takes its own tail; and with only the other's tail after it, a picture is not joined.
TEST(FragmentsCliTest, InterleavedProgressiveJpegsJoinOnlyTheirOwnTails) {
    const std::string a = test::fixture("photo-progressive.jpg");
    const std::string b = test::fixture("photo-progressive-q60.jpg");
    const std::uint64_t cut = 1024;
    const auto tail = [&](const std::string& file) {
        return file.substr(cut) +
               test::randomBytes((sector - (file.size() - cut) % sector) % sector + sector, 4);
    };
    for (const bool own : {true, false}) {
        test::TempDir dir;
        std::string image = test::randomBytes(8192, 1) + a.substr(0, cut) + test::randomBytes(2 * sector, 2);
        // Without its own tail, A meets only B's.
        image += own ? b.substr(0, cut) + test::randomBytes(3 * sector, 3) + tail(a) + tail(b) : tail(b);
        test::writeFile(dir / "disk.img", image);
        const test::ChildResult result =
            test::runCliWith({"--fragments", "-y", "-t", "jpeg", "-o", dir / "out", dir / "disk.img"});
        ASSERT_EQ(result.status, 0) << result.err;
        if (own) {
            EXPECT_NE(result.out.find("2 reassembled from fragments"), std::string::npos) << result.out;
            EXPECT_TRUE(test::readFile(dir / "out/disk/disk~JPEGFile0.jpg") == a);
            EXPECT_TRUE(test::readFile(dir / "out/disk/disk~JPEGFile1.jpg") == b);
        } else {
            EXPECT_EQ(result.out.find("reassembled from fragments"), std::string::npos) << result.out;
        }
    }
}

std::string le16(std::uint32_t v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

// An archive of one deflated member (text, so that deflate codes it with its own Huffman trees).
std::string deflatedZip(const std::string& content) {
    std::string packed(compressBound(static_cast<uLong>(content.size())), '\0');
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    z.avail_in = static_cast<uInt>(content.size());
    z.next_out = reinterpret_cast<Bytef*>(packed.data());
    z.avail_out = static_cast<uInt>(packed.size());
    deflate(&z, Z_FINISH);
    packed.resize(z.total_out);
    deflateEnd(&z);
    const std::string name = "lines.txt";
    const auto crc = static_cast<std::uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())));
    const std::string sizes = test::le32(crc) + test::le32(static_cast<std::uint32_t>(packed.size())) +
                              test::le32(static_cast<std::uint32_t>(content.size()));
    const std::string local = test::le32(0x04034b50) + le16(20) + le16(0) + le16(8) + le16(0) + le16(0) +
                              sizes + le16(static_cast<std::uint32_t>(name.size())) + le16(0) + name;
    const std::string central = test::le32(0x02014b50) + le16(20) + le16(20) + le16(0) + le16(8) + le16(0) +
                                le16(0) + sizes + le16(static_cast<std::uint32_t>(name.size())) + le16(0) +
                                le16(0) + le16(0) + le16(0) + test::le32(0) + test::le32(0) + name;
    const std::string end = test::le32(0x06054b50) + le16(0) + le16(0) + le16(1) + le16(1) +
                            test::le32(static_cast<std::uint32_t>(central.size())) +
                            test::le32(static_cast<std::uint32_t>(local.size() + packed.size())) + le16(0);
    return local + packed + central + end;
}

// A deflated member split mid-stream: the split is found by inflating across it, the member's
// CRC-32 proving it; the DFXML lists both pieces as the file's byte runs.
TEST(FragmentsCliTest, DeflatedMemberSplitAndItsByteRuns) {
    std::string content;
    for (int i = 0; content.size() < 400000; ++i) {
        content += "line " + std::to_string(i * 7919 % 100003) + " of the member, which deflate codes\n";
    }
    const std::string zip = deflatedZip(content);
    ASSERT_GT(zip.size(), 24000u);
    const std::uint64_t cut = 16384;
    const std::uint64_t gap = 50 * sector;
    test::TempDir dir;
    test::writeFile(dir / "disk.img", test::randomBytes(8192, 1) + zip.substr(0, cut) +
                                          test::randomBytes(gap, 2) + zip.substr(cut) +
                                          test::randomBytes(8192, 3));
    std::vector<std::string> args = {"--fragments", "-y", "-t", "zip", "-o", dir / "out", dir / "disk.img"};
    const bool dfxml = test::runCli({"--dfxml", "--version"}) == 0;
    if (dfxml) {
        args.insert(args.begin(), "--dfxml");
    }
    const test::ChildResult result = test::runCliWith(args);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(test::readFile(dir / "out/disk/disk~ZIPFile0.zip") == zip);
    if (dfxml) {
        const std::string report = test::readFile(dir / "out/disk/disk~Report.dfxml");
        EXPECT_NE(report.find("<byte_run offset=\"0\" img_offset=\"8192\" len=\"16384\""), std::string::npos)
            << report;
        EXPECT_NE(
            report.find("<byte_run offset=\"16384\" img_offset=\"" + std::to_string(8192 + cut + gap) + "\""),
            std::string::npos)
            << report;
    }
}

// An image made of PNG starts whose first data chunk breaks at once, each claiming a chunk of
// a mebibyte whose next chunk random bytes often seem to start: the run ends, with nothing
// reassembled, however many there are.
TEST(FragmentsCliTest, EndlessBrokenStartsAreBounded) {
    const std::string png = test::fixture("image.png").substr(0, 33);
    std::string image;
    for (int i = 0; i < 4096; ++i) {
        std::string start = png + test::be32(1u << 20) + "IDAT" + test::randomBytes(4 * sector - 41, i);
        image += start;
    }
    test::TempDir dir;
    test::writeFile(dir / "disk.img", image);
    const test::ChildResult result =
        test::runCliWith({"--fragments", "-y", "-t", "png", "-o", dir / "out", dir / "disk.img"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.find("reassembled"), std::string::npos) << result.out;
}

} // namespace

// Files fragmented by a file system itself: a FAT volume of 1 KiB clusters, made with mkfs.vfat
// and mtools, allocates first fit. Before each file is copied, fillers take a hole (and a second
// one for three pieces) and what follows it; the holes are deleted, so the copy fills each hole
// and goes on after the filler. The clusters each file got (mshowfat) are the ground truth,
// written beside the image as fat.layout.
struct FatFile {
    const char* fixture;
    int pieces;
    const char* gap; // what lies between the pieces: another file, or random bytes
};

TEST(FragmentsCliTest, FilesFragmentedByAFatFileSystem) {
    if (!test::haveProgram("mkfs.vfat") || !test::haveProgram("mcopy") || !test::haveProgram("mshowfat")) {
        GTEST_SKIP() << "needs dosfstools and mtools";
    }
    const FatFile files[] = {{"photo-large.jpg", 2, nullptr},
                             {"image-large.png", 3, "photo-exif.jpg"},
                             {"image-00-3b.gif", 2, nullptr},
                             {"slides.pptx", 2, "image.png"},
                             {"photo-exif.jpg", 3, nullptr}};
    test::TempDir dir;
    const std::string image = dir / "fat.img";
    const std::string mtools = "MTOOLS_SKIP_CHECK=1 ";
    ASSERT_EQ(test::runCommand("mkfs.vfat -F 16 -s 2 -C " + image + " 8192 >/dev/null 2>&1"), 0);
    auto copy = [&](const std::string& path, const std::string& name) {
        return test::runCommand(mtools + "mcopy -i " + image + " " + path + " ::" + name);
    };
    std::string layout;
    int n = 0;
    for (const FatFile& file : files) {
        const std::string name = "file" + std::to_string(&file - files);
        const std::uint64_t clusters = (test::fixture(file.fixture).size() + 1023) / 1024;
        for (int hole = 1; hole < file.pieces; ++hole, ++n) {
            const std::string filler = dir / ("filler" + std::to_string(n));
            test::writeFile(
                filler, test::randomBytes(1024 * (clusters / file.pieces), static_cast<std::uint32_t>(n)));
            ASSERT_EQ(copy(filler, "hole" + std::to_string(n)), 0);
            const std::string gap = file.gap ? test::fixturePath(file.gap) : filler;
            ASSERT_EQ(copy(gap, "gap" + std::to_string(n)), 0);
        }
        for (int hole = 1; hole < file.pieces; ++hole) {
            ASSERT_EQ(test::runCommand(mtools + "mdel -i " + image + " ::hole" + std::to_string(n - hole)),
                      0);
        }
        ASSERT_EQ(copy(test::fixturePath(file.fixture), name), 0);
        ASSERT_EQ(test::runCommand("echo " + std::string(file.fixture) + " $(" + mtools + "mshowfat -i " +
                                   image + " ::" + name + ") | tee -a " + image + ".layout"),
                  0);
    }
    layout = test::readFile(image + ".layout");
    for (const FatFile& file : files) {
        const std::size_t line = layout.find(file.fixture);
        ASSERT_NE(line, std::string::npos) << layout;
        const std::string runs = layout.substr(line, layout.find('\n', line) - line);
        ASSERT_EQ(std::count(runs.begin(), runs.end(), '<'), file.pieces)
            << "not fragmented as meant: " << runs;
    }

    const test::ChildResult result = test::runCliWith({"--fragments", "-y", "-o", dir / "out", image});
    ASSERT_EQ(result.status, 0) << result.err;
    std::set<std::string> carved;
    for (const std::string& name : test::listFolder(dir / "out/fat")) {
        carved.insert(test::readFile(dir / "out/fat/" + name));
    }
    for (const FatFile& file : files) {
        EXPECT_TRUE(carved.count(test::fixture(file.fixture)))
            << file.fixture << " not carved byte for byte; clusters:\n"
            << layout;
    }
}
