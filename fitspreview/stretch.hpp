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

// The zscale cuts of image viewers, with the defaults of astropy's
// ZScaleInterval. About 1000 finite pixels are sampled on a regular grid:
// every k-th finite pixel in file order (along the rows, row 1 first),
// k = max(1, floor(finite pixels / 1000)), at most 1000 of them. A line is
// fitted to the sorted sample against its rank by least squares over the
// values still kept, in up to 5 rounds; each round rejects the values
// farther from the line than 2.5 standard deviations of the kept values'
// distances, then widens every rejected run of ranks by a window of 1% of
// the sample (at least one value). The rounds stop early when a round kept
// as many values as the one before or fewer than the minimum are kept: half
// the sample, and at least 5.
// When at least that minimum is kept, with n values in the sample,
// c = floor((n - 1) / 2) and s the last fitted slope divided by the contrast
// 0.25, the cuts are median - (c - 1) * s and median + (n - c) * s, kept
// within the sample's smallest and largest value; otherwise they are those
// two values. An image without any finite value gives 0..0.
Stretch zscale_stretch(const ImagePlane& plane, int32_t width, int32_t height);

// Replaces every pixel of the image by its grey level, a whole number
// 0..255: (value - low) / (high - low) * 255, rounded to nearest and clipped.
// NaN becomes 0. When high is not above low, values above low become 255 and
// the rest 0. The grey levels of both the PPM and the PNG picture are these.
void apply_stretch(const Stretch& stretch, ImagePlane& plane, int32_t width, int32_t height);
