// boxpatch's median: the order values are taken in, and counts out of range.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <ostream>
#include <vector>

#include "median.hpp"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

// Same bits: tells -0.0 from 0.0 and matches NaN with NaN.
bool same_float(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Case {
    const char* name;
    std::vector<float> values;
    float expected;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Median : public testing::TestWithParam<Case> {};

TEST_P(Median, TakesElementCountDivTwoOfTheOrderedSample) {
    const Case& c = GetParam();
    const std::vector<float> before = c.values;
    const float got = median(c.values.data(), static_cast<int32_t>(c.values.size()));
    EXPECT_TRUE(same_float(got, c.expected)) << got << " expected " << c.expected;
    EXPECT_EQ(std::memcmp(before.data(), c.values.data(), before.size() * sizeof(float)), 0)
        << "the caller's values changed";
}

INSTANTIATE_TEST_SUITE_P(
    Samples, Median,
    testing::Values(Case{"odd", {3, 1, 2}, 2}, Case{"even_takes_upper_middle", {4, 1, 3, 2}, 3},
                    Case{"one_value", {-7.25f}, -7.25f}, Case{"equal_values", {5, 5, 1, 5}, 5},
                    Case{"two_values", {9, 8}, 9}, Case{"negative", {-1, -3, -2, -5, -4}, -3},
                    Case{"zero_then_minus_zero", {0.0f, -0.0f}, -0.0f},
                    Case{"minus_zero_then_zero", {-0.0f, 0.0f}, 0.0f},
                    // A NaN is taken only once it stands first among the values left.
                    Case{"nan_first_is_taken_first", {kNaN, 3, 1, 2}, 2},
                    Case{"nan_in_the_middle_lands_there", {1, kNaN, 5}, kNaN},
                    Case{"nan_waits_behind_larger_value", {2, kNaN, 1, 0}, 2},
                    Case{"all_nan", {kNaN, kNaN}, kNaN}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(MedianCount, ZeroOrBelowGivesNaN) {
    const float values[] = {1, 2, 3};
    EXPECT_TRUE(std::isnan(median(values, 0)));
    EXPECT_TRUE(std::isnan(median(values, -5)));
}

// Samples at and beyond 16384 values, reversed so that every value moves.
TEST(MedianCount, LargeSamplesFollowTheSameRule) {
    for (const int32_t count : {16384, 16385, 20001}) {
        std::vector<float> values(static_cast<size_t>(count));
        std::iota(values.rbegin(), values.rend(), 0.0f);  // count-1 .. 0
        values[0] = kNaN;                                 // taken first, shifting the middle by one
        EXPECT_EQ(median(values.data(), count), static_cast<float>(count / 2 - 1)) << count;
        EXPECT_TRUE(std::isnan(values[0]));
        EXPECT_EQ(values[1], static_cast<float>(count - 2));
    }
}

}  // namespace
