// Bands of image rows between a row-major buffer (as the file orders pixels,
// x fastest) and the column-major plane (y fastest). Both directions walk
// the band in tiles of 4 rows by 4 columns, transposed in vector registers,
// so that each plane column receives one short contiguous run per band.
#pragma once

#include <cstdint>

#include "fits.hpp"

namespace fits_internal {

// Row stride of a band buffer for rows of `width` values. Rows of a wide
// image 32 KiB apart would all fall into the same few cache sets, as the
// plane's columns do; one cache line of slack spreads them.
constexpr int64_t kBandPad = 16;
inline int64_t band_pitch(int64_t width) { return width + kBandPad; }

// Stores a band of `count` values, rows of `width` starting at image row y0
// (the last row may be partial), into the plane's columns. Row r of the band
// starts at values[r * band_pitch(width)]. On the way `max` is raised and
// `min` lowered to the extremes of the values stored; NaN changes neither.
void scatter_band(const float* values, int64_t count, int64_t width, int64_t y0, ImagePlane& plane, float& max,
                  float& min);

// The reverse: fills the band buffer `values` from the plane.
void gather_band(const ImagePlane& plane, int64_t count, int64_t width, int64_t y0, float* values);

}  // namespace fits_internal
