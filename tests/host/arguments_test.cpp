#include "host/arguments.h"
#include "host/commands.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST(Arguments, SelectionsTakeIdsAndRanges) {
    using Ranges = std::vector<host::IdRange>;
    struct Case {
        const char* text;
        bool valid;
        Ranges ranges;
    } cases[] = {
        {"0", true, {{0, 0}}},
        {"0-5,9", true, {{0, 5}, {9, 9}}},
        {"3-3,1", true, {{3, 3}, {1, 1}}},
        {"999999999", true, {{999999999, 999999999}}},
        {"5-3", false, {}},
        {"1,,2", false, {}},
        {"1,", false, {}},
        {",1", false, {}},
        {"-1", false, {}},
        {"1-", false, {}},
        {"1-2-3", false, {}},
        {"1000000000", false, {}},
        {"a", false, {}},
        {"", false, {}},
    };
    for (const Case& c : cases) {
        Ranges ranges;
        EXPECT_EQ(c.valid, host::ParseSelection(c.text, &ranges)) << c.text;
        if (c.valid) {
            EXPECT_EQ(c.ranges, ranges) << c.text;
        }
    }
}

} // namespace
