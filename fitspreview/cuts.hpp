// fitspreview's cuts: which shown values (BSCALE and BZERO applied) become
// black and white.
#pragma once

#include "picture_source.hpp"

// Shown values at or below `black` become grey level 0, values at or above
// `white` level 255. A picture without any finite value gets the shown value
// of a raw 0 for both.
struct Cuts {
    double black = 0.0;
    double white = 0.0;
};

// The smallest and largest finite values, in one pass.
Cuts range_cuts(PictureSource& source);

// The values at the low and high percentiles (0..100) of the finite values,
// each interpolated linearly between the two nearest ranks of the sorted
// values (rank p / 100 * (n - 1)); exact, found by radix selection.
Cuts percentile_cuts(PictureSource& source, double low_percent, double high_percent);

// The zscale cuts of image viewers, with the defaults of astropy's
// ZScaleInterval. About 1000 finite pixels are sampled on a regular grid:
// every k-th finite pixel in file order (along the rows, row 1 first),
// k = max(1, floor(finite pixels / 1000)), at most 1000 of them; only their
// rows are read, after a pass counting the finite values of each row when
// the picture may hold values that are not finite. A line is fitted to the
// sorted sample against its rank by least squares over the values still
// kept, in up to 5 rounds; each round rejects the values farther from the
// line than 2.5 standard deviations of the kept values' distances, then
// widens every rejected run of ranks by a window of 1% of the sample (at
// least one value). The rounds stop early when a round kept as many values
// as the one before or fewer than the minimum are kept: half the sample,
// and at least 5.
// When at least that minimum is kept, with n values in the sample,
// c = floor((n - 1) / 2) and s the last fitted slope divided by the contrast
// 0.25, the cuts are median - (c - 1) * s and median + (n - c) * s, kept
// within the sample's smallest and largest value; otherwise they are those
// two values.
Cuts zscale_cuts(PictureSource& source);
