#include "platform/SectorReads.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace morrow;

namespace {

// A device of `size` bytes that fails the test when asked for anything but whole sectors.
struct FakeDevice {
    std::string bytes;
    std::uint32_t sectorSize;
    int calls = 0;
    std::size_t read(std::uint64_t offset, void* out, std::size_t length) {
        ++calls;
        EXPECT_EQ(offset % sectorSize, 0u) << "offset " << offset;
        EXPECT_EQ(length % sectorSize, 0u) << "length " << length;
        if (offset >= bytes.size()) {
            return 0;
        }
        const std::size_t n = std::min<std::size_t>(length, bytes.size() - offset);
        std::memcpy(out, bytes.data() + offset, n);
        return n;
    }
};

struct SectorRow {
    const char* name;
    std::uint32_t sectorSize;
    std::uint64_t deviceSize;
    std::uint64_t offset;
    std::size_t length;
    int calls; // reads the device is asked for: partial sectors alone, whole ones in one go
};

class SectorReadsTest : public ::testing::TestWithParam<SectorRow> {};

TEST_P(SectorReadsTest, AnyRangeIsServedFromWholeSectors) {
    const SectorRow& row = GetParam();
    FakeDevice device{std::string(row.deviceSize, '\0'), row.sectorSize};
    for (std::size_t i = 0; i < device.bytes.size(); ++i) {
        device.bytes[i] = static_cast<char>(i * 7 + i / 251);
    }
    std::string out(row.length, 'x');
    const std::size_t got =
        readInWholeSectors(row.offset, out.data(), row.length, row.sectorSize,
                           [&](std::uint64_t at, void* to, std::size_t n) { return device.read(at, to, n); });
    const std::size_t expected =
        row.offset >= row.deviceSize ? 0 : std::min<std::size_t>(row.length, row.deviceSize - row.offset);
    ASSERT_EQ(got, expected);
    EXPECT_EQ(out.substr(0, got),
              device.bytes.substr(std::min<std::uint64_t>(row.offset, row.deviceSize), got));
    EXPECT_EQ(out.substr(got), std::string(row.length - got, 'x')) << "wrote past what it delivered";
    EXPECT_EQ(device.calls, row.calls);
}

INSTANTIATE_TEST_SUITE_P(Ranges, SectorReadsTest,
                         ::testing::Values(SectorRow{"Aligned", 512, 8192, 1024, 2048, 1},
                                           SectorRow{"InsideOneSector", 512, 8192, 700, 100, 1},
                                           SectorRow{"PartialHeadAndTail", 512, 8192, 500, 1100, 3},
                                           SectorRow{"PartialHeadOnly", 512, 8192, 100, 924, 2},
                                           SectorRow{"PartialTailOnly", 512, 8192, 512, 600, 2},
                                           SectorRow{"AdvancedFormatSectors", 4096, 65536, 4000, 9000, 3},
                                           SectorRow{"EndsAtTheDeviceEnd", 512, 4096, 3000, 4000, 2},
                                           SectorRow{"StartsPastTheDeviceEnd", 512, 4096, 5000, 100, 1},
                                           SectorRow{"NoSectorSize", 1, 4096, 3, 10, 1}),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
