// The box of boxpatch: limits counted from 1, columns along NAXIS1 and rows
// along NAXIS2.
#pragma once

#include <cstdint>

#include "fits.hpp"

struct BoxLimits {
    int32_t x1 = 0;
    int32_t x2 = 0;
    int32_t y1 = 0;
    int32_t y2 = 0;
};

// Clamps each limit to 1..N-1 for its axis of length N (1 when N is 1 or
// less), then orders each pair so that x1 <= x2 and y1 <= y2. The last
// column of the image thus always stays right of the box, and the last row
// of an image of several rows is never part of it.
void clamp_and_order(BoxLimits& box, int32_t naxis1, int32_t naxis2);

// Replaces every pixel of each row of a clamped box by values stepping from
// the pixel just left of the box (L) towards the pixel just right of it (R):
// column x1 + k - 1 gets k * ((R - L) / W) + L for the box width W, in single
// precision with the product and the sum rounded separately. A box that
// starts at column 1 has no left neighbour and takes L equal to R. The image
// must be at least two columns wide.
void interpolate_box(const BoxLimits& box, ImagePlane& plane);
