#include "base/Text.h"

#include <climits>
#include <optional>
#include <utility>

#include <gtest/gtest.h>

using namespace morrow;

// The one parser behind the dialog's size box and morrow-cli's -s.
TEST(TextTest, NumbersTypedByTheExaminerAreWholeAndWithin32Bits) {
    const std::pair<const char*, std::int32_t> taken[] = {
        {"1024", 1024},          {" 77 ", 77}, {"+5", 5}, {"-3", -3}, {"0", 0}, {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN}};
    for (const auto& [text, value] : taken) {
        EXPECT_EQ(parseInteger(text), value) << '"' << text << '"';
    }
    for (const char* text : {"2147483648", "99999999999", "", "  ", "12a", "1 2", "-", "0x10"}) {
        EXPECT_EQ(parseInteger(text), std::nullopt) << '"' << text << '"';
    }
    // The arrows step from numbers the size box cannot take, up to 64 bits.
    EXPECT_EQ(parseWhole("99999999999"), 99999999999LL);
    EXPECT_EQ(parseWhole("-9223372036854775808"), LLONG_MIN);
    EXPECT_EQ(parseWhole("9223372036854775808"), std::nullopt);
}
