#include "evidence/EwfSegmentNames.h"

#include <gtest/gtest.h>

using namespace morrow;

namespace {

// libewf's naming, which the message about a missing segment follows.
TEST(EwfSegmentNamesTest, NextFollowsLibewf) {
    const std::pair<const char*, const char*> names[] = {{"/ev/disk.E09", "/ev/disk.E10"},
                                                         {"/ev/disk.E99", "/ev/disk.EAA"},
                                                         {"disk.EAZ", "disk.EBA"},
                                                         {"disk.EZZ", "disk.FAA"},
                                                         {"disk.e01", "disk.e02"},
                                                         {"disk.ZZZ", ""},
                                                         {"/ev.d/disk", ""},
                                                         {"disk.E1", ""}};
    for (const auto& [path, next] : names) {
        EXPECT_EQ(nextEwfSegmentName(path), next) << path;
    }
}

} // namespace
