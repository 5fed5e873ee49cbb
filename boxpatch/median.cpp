#include "median.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

namespace {

// Samples up to this size are worked on in the routine's own frame; larger
// ones get a heap copy.
constexpr int32_t kFrameSample = 16384;

// Takes the smallest of work[0..n) out by selection, moving the rest up.
float take_smallest(float* work, int32_t n) {
    int32_t chosen = 0;
    for (int32_t k = 1; k < n; ++k)
        if (work[chosen] > work[k]) chosen = k;  // strict: NaN is never chosen past, nor replaced
    const float value = work[chosen];
    std::copy(work + chosen + 1, work + n, work + chosen);
    return value;
}

float select_middle(float* work, int32_t count) {
    // The values taken out come in ascending order; the one at index
    // count div 2 is the result, so the selection stops there.
    const int32_t wanted = count / 2;
    int32_t n = count;
    for (int32_t taken = 0; taken < wanted; ++taken) take_smallest(work, n--);
    return take_smallest(work, n);
}

}  // namespace

float median(const float* values, int32_t count) {
    if (count <= 0) return std::numeric_limits<float>::quiet_NaN();
    if (count <= kFrameSample) {
        std::array<float, kFrameSample> work;
        std::copy(values, values + count, work.begin());
        return select_middle(work.data(), count);
    }
    std::vector<float> work(values, values + count);
    return select_middle(work.data(), count);
}
