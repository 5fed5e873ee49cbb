// fitspreview's cuts: which shown values (BSCALE and BZERO applied) become
// black and white; the range and the percentiles (the zscale cuts are in
// zscale.hpp).
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
