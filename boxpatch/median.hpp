// The median of a sample of floats. boxpatch's own repair interpolates and
// does not call it: it is interface for callers, kept with its name and its
// rule.
#pragma once

#include <cstdint>

// Returns element count div 2 of the sample in ascending order: the middle
// value for an odd count, the upper of the two middle values for an even one
// (never an average). The order is made by repeatedly taking out the
// smallest remaining value, the first of equal ones, with strict float
// comparison: -0.0 and 0.0 count as equal, and a NaN is taken only once it
// stands first among the values left. The caller's values are only read.
// A count of 0 or below gives NaN.
float median(const float* values, int32_t count);
