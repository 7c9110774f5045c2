// morrow-cli --unallocated on FAT images made by the test with mkfs.vfat and mtools: files
// copied in, some of them deleted. Only the deleted ones are carved, byte for byte, and the DFXML
// names them as their directories still do; an image whose file system cannot be read is carved
// whole, and the run says so.
#include "TestSupport.h"
#include "evidence/EwfEvidence.h"
#include "volumes/FileSystemReader.h"

#include <gtest/gtest.h>

using namespace morrow;

namespace {

struct Layout {
    const char* name;
    const char* partitions; // sfdisk input, or "" for a file system over the whole image
    bool damaged;           // the boot sector of the (first) file system overwritten with zeros
    bool e01;               // carved from an E01 image of it
};

class UnallocatedCliTest : public ::testing::TestWithParam<Layout> {};

TEST_P(UnallocatedCliTest, CarvesTheDeletedFilesOnly) {
    const Layout& layout = GetParam();
    if (!FileSystemReader::builtIn() || !test::haveProgram("mkfs.vfat") || !test::haveProgram("mcopy") ||
        (layout.partitions[0] != '\0' && !test::haveProgram("sfdisk")) ||
        (layout.e01 && (!test::haveProgram("ewfacquire") || !EwfEvidence::builtIn()))) {
        GTEST_SKIP() << "needs libtsk, dosfstools, mtools, sfdisk and ewfacquire";
    }
    test::TempDir dir;
    const std::string image = dir / "fat.img";
    const std::string live[] = {"photo-jfif.jpg", "image89a.gif", "plain.pdf"};
    const std::string deleted[] = {"image.png", "photo-exif.jpg"};
    ASSERT_EQ(test::runCommand("truncate -s 40M " + image), 0);
    // Each file system: live and deleted files side by side, each in one piece.
    std::vector<std::string> volumes = {image};
    if (layout.partitions[0] != '\0') {
        ASSERT_EQ(test::runCommand("printf '" + std::string(layout.partitions) + "' | sfdisk -q " + image),
                  0);
        volumes = {image + "@@1048576", image + "@@20971520"};
    }
    for (const std::string& volume : volumes) {
        const std::string at =
            volume.substr(volume.find("@@") == std::string::npos ? volume.size() : volume.find("@@"));
        const std::string offset =
            at.empty() ? "" : " --offset " + std::to_string(std::stoull(at.substr(2)) / 512);
        ASSERT_EQ(test::runCommand("mkfs.vfat -n CARD" + offset + " " + image + " 18432 >/dev/null 2>&1"), 0);
        for (const std::string& name : {live[0], deleted[0], live[1], deleted[1], live[2]}) {
            ASSERT_EQ(test::runCommand("MTOOLS_SKIP_CHECK=1 mcopy -i " + volume + " " +
                                       test::fixturePath(name) + " ::"),
                      0);
        }
        for (const std::string& name : deleted) {
            ASSERT_EQ(test::runCommand("MTOOLS_SKIP_CHECK=1 mdel -i " + volume + " ::" + name), 0);
        }
    }
    if (layout.damaged) {
        ASSERT_EQ(
            test::runCommand("dd if=/dev/zero of=" + image + " bs=512 count=1 conv=notrunc status=none"), 0);
    }

    std::string evidence = image;
    if (layout.e01) {
        ASSERT_TRUE(test::acquireEwf(image, dir / "fat", 1 << 30, "fast"));
        evidence = dir / "fat.E01";
    }
    const test::ChildResult run =
        test::runCliWith({"--unallocated", "--dfxml", "-y", "-t", "all", "-o", dir / "out", evidence});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string dfxml = test::readFile(dir / "out/fat/fat~Report.dfxml");
    std::vector<std::string> carved;
    for (const std::string& name : test::listFolder(dir / "out/fat")) {
        if (name.find("~Report") == std::string::npos) {
            carved.push_back(test::readFile(dir / ("out/fat/" + name)));
        }
    }
    if (layout.damaged) {
        // Carved whole: the live files too.
        EXPECT_NE(run.err.find("no file system recognised"), std::string::npos) << run.err;
        EXPECT_EQ(carved.size(), (std::size(live) + std::size(deleted)) * volumes.size());
        return;
    }
    EXPECT_EQ(carved.size(), std::size(deleted) * volumes.size()) << run.out;
    for (const std::string& name : deleted) {
        EXPECT_EQ(std::count(carved.begin(), carved.end(), test::fixture(name)),
                  static_cast<long>(volumes.size()))
            << name;
    }
    // The long name survives the deletion (a short name loses its first letter).
    EXPECT_NE(dfxml.find("<filename>/photo-exif.jpg</filename>\n      <inode>"), std::string::npos) << dfxml;
    EXPECT_NE(run.out.find("Unallocated space only: " + evidence.substr(evidence.rfind('/') + 1) +
                           ": FAT16 at offset"),
              std::string::npos)
        << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, UnallocatedCliTest,
    ::testing::Values(Layout{"WholeImage", "", false, false},
                      Layout{"MbrTwoPartitions", "2048,38912,6\\n40960,38912,6\\n", false, false},
                      Layout{"GptTwoPartitions", "label: gpt\\n2048,38912\\n40960,38912\\n", false, false},
                      Layout{"E01", "", false, true}, Layout{"DamagedBootSector", "", true, false}),
    [](const auto& row) { return std::string(row.param.name); });

// ext4, made with mke2fs from a folder; files deleted with debugfs keep their directory entries,
// so the DFXML names them too.
TEST(UnallocatedCliTest, Ext4DeletedFiles) {
    if (!FileSystemReader::builtIn() || !test::haveProgram("mke2fs") || !test::haveProgram("debugfs")) {
        GTEST_SKIP() << "needs libtsk and e2fsprogs";
    }
    test::TempDir dir;
    ASSERT_EQ(test::runCommand("mkdir -p " + dir / "root/sub"), 0);
    for (const char* name : {"photo-jfif.jpg", "plain.pdf", "image.png"}) {
        test::writeFile(dir / ("root/" + std::string(name)), test::fixture(name));
    }
    test::writeFile(dir / "root/sub/photo-exif.jpg", test::fixture("photo-exif.jpg"));
    const std::string image = dir / "disk.img";
    ASSERT_EQ(test::runCommand("truncate -s 16M " + image + " && mke2fs -q -t ext4 -d " + dir / "root " +
                               image + " && debugfs -w -R 'rm /image.png' " + image +
                               " >/dev/null 2>&1 && debugfs -w -R " + "'rm /sub/photo-exif.jpg' " + image +
                               " >/dev/null 2>&1"),
              0);
    const test::ChildResult run =
        test::runCliWith({"--unallocated", "--dfxml", "-y", "-q", "-t", "all", "-o", dir / "out", image});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(test::listFolder(dir / "out/disk"),
              (std::vector<std::string>{"disk~JPEGFile0.jpg", "disk~PNGFile0.png", "disk~Report.dfxml",
                                        "disk~Report.xls"}));
    EXPECT_EQ(test::readFile(dir / "out/disk/disk~JPEGFile0.jpg"), test::fixture("photo-exif.jpg"));
    EXPECT_EQ(test::readFile(dir / "out/disk/disk~PNGFile0.png"), test::fixture("image.png"));
    const std::string dfxml = test::readFile(dir / "out/disk/disk~Report.dfxml");
    for (const char* name : {"/image.png", "/sub/photo-exif.jpg"}) {
        EXPECT_NE(dfxml.find("<filename>" + std::string(name) + "</filename>"), std::string::npos) << name;
    }
}

// NTFS, made with mkntfs and filled with ntfscp (nothing here deletes without a mount): no live
// file is carved, and a run over the whole image names each file's owner as live.
TEST(UnallocatedCliTest, NtfsLiveFiles) {
    if (!FileSystemReader::builtIn() || !test::haveProgram("mkntfs") || !test::haveProgram("ntfscp")) {
        GTEST_SKIP() << "needs libtsk and ntfs-3g";
    }
    test::TempDir dir;
    const std::string image = dir / "disk.img";
    std::string make = "truncate -s 16M " + image + " && mkntfs -q -F -Q " + image + " >/dev/null 2>&1";
    for (const char* name : {"photo-jfif.jpg", "plain.pdf", "image.png"}) {
        make += " && ntfscp -q " + image + " " + test::fixturePath(name) + " " + name;
    }
    ASSERT_EQ(test::runCommand(make), 0);
    ASSERT_EQ(test::runCliWith({"--unallocated", "-y", "-q", "-o", dir / "free", image}).status, 0);
    EXPECT_EQ(test::listFolder(dir / "free/disk"), std::vector<std::string>{"disk~Report.xls"});
    ASSERT_EQ(test::runCliWith({"--dfxml", "-y", "-q", "-o", dir / "all", image}).status, 0);
    const std::string dfxml = test::readFile(dir / "all/disk/disk~Report.dfxml");
    EXPECT_NE(
        dfxml.find("<alloc>1</alloc>\n    <original_fileobject>\n      <filename>/image.png</filename>"),
        std::string::npos)
        << dfxml;
}

} // namespace
