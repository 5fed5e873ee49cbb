// The zscale cuts of fitspreview -z.
#pragma once

#include "cuts.hpp"
#include "picture_source.hpp"

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
