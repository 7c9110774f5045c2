// Which recorded file holds an offset: only a file of another kind, only past its first byte, only
// inside a stretch its structure points at (its extent alone covers, for joins), and the outer one
// of nested or overlapping files, whatever order they were added in.
#include "carve/ContainerMap.h"

#include <gtest/gtest.h>

using namespace morrow;

namespace {

CarvedFile file(FileTypeId type, std::int64_t number, std::int64_t offset, std::uint64_t length) {
    CarvedFile f;
    f.type = type;
    f.number = number;
    f.runs = {ByteRun{offset, length}};
    return f;
}

TEST(ContainerMapTest, HoldingRules) {
    ContainerMap map;
    map.add(file(kind::Zip, 1, 50000, 1000), ".docx", {{50100, 900}});
    // An archive whose members are pointed at in two stretches, with a gap its structure skips,
    // holding a short archive after it; stretches given out of order, one running past its end.
    map.add(file(kind::Zip, 0, 10000, 30000), ".zip", {{30000, 20000}, {10100, 9900}});
    map.add(file(kind::Zip, 2, 12000, 500), ".zip", {{12030, 470}});
    // A movie whose chunks lie less than a sector apart: one stretch.
    map.add(file(kind::VideoRiff, 0, 90000, 4096), ".avi", {{90100, 1000}, {91200, 1000}, {93000, 1000}});
    // A movie that points at nothing (no reader of its parts, or a break before its first chunk).
    map.add(file(kind::VideoAsf, 0, 200000, 8192), ".wmv");
    map.seal();

    struct Row {
        std::int64_t offset;
        FileTypeId type;
        int holder; // the holder's number, -1 for none
        FileTypeId holderType;
        int coverer; // the same for covering()
    };
    const Row rows[] = {
        {10000, kind::Jpeg, -1, 0, -1},             // the holder's own first byte
        {10512, kind::Jpeg, 0, kind::Zip, 0},       // inside a stretch
        {12512, kind::Png, 0, kind::Zip, 0},        // inside two: the one that ends last
        {20480, kind::Png, -1, 0, 0},               // in the extent, in no stretch: a file of its own
        {39999, kind::Png, 0, kind::Zip, 0},        // its last byte
        {40000, kind::Png, -1, 0, -1},              // just past it
        {10512, kind::Zip, -1, 0, -1},              // a file of the same kind
        {50512, kind::Jpeg, 1, kind::Zip, 1},       // added before the others
        {92160, kind::Jpeg, 0, kind::VideoRiff, 0}, // between chunks less than a sector apart
        {94050, kind::Jpeg, -1, 0, 0},              // past the last chunk
        {90112, kind::VideoRiff, -1, 0, -1},
        {200704, kind::Jpeg, -1, 0, 0}, // a movie that vouches for none of its bytes
        {0, kind::Jpeg, -1, 0, -1},
    };
    for (const Row& row : rows) {
        const ContainerMap::Container* holder = map.holding(row.offset, row.type);
        ASSERT_EQ(holder != nullptr, row.holder >= 0) << row.offset;
        if (holder != nullptr) {
            EXPECT_EQ(holder->number, row.holder) << row.offset;
            EXPECT_EQ(holder->type, row.holderType) << row.offset;
        }
        const ContainerMap::Container* coverer = map.covering(row.offset, row.type);
        ASSERT_EQ(coverer != nullptr, row.coverer >= 0) << row.offset;
        if (coverer != nullptr) {
            EXPECT_EQ(coverer->number, row.coverer) << row.offset;
        }
    }
    EXPECT_EQ(map.extension(*map.holding(50512, kind::Jpeg)), ".docx");
    // A file held must end in the stretch it starts in: one that runs out of it overwrote it.
    EXPECT_NE(map.holding(10512, kind::Jpeg, 20000 - 10512), nullptr);
    EXPECT_EQ(map.holding(10512, kind::Jpeg, 20000 - 10512 + 1), nullptr);
}

} // namespace
