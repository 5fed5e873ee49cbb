// An image plane as one consumer of the streaming data path.
//
// The file holds the image row by row (x fastest) while the plane holds it
// column by column (y fastest). Both directions work on strips of a few
// rows: a strip is converted in one pass per item type, then transposed so
// that each column of the plane receives one short contiguous run.
#pragma once

#include <cstdint>

#include "fits.hpp"
#include "pixel_codec.hpp"

namespace fits_internal {

struct ReadSummary {
    float max;  // largest and smallest value stored, NaN ignored;
    float min;  // -inf / +inf when there were none
};

// Reads every row of the input into plane columns 0..naxis1-1.
ReadSummary read_plane(FitsInput& input, const ItemEncoding& enc, int32_t naxis1, ImagePlane& plane);

// Writes the first `items` pixels of the plane (rows of naxis1, the last
// one possibly partial) as items.
void write_plane(FitsOutput& out, const ItemEncoding& enc, int64_t items, int32_t naxis1, const ImagePlane& plane);

}  // namespace fits_internal
