// morrow-cli --unallocated on FAT images made by the test with mkfs.vfat and mtools: files
// copied in, some of them deleted. Only the deleted ones are carved, byte for byte, and the DFXML
// names them as their directories still do; an image whose file system cannot be read is carved
// whole, and the run says so.
#include "TestSupport.h"
#include "volumes/FileSystemReader.h"

#include <gtest/gtest.h>

using namespace morrow;

namespace {

struct Layout {
    const char* name;
    const char* partitions; // sfdisk input, or "" for a file system over the whole image
    bool damaged;           // the boot sector of the (first) file system overwritten with zeros
};

class UnallocatedCliTest : public ::testing::TestWithParam<Layout> {};

TEST_P(UnallocatedCliTest, CarvesTheDeletedFilesOnly) {
    const Layout& layout = GetParam();
    if (!FileSystemReader::builtIn() || !test::haveProgram("mkfs.vfat") || !test::haveProgram("mcopy") ||
        (layout.partitions[0] != '\0' && !test::haveProgram("sfdisk"))) {
        GTEST_SKIP() << "needs libtsk, dosfstools, mtools and sfdisk";
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

    const test::ChildResult run =
        test::runCliWith({"--unallocated", "--dfxml", "-y", "-t", "all", "-o", dir / "out", image});
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
    EXPECT_NE(run.out.find("Unallocated space only: fat.img: FAT16 at offset"), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Layouts, UnallocatedCliTest,
                         ::testing::Values(Layout{"WholeImage", "", false},
                                           Layout{"MbrTwoPartitions", "2048,38912,6\\n40960,38912,6\\n",
                                                  false},
                                           Layout{"DamagedBootSector", "", true}),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
