#pragma once

// What the format readers' tests share: a real file measured whole between garbage, and tables of
// built bytes with the answer each must get.

#include "TestSupport.h"
#include "formats/Extent.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <string>

namespace morrow::test {

// A row's name, for test listings and failures.
struct RowName {
    template <class Row> std::string operator()(const testing::TestParamInfo<Row>& info) const {
        return info.param.name;
    }
};

// A sample file of tests/data that must measure whole.
struct FixtureRow {
    const char* name;
    const char* file;
};
inline void PrintTo(const FixtureRow& row, std::ostream* os) { *os << row.name; }

// Bytes built by the test and the reader's answer for them.
struct ExtentRow {
    const char* name;
    std::string data;
    bool found;
    std::uint64_t length; // when found
    bool truncated;
};
inline void PrintTo(const ExtentRow& row, std::ostream* os) { *os << row.name; }

// Seeded filler bytes.
inline std::string garbage(std::size_t n, std::uint32_t seed = 7) { return ImageBuilder(n).randomFill(seed).data(); }

// Checks a reader's answer against what a row says it must be.
inline void expectExtent(const Extent& e, bool found, std::uint64_t length, bool truncated) {
    ASSERT_EQ(static_cast<bool>(e), found) << (e.whyNot ? e.whyNot : "found");
    if (found) {
        EXPECT_EQ(e.length, length);
        EXPECT_EQ(e.truncated, truncated);
    }
}

// The file `name` placed after each of `prefixes` bytes of garbage and before more: `measure` at
// its start finds it whole. A prefix that is no multiple of 4 KiB puts its headers across a
// block boundary.
inline void expectWholeFixture(const std::function<Extent(const std::string&, std::int64_t)>& measure,
                               const std::string& name, std::initializer_list<std::size_t> prefixes,
                               std::uint32_t seed = 7) {
    const std::string file = fixture(name);
    for (std::size_t prefix : prefixes) {
        const Extent e = measure(garbage(prefix, seed) + file + garbage(3000, seed), static_cast<std::int64_t>(prefix));
        ASSERT_TRUE(e) << e.whyNot << " after " << prefix;
        EXPECT_EQ(e.length, file.size()) << "after " << prefix;
        EXPECT_FALSE(e.truncated) << "after " << prefix;
    }
}

} // namespace morrow::test
