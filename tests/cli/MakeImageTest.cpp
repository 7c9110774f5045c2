// bench/make-image: the benchmark image generator. The benchmarks only mean something if the
// image holds the real sample files whole, at sector starts, and has exactly the size asked for.
#include "TestSupport.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

using namespace morrow::test;

namespace {

const std::string makeImage = std::string(MORROW_TEST_DATA) + "/../../bench/make-image";

// Runs bench/make-image with `args`; returns its exit status and what it printed.
int runMakeImage(const std::string& args, std::string* printed = nullptr) {
    std::string command = "python3 '" + makeImage + "' " + args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        return -1;
    }
    std::string text;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        text += buffer;
    }
    if (printed) {
        *printed = text;
    }
    int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Placed {
    std::uint64_t offset;
    std::string name;
};

std::vector<Placed> readLayout(const std::string& path) {
    std::vector<Placed> placed;
    std::istringstream in(readFile(path));
    std::string line;
    while (std::getline(in, line)) {
        auto tab = line.find('\t');
        placed.push_back({std::stoull(line.substr(0, tab)), line.substr(tab + 1)});
    }
    return placed;
}

struct SizeCase {
    const char* name;
    const char* size;
    const char* gap;
    std::uint64_t bytes;
};

class MakeImageTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(MakeImageTest, PlacesWholeSamplesAtSectorStartsWithinTheExactSize) {
    TempDir tmp;
    std::string image = tmp / "img.img";
    std::string printed;
    ASSERT_EQ(runMakeImage(std::string("--size ") + GetParam().size + " --gap " + GetParam().gap +
                               " --seed 5 --out " + image,
                           &printed),
              0)
        << printed;
    EXPECT_EQ(printed, image + "\n");
    std::string data = readFile(image);
    ASSERT_EQ(data.size(), GetParam().bytes);

    std::uint64_t freeFrom = 0; // first byte after the previous sample and its filler sector
    std::size_t count = 0;
    for (const Placed& p : readLayout(image + ".layout")) {
        SCOPED_TRACE(p.name + " at " + std::to_string(p.offset));
        EXPECT_EQ(p.offset % 512, 0u);
        EXPECT_GE(p.offset, freeFrom) << "overlaps the previous sample or has no filler before it";
        std::string sample = fixture(p.name);
        ASSERT_LE(p.offset + sample.size(), data.size());
        EXPECT_TRUE(data.compare(p.offset, sample.size(), sample) == 0) << "sample not placed whole";
        const std::uint64_t end = p.offset + sample.size();
        const std::uint64_t sectorEnd = (end + 511) / 512 * 512;
        EXPECT_EQ(data.substr(end, sectorEnd - end), std::string(sectorEnd - end, '\0')) << "slack not zero";
        freeFrom = sectorEnd + 512;
        ++count;
    }
    // The samples (two of them over 1 MiB) add up to some 2.5 MiB with their filler.
    if (GetParam().bytes >= (4u << 20) && std::string(GetParam().gap) == "1-8") {
        EXPECT_GT(count, 35u) << "a dense 4 MiB holds every sample at least once";
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, MakeImageTest,
                         ::testing::Values(SizeCase{"oneMebibyteDense", "1M", "1-8", 1u << 20},
                                           SizeCase{"fourMebibytesDense", "4M", "1-8", 4u << 20},
                                           SizeCase{"fourMebibytesDefaultGap", "4M", "1-512", 4u << 20},
                                           SizeCase{"halfMebibyte", "0.5M", "1-8", 1u << 19},
                                           SizeCase{"oddBytesRoundDownToASector", "70000", "1-8", 69632},
                                           // The leading filler once ran past a size this small.
                                           SizeCase{"oneSectorHoldsOnlyFiller", "512", "1-8", 512}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(MakeImageReuseTest, SameSeedSameImageAndAMatchingImageIsReused) {
    TempDir tmp;
    ASSERT_EQ(runMakeImage("--size 256K --seed 3 --out " + tmp / "a.img"), 0);
    ASSERT_EQ(runMakeImage("--size 256K --seed 3 --out " + tmp / "b.img"), 0);
    ASSERT_EQ(runMakeImage("--size 256K --seed 4 --out " + tmp / "c.img"), 0);
    EXPECT_TRUE(readFile(tmp / "a.img") == readFile(tmp / "b.img"));
    EXPECT_FALSE(readFile(tmp / "a.img") == readFile(tmp / "c.img"));

    // A matching image is kept as it is; one of another size under the same name is rebuilt.
    struct stat before {
    }, after{};
    ASSERT_EQ(::stat((tmp / "a.img").c_str(), &before), 0);
    ASSERT_EQ(runMakeImage("--size 256K --seed 3 --out " + tmp / "a.img"), 0);
    ASSERT_EQ(::stat((tmp / "a.img").c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    ASSERT_EQ(runMakeImage("--size 128K --seed 3 --out " + tmp / "a.img"), 0);
    EXPECT_EQ(readFile(tmp / "a.img").size(), 128u << 10);
}

TEST(MakeImageReuseTest, RefusesASizeBelowOneSector) {
    TempDir tmp;
    EXPECT_NE(runMakeImage("--size 100 --out " + tmp / "a.img"), 0);
    EXPECT_FALSE(fileExists(tmp / "a.img"));
}

} // namespace
