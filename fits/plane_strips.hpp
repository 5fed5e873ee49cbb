// Strips of image rows between a row-major buffer (as the file orders pixels,
// x fastest) and the column-major plane (y fastest). Both directions walk
// the strip in tiles of 4 rows by 4 columns, transposed in vector registers,
// so that each plane column receives one short contiguous run per strip.
#pragma once

#include <cstdint>

#include "fits.hpp"
#include "tuning.hpp"

namespace fits_internal {

// Row stride of a strip buffer for rows of `width` values.
inline int64_t strip_pitch(int64_t width) { return width + tuning::STRIP_ROW_PAD; }

// Stores a strip of `count` values, rows of `width` starting at image row y0
// (the last row may be partial), into the plane's columns. Row r of the strip
// starts at values[r * strip_pitch(width)]. On the way `max` is raised and
// `min` lowered to the extremes of the values stored; NaN changes neither.
void scatter_strip(const float* values, int64_t count, int64_t width, int64_t y0, ImagePlane& plane, float& max,
                  float& min);

// The reverse: fills the strip buffer `values` from the plane.
void gather_strip(const ImagePlane& plane, int64_t count, int64_t width, int64_t y0, float* values);

}  // namespace fits_internal
