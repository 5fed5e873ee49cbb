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

template <typename T>
void interpolate_row(const BoxLimits& box, T* columns) {
    // columns[i] is column first + i; the box's columns follow the left
    // neighbour, and the right neighbour ends the row.
    const int32_t first = first_column_read(box);
    T* const patched = columns + (box.x1 - first);
    const T right = columns[box.x2 + 1 - first];
    if (box.x1 < 2) {  // no left neighbour: the row takes the right one's value
        std::fill(patched, patched + (box.x2 - box.x1 + 1), right);
        return;
    }
    const T left = columns[0];
    const T width = static_cast<T>(box.x2 - box.x1 + 1);
    const T step = (right - left) / width;
    for (int32_t x = box.x1; x <= box.x2; ++x) {
        const T offset = static_cast<T>(x - box.x1 + 1) * step;
        patched[x - box.x1] = offset + left;
    }
}

template void interpolate_row<float>(const BoxLimits& box, float* columns);
template void interpolate_row<double>(const BoxLimits& box, double* columns);
