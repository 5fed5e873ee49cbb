// The grey-level stretch of fitspreview: which pixel values become black and
// white, and the linear map between them.
#pragma once

#include <cstdint>

#include "fits.hpp"

// Pixel values at or below `low` become grey level 0, values at or above
// `high` level 255.
struct Stretch {
    double low = 0.0;
    double high = 0.0;
};

// The smallest and largest finite values among the first `width` columns and
// `height` rows of the plane. An image without any finite value gives 0..0.
Stretch range_stretch(const ImagePlane& plane, int32_t width, int32_t height);

// The values at the low and high percentiles (0..100) of the finite values,
// each interpolated linearly between the two nearest ranks of the sorted
// values (rank p / 100 * (n - 1)).
Stretch percentile_stretch(const ImagePlane& plane, int32_t width, int32_t height, double low_percent,
                           double high_percent);

// Replaces every pixel of the image by its grey level, a whole number
// 0..255: (value - low) / (high - low) * 255, rounded to nearest and clipped.
// NaN becomes 0. When high is not above low, values above low become 255 and
// the rest 0.
void apply_stretch(const Stretch& stretch, ImagePlane& plane, int32_t width, int32_t height);
