#include "box.hpp"

#include <algorithm>
#include <utility>

namespace {
int32_t clamp_limit(int32_t limit, int32_t axis_length) {
    return std::max(1, std::min(limit, axis_length - 1));
}
}  // namespace

void clamp_and_order(BoxLimits& box, int32_t naxis1, int32_t naxis2) {
    box.x1 = clamp_limit(box.x1, naxis1);
    box.x2 = clamp_limit(box.x2, naxis1);
    box.y1 = clamp_limit(box.y1, naxis2);
    box.y2 = clamp_limit(box.y2, naxis2);
    if (box.x1 > box.x2) std::swap(box.x1, box.x2);
    if (box.y1 > box.y2) std::swap(box.y1, box.y2);
}

void interpolate_box(const BoxLimits& box, ImagePlane& plane) {
    // Column X (from 1) is plane column X - 1: the left neighbour x1 - 1 is
    // plane column x1 - 2 and the right neighbour x2 + 1 is plane column x2.
    // Rows are independent; the plane is walked column by column so that
    // every access runs along a contiguous column.
    const int32_t first_row = box.y1 - 1;
    const size_t rows = static_cast<size_t>(box.y2 - box.y1 + 1);
    const float* right = plane[box.x2] + first_row;
    if (box.x1 < 2) {  // no left neighbour: the row takes the right one's value
        for (int32_t x = box.x1; x <= box.x2; ++x) std::copy(right, right + rows, plane[x - 1] + first_row);
        return;
    }
    const float width = static_cast<float>(box.x2 - box.x1 + 1);
    const float* left_column = plane[box.x1 - 2] + first_row;
    float left[MAX_AXIS];
    float step[MAX_AXIS];
    for (size_t r = 0; r < rows; ++r) {
        left[r] = left_column[r];
        step[r] = (right[r] - left[r]) / width;
    }
    for (int32_t x = box.x1; x <= box.x2; ++x) {
        const float weight = static_cast<float>(x - box.x1 + 1);
        float* column = plane[x - 1] + first_row;
        for (size_t r = 0; r < rows; ++r) {
            const float offset = weight * step[r];
            column[r] = offset + left[r];
        }
    }
}
