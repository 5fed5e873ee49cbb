// Moving pixels between the data blocks of a file and an image plane.
//
// The file holds the image row by row (x fastest) while the plane holds it
// column by column (y fastest). Both directions work on bands of a few rows:
// a band is converted in one pass per item type, then transposed so that
// each column of the plane receives one short contiguous run.
#pragma once

#include <cstdint>

#include "fits.hpp"
#include "pixel_codec.hpp"

namespace fits_internal {

struct DataLayout {
    const ItemEncoding* enc;  // item type of the data blocks
    int64_t blocks;           // number of 2880-byte data blocks in the file
    int64_t image_items;      // leading items that carry pixels; later items are zero
    int32_t naxis1;           // pixels per row
};

// Number of data blocks that npixels items of item_size bytes fill (0 for
// npixels <= 0).
int64_t data_block_count(int64_t npixels, int item_size);

struct ReadSummary {
    int64_t short_blocks;  // data blocks that came short or were missing
    float max;             // largest and smallest value stored, NaN ignored;
    float min;             // -inf / +inf when there were none
};

// Reads the data blocks that follow the header at the file's current offset
// into plane columns 0..naxis1-1, rows from 0. Positions the file does not
// supply are set to 0.
ReadSummary read_data(int fd, const DataLayout& layout, ImagePlane& plane);

// Writes the data blocks for the layout from the plane; false on a failed
// write.
bool write_data(int fd, const DataLayout& layout, const ImagePlane& plane);

}  // namespace fits_internal
