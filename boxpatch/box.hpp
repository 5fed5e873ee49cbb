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

// The columns of a row that patching reads: from the left neighbour of the
// box (or its first column, when it starts at column 1) to the right
// neighbour, counted from 1.
inline int32_t first_column_read(const BoxLimits& box) { return box.x1 > 1 ? box.x1 - 1 : 1; }
inline int32_t last_column_read(const BoxLimits& box) { return box.x2 + 1; }

// Replaces the pixels of one row inside a clamped box by values stepping
// from the pixel just left of the box (L) towards the pixel just right of it
// (R): column x1 + k - 1 gets k * ((R - L) / W) + L for the box width W, in
// the precision of T (float, or double for double items) with the product
// and the sum rounded separately. A box that starts at column 1 has no left
// neighbour and takes L equal to R. `columns` holds the row's columns
// first_column_read(box) to last_column_read(box); the image must be at
// least two columns wide.
template <typename T>
void interpolate_row(const BoxLimits& box, T* columns);
