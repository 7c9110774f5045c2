// Which recorded file holds an offset: only a file of another kind, only past its first byte,
// and the outer one of nested or overlapping files, whatever order they were added in.
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
    map.add(file(kind::Zip, 1, 50000, 1000), ".docx");
    map.add(file(kind::Zip, 0, 10000, 30000), ".zip"); // holds a short archive after it
    map.add(file(kind::Zip, 2, 12000, 500), ".zip");
    map.add(file(kind::VideoRiff, 0, 90000, 4096), ".avi");
    map.seal();

    struct Row {
        std::int64_t offset;
        FileTypeId type;
        int holder; // the holder's number, -1 for none
        FileTypeId holderType;
    };
    const Row rows[] = {
        {10000, kind::Jpeg, -1, 0},        // the holder's own first byte
        {10512, kind::Jpeg, 0, kind::Zip}, // inside
        {12512, kind::Png, 0, kind::Zip},  // inside two: the one that ends last
        {39999, kind::Png, 0, kind::Zip},  // its last byte
        {40000, kind::Png, -1, 0},         // just past it
        {10512, kind::Zip, -1, 0},         // a file of the same kind
        {50512, kind::Jpeg, 1, kind::Zip}, // added before the others
        {90112, kind::Jpeg, 0, kind::VideoRiff},
        {90112, kind::VideoRiff, -1, 0},
        {0, kind::Jpeg, -1, 0},
    };
    for (const Row& row : rows) {
        const ContainerMap::Container* holder = map.holding(row.offset, row.type);
        ASSERT_EQ(holder != nullptr, row.holder >= 0) << row.offset;
        if (holder != nullptr) {
            EXPECT_EQ(holder->number, row.holder) << row.offset;
            EXPECT_EQ(holder->type, row.holderType) << row.offset;
        }
    }
    EXPECT_EQ(map.extension(*map.holding(50512, kind::Jpeg)), ".docx");
}

} // namespace
