// morrow-cli on E01 images that are damaged, claim more than they hold, or no longer match the MD5
// stored at acquisition: each run ends at once or carves what is readable, and ends with the exit
// status and the message an examiner needs (the sectors, or both hashes). The images are acquired
// by ewfacquire and then patched here.
#include "TestSupport.h"
#include "evidence/EwfEvidence.h"
#include "output/Digest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using namespace morrow;
using namespace morrow::test;

namespace {

std::uint32_t adler32(const std::string& data, std::size_t at, std::size_t length) {
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (std::size_t i = at; i < at + length; ++i) {
        a = (a + static_cast<unsigned char>(data[i])) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

void putLe(std::string& data, std::size_t at, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        data[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
    }
}

// Where the data of each section named `type` starts, found by walking the section descriptors
// (76 bytes each: type[16], offset of the next u64, size u64, …) from the 13-byte file header.
std::vector<std::size_t> sections(const std::string& segment, const std::string& type) {
    std::vector<std::size_t> found;
    for (std::size_t at = 13; at + 76 <= segment.size();) {
        const std::string name = segment.substr(at, 16).c_str();
        if (name == type) {
            found.push_back(at + 76);
        }
        std::uint64_t next = 0;
        std::memcpy(&next, segment.data() + at + 16, 8);
        if (name == "done" || name == "next" || next <= at) {
            break;
        }
        at = static_cast<std::size_t>(next);
    }
    return found;
}

// The media's sector count in the volume section and its copy in the data section, with their
// Adler-32 put right, so that libewf takes the claim.
void claimSectors(std::string& segment, std::uint64_t sectors) {
    for (const char* type : {"volume", "data"}) {
        for (const std::size_t data : sections(segment, type)) {
            putLe(segment, data + 16, sectors, 8);
            putLe(segment, data + 1048, adler32(segment, data, 1048), 4);
        }
    }
}

constexpr std::size_t chunkBytes = 32768;

std::string md5(const std::string& bytes) {
    Digest digest;
    digest.update(bytes.data(), bytes.size());
    return digest.finish().md5;
}

struct FaultRow {
    const char* name;
    std::uint64_t imageBytes; // acquired stored, in segments of 1 MiB
    // Patches the first segment (its bytes) and the raw image it was acquired from; says what
    // the run must print.
    std::function<std::string(std::string& segment, std::string& raw, const std::string& evidence)> patch;
    int status;
    bool pngInFirstChunkCarved; // the PNG placed at byte 8192
    bool readWhole;             // every byte could be read
};

class EvidenceFaultCliTest : public ::testing::TestWithParam<FaultRow> {};

TEST_P(EvidenceFaultCliTest, RunEndsWithTheFaultNamed) {
    if (!haveProgram("ewfacquire") || !EwfEvidence::builtIn() || !Digest::available()) {
        GTEST_SKIP() << "needs ewfacquire (ewf-tools) and a build that reads E01 images";
    }
    const FaultRow& row = GetParam();
    TempDir tmp;
    ImageBuilder image(row.imageBytes);
    image.randomFill(4);
    if (row.imageBytes > 3 * chunkBytes) {
        image.place(8192, fixture("image.png")).place(2 * chunkBytes + 4096, fixture("image.png"));
    }
    image.writeTo(tmp / "disk.raw");
    ASSERT_TRUE(acquireEwf(tmp / "disk.raw", tmp / "disk", 1 << 20, "none"));
    std::string segment = readFile(tmp / "disk.E01");
    std::string raw = image.data();
    const std::string expected = row.patch(segment, raw, tmp / "disk.E01");
    writeFile(tmp / "disk.E01", segment);

    const ChildResult result = runCliWith({"--dfxml", "-y", "-q", "-o", tmp / "out", tmp / "disk.E01"});
    EXPECT_EQ(result.status, row.status) << result.err;
    EXPECT_NE(result.err.find("morrow-cli: " + expected), std::string::npos) << result.err;
    EXPECT_EQ(fileExists(tmp / "out/disk/disk~PNGFile0.png"), row.pngInFirstChunkCarved) << result.err;
    // The PNG in the third chunk is carved only where that chunk was read whole.
    const std::string second = readFile(tmp / "out/disk/disk~PNGFile1.png");
    EXPECT_TRUE(second.empty() || second == fixture("image.png"));
    // The source's hash is that of the bytes read only when every one was read; otherwise the
    // report says why it has none (it had the hash of zeros for what failed).
    const std::string xml = readFile(tmp / "out/disk/disk~Report.dfxml");
    EXPECT_EQ(xml.find("<hashdigest type=\"md5\">" + md5(raw) + "<") != std::string::npos, row.readWhole);
    EXPECT_EQ(xml.find("<!-- no hashdigest of the image: it could not be read whole: ") != std::string::npos,
              !row.readWhole);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, EvidenceFaultCliTest,
    ::testing::Values(
        // Broke: the whole run was discarded as "Evidence file changed during carving".
        FaultRow{"ChunkFailsItsChecksum", 5 << 19,
                 [](std::string& segment, std::string&, const std::string& evidence) {
                     const std::size_t third = sections(segment, "sectors").at(0) + 2 * (chunkBytes + 4);
                     segment.replace(third + 100, 8, "XXXXXXXX");
                     return "Evidence file is damaged: " + evidence +
                            ": sectors 128 to 191 cannot be read (they fail their checksum)";
                 },
                 1, true, false},
        // Broke: exit 0 (with --dfxml only a warning): the bytes no longer match the stored MD5.
        FaultRow{"DataNoLongerMatchesItsMd5", 5 << 19,
                 [](std::string& segment, std::string& raw, const std::string& evidence) {
                     const std::string stored = md5(raw);
                     const std::size_t third = sections(segment, "sectors").at(0) + 2 * (chunkBytes + 4);
                     segment.replace(third + 100, 8, "XXXXXXXX");
                     putLe(segment, third + chunkBytes, adler32(segment, third, chunkBytes), 4);
                     raw.replace(2 * chunkBytes + 100, 8, "XXXXXXXX");
                     return "Evidence MD5 does not match the hash stored at acquisition: " + evidence +
                            ": stored " + stored + ", read " + md5(raw);
                 },
                 1, true, true},
        // Broke: a 512-byte image claiming 32768 sectors was read chunk by failed chunk to its end
        // (the same with 2^40 sectors took hours: refused at open, EvidenceOpenFaultCliTest).
        FaultRow{"ClaimsMoreThanItStores", 512,
                 [](std::string& segment, std::string&, const std::string& evidence) {
                     claimSectors(segment, 32768);
                     return "Evidence file could not be read: " + evidence +
                            ": sector 4096 cannot be read: more than 64 of its chunks cannot be decoded";
                 },
                 1, false, false},
        FaultRow{"Whole", 5 << 19,
                 [](std::string&, std::string&, const std::string& evidence) {
                     return "Evidence MD5 matches the hash stored at acquisition: " + evidence;
                 },
                 0, true, true}),
    [](const auto& row) { return std::string(row.param.name); });

// Evidence that is no image at all is refused before anything is made, saying why.
struct OpenFaultRow {
    const char* name;
    std::function<void(const TempDir&)> make; // makes disk.E01
    const char* reason;
};

class EvidenceOpenFaultCliTest : public ::testing::TestWithParam<OpenFaultRow> {};

TEST_P(EvidenceOpenFaultCliTest, RefusedAtOpenWithExitTwo) {
    if (!haveProgram("ewfacquire") || !EwfEvidence::builtIn()) {
        GTEST_SKIP() << "needs ewfacquire (ewf-tools) and a build that reads E01 images";
    }
    TempDir tmp;
    GetParam().make(tmp);
    std::string err;
    EXPECT_EQ(runCli({"-y", "-o", tmp / "out", tmp / "disk.E01"}, nullptr, &err), 2);
    EXPECT_EQ(
        err.rfind("morrow-cli: Evidence file open failed: " + (tmp / "disk.E01") + ": " + GetParam().reason,
                  0),
        0u)
        << err;
    EXPECT_FALSE(fileExists(tmp / "out"));
}

INSTANTIATE_TEST_SUITE_P(
    Refused, EvidenceOpenFaultCliTest,
    ::testing::Values(
        // Broke: completed "successfully" over zero bytes, without a word.
        OpenFaultRow{"Empty", [](const TempDir& tmp) { writeFile(tmp / "disk.E01", ""); },
                     "the file is empty (0 bytes), not an E01 image"},
        // Broke: 512 TiB of failed reads scanned as zeros, some 7 hours.
        OpenFaultRow{
            "Claims512TiB",
            [](const TempDir& tmp) {
                ImageBuilder(512).randomFill(5).writeTo(tmp / "disk.raw");
                ASSERT_TRUE(acquireEwf(tmp / "disk.raw", tmp / "disk", 1 << 20, "none"));
                std::string segment = readFile(tmp / "disk.E01");
                claimSectors(segment, std::uint64_t{1} << 40);
                writeFile(tmp / "disk.E01", segment);
            },
            "it claims 562949953421312 bytes of media (17179869184 chunks), more than its segments can "
            "hold"}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
