#include "rudd/string.h"

#include <gtest/gtest.h>

using rudd::string;

TEST(string, new_string_is_empty_with_capacity_64) {
    string s;
    EXPECT_EQ(s.length(), 0u);
    EXPECT_EQ(s.capacity(), 64u);
}
