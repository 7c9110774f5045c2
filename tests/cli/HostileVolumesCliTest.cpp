// morrow-cli --unallocated on file systems and partition tables that lie, made by the test: a
// boot sector claiming years of blocks, a GPT listing one file system a hundred times, an ext4
// of 16 GiB (sparse) whose bitmaps allocate every other block. Each run ends in seconds, in
// bounded memory, and says what the evidence claimed.
#include "TestSupport.h"
#include "volumes/FileSystemReader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

using namespace morrow;

namespace {

// Writes `bytes` into `path` at `offset`, the file's length kept.
void patch(const std::string& path, std::uint64_t offset, const std::string& bytes) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.good()) << path;
}

std::string le(std::uint64_t value, int width) {
    std::string out(width, '\0');
    for (int i = 0; i < width; ++i) {
        out[i] = static_cast<char>(value >> (8 * i));
    }
    return out;
}

// Runs morrow-cli, killed after `seconds` (a run that time grows with a claim would never end).
test::ChildResult runWithin(const std::vector<std::string>& args, int seconds) {
    test::CliProcess process(args);
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> hold(lock);
        if (!ended.wait_for(hold, std::chrono::seconds(seconds), [&] { return done; })) {
            ::kill(process.pid(), SIGKILL);
        }
    });
    test::ChildResult result = process.wait();
    {
        std::lock_guard<std::mutex> hold(lock);
        done = true;
    }
    ended.notify_one();
    watchdog.join();
    return result;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

struct Claim {
    const char* name;
    const char* tool;
    const char* make;    // IMG stands for the image
    std::uint64_t field; // where the boot sector keeps its length in sectors
    const char* kind;
    std::uint64_t size;
};

class ClaimPastTheEvidence : public ::testing::TestWithParam<Claim> {};

// 2^59 sectors: 2^68 bytes, past what 64 bits count. The walks stop at the evidence's end, and
// the summary gives the claim as it stands.
TEST_P(ClaimPastTheEvidence, ReadsToTheEvidencesEndAndSaysSo) {
    const Claim& claim = GetParam();
    if (!FileSystemReader::builtIn() || !test::haveProgram(claim.tool)) {
        GTEST_SKIP() << "needs libtsk and " << claim.tool;
    }
    test::TempDir dir;
    const std::string image = dir / "disk.img";
    std::string make = claim.make;
    for (std::size_t at; (at = make.find("IMG")) != std::string::npos;) {
        make.replace(at, 3, image);
    }
    ASSERT_EQ(test::runCommand(make + " >/dev/null 2>&1"), 0);
    patch(image, claim.field, le(std::uint64_t{1} << 59, 8));
    const test::ChildResult run =
        runWithin({"--unallocated", "-y", "-t", "all", "-o", dir / "out", image}, 20);
    ASSERT_EQ(run.status, 0) << "killed after 20 s? " << run.err;
    const std::string size = std::to_string(claim.size);
    EXPECT_NE(run.out.find(std::string(claim.kind) +
                           " at offset 0 (claims 295147905179352825856 bytes, more than "
                           "the evidence's " +
                           size + "; blocks of "),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.err.find("the file system at offset 0 claims 295147905179352825856 bytes, more than the "
                           "evidence's " +
                           size + "; read to the evidence's end"),
              std::string::npos)
        << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    BootSectors, ClaimPastTheEvidence,
    ::testing::Values(Claim{"ExfatVolumeLength", "mkfs.exfat", "truncate -s 8M IMG && mkfs.exfat IMG", 72,
                            "EXFAT", 8 << 20},
                      Claim{"NtfsTotalSectors", "mkntfs", "truncate -s 16M IMG && mkntfs -q -F -Q IMG", 0x28,
                            "NTFS", 16 << 20}),
    [](const auto& row) { return std::string(row.param.name); });

std::uint32_t crc32(const std::string& bytes) {
    std::uint32_t crc = 0xffffffff;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xedb88320 & (0 - (crc & 1)));
        }
    }
    return ~crc;
}

// A GPT whose entries are (first, last) sector pairs, over an image of `sectors` sectors.
void writeGpt(const std::string& image, std::uint64_t sectors,
              const std::vector<std::pair<std::uint64_t, std::uint64_t>>& entries) {
    std::string table;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::string entry(128, '\0');
        entry.replace(0, 16, "\xaf\x3d\xc6\x0f\x83\x84\x72\x47\x8e\x79\x3d\x69\xd8\x47\x7d\xe4",
                      16); // Linux data
        entry.replace(16, 8, le(i + 1, 8));
        entry.replace(32, 8, le(entries[i].first, 8));
        entry.replace(40, 8, le(entries[i].second, 8));
        table += entry;
    }
    const std::uint64_t tableSectors = (table.size() + 511) / 512;
    std::string header = "EFI PART" + le(0x10000, 4) + le(92, 4) + le(0, 4) + le(0, 4) + le(1, 8) +
                         le(sectors - 1, 8) + le(2 + tableSectors, 8) + le(sectors - 2 - tableSectors, 8) +
                         std::string(16, '\x11') + le(2, 8) + le(entries.size(), 4) + le(128, 4) +
                         le(crc32(table), 4);
    header.replace(16, 4, le(crc32(header), 4));
    std::string mbr(512, '\0');
    mbr.replace(446, 16, std::string("\0\0\2\0\xee\xff\xff\xff", 8) + le(1, 4) + le(sectors - 1, 4));
    mbr[510] = '\x55';
    mbr[511] = '\xaa';
    patch(image, 0, mbr + header + std::string(512 - header.size(), '\0') + table);
}

// 128 entries over one ext4, some of them starting later inside it: read once, named once.
TEST(HostileVolumesCliTest, GptListingOneFileSystemManyTimes) {
    if (!FileSystemReader::builtIn() || !test::haveProgram("mke2fs")) {
        GTEST_SKIP() << "needs libtsk and e2fsprogs";
    }
    test::TempDir dir;
    const std::string image = dir / "gpt.img";
    ASSERT_EQ(test::runCommand("truncate -s 34M " + image + " && mke2fs -q -F -t ext4 -E offset=1048576 " +
                               image + " 32M >/dev/null 2>&1"),
              0);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> entries(120, {2048, 67583});
    for (std::uint64_t i = 0; i < 8; ++i) {
        entries.push_back({4096 + i, 67583}); // overlapping, from another start
    }
    writeGpt(image, 34 * 2048, entries);
    const test::ChildResult run =
        test::runCliWith({"--unallocated", "-y", "-t", "all", "-o", dir / "out", image});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(count(run.out, " at offset "), 1u) << run.out;
    EXPECT_NE(run.out.find("EXT4 at offset 1048576 (33554432 bytes, blocks of 1024);"), std::string::npos)
        << run.out;
    EXPECT_EQ(count(run.err, "repeat or overlap the one at offset 1048576, read once"), 1u) << run.err;
    EXPECT_EQ(count(run.err, "no file system recognised"), 0u) << run.err;
}

// 300 distinct partitions of 2 KiB, none holding a file system: the first 256 are tried, the
// rest carved whole unread, and the run says so.
TEST(HostileVolumesCliTest, GptOfMorePartitionsThanRead) {
    if (!FileSystemReader::builtIn()) {
        GTEST_SKIP() << "needs libtsk";
    }
    test::TempDir dir;
    const std::string image = dir / "many.img";
    ASSERT_EQ(test::runCommand("truncate -s 4M " + image), 0);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> entries;
    for (std::uint64_t i = 0; i < 300; ++i) {
        entries.push_back({1024 + 4 * i, 1024 + 4 * i + 3});
    }
    writeGpt(image, 4 * 2048, entries);
    const test::ChildResult run =
        runWithin({"--unallocated", "-y", "-t", "all", "-o", dir / "out", image}, 60);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(count(run.err, "no file system recognised"), 256u);
    EXPECT_NE(run.err.find("the partition table lists 44 more partitions than the 256 Morrow reads; they are "
                           "carved whole"),
              std::string::npos)
        << run.err;
}

// 16 GiB of 4 KiB blocks, every other one allocated: four million runs, one a block, were the map
// to keep them so. It keeps a bitmap; a JPEG whose first block is free is carved, one whose
// first block is allocated is not.
TEST(HostileVolumesCliTest, SparseExt4OfEveryOtherBlock) {
    if (!FileSystemReader::builtIn() || !test::haveProgram("mke2fs") || !test::haveProgram("dumpe2fs")) {
        GTEST_SKIP() << "needs libtsk and e2fsprogs";
    }
    test::TempDir dir;
    const std::string image = dir / "big.img";
    const std::string bitmaps = dir / "bitmaps.txt";
    ASSERT_EQ(test::runCommand("truncate -s 16G " + image +
                               " && mke2fs -q -F -t ext4 -b 4096 -N 4096 -O "
                               "^metadata_csum,^uninit_bg,^has_journal " +
                               image + " && { dumpe2fs " + image +
                               " 2>/dev/null | sed -n 's/.*Block bitmap at \\([0-9]*\\).*/\\1/p' > " +
                               bitmaps + "; }"),
              0);
    // The same file system as made, its allocation a few runs: what a run costs anyway (a
    // sanitized build costs much more than a plain one).
    const test::ChildResult plain =
        runWithin({"--unallocated", "-y", "-t", "jpeg", "-o", dir / "plain", image}, 60);
    ASSERT_EQ(plain.status, 0) << plain.err;
    std::istringstream list(test::readFile(bitmaps));
    std::size_t groups = 0;
    for (std::uint64_t at = 0; list >> at; ++groups) {
        patch(image, at * 4096, std::string(4096, '\x55')); // bits 0, 2, 4 ...: even blocks allocated
    }
    ASSERT_EQ(groups, 128u);
    const std::string photo = test::fixture("photo-jfif.jpg");
    patch(image, 3'000'001ull * 4096, photo);
    patch(image, 3'000'100ull * 4096, photo);
    const test::ChildResult run =
        runWithin({"--unallocated", "-y", "-t", "jpeg", "-o", dir / "out", image}, 60);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(test::listFolder(dir / "out/big"),
              (std::vector<std::string>{"big~JPEGFile0.jpg", "big~Report.xls"}));
    EXPECT_NE(run.out.find("EXT4 at offset 0 (17179869184 bytes, blocks of 4096); 8589934592 of 17179869184 "
                           "bytes unallocated (50 %)"),
              std::string::npos)
        << run.out;
    // Runs of one block would take 100 MiB and more; the bitmap takes 512 KiB.
    EXPECT_LT(run.peakKiB, plain.peakKiB + 32 * 1024) << "as made: " << plain.peakKiB << " KiB";
}

} // namespace
