#pragma once

// What the format readers' tests share: tables of built bytes with the answer each must get.

#include "TestSupport.h"
#include "formats/Extent.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

namespace morrow::test {

// A row's name, for test listings and failures.
struct RowName {
    template <class Row> std::string operator()(const testing::TestParamInfo<Row>& info) const {
        return info.param.name;
    }
};

// Bytes built by the test and the reader's answer for them.
struct ExtentRow {
    const char* name;
    std::string data;
    bool found;
    std::uint64_t length; // when found
    bool truncated;
};
inline void PrintTo(const ExtentRow& row, std::ostream* os) {
    *os << row.name;
}

// Seeded filler bytes.
inline std::string garbage(std::size_t n, std::uint32_t seed = 7) {
    return ImageBuilder(n).randomFill(seed).data();
}

// Checks a reader's answer against what a row says it must be.
inline void expectExtent(const Extent& e, bool found, std::uint64_t length, bool truncated) {
    ASSERT_EQ(static_cast<bool>(e), found) << (e.whyNot ? e.whyNot : "found");
    if (found) {
        EXPECT_EQ(e.length, length);
        EXPECT_EQ(e.truncated, truncated);
    }
}

} // namespace morrow::test
