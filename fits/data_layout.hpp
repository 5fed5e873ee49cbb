// The size of an image's data in the file, and what the writer refuses.
#pragma once

#include <cstdint>
#include <string>

#include "fits.hpp"
#include "pixel_codec.hpp"

namespace fits_internal {

// What can be had of `want` when `available` is left: from 0 up to both.
inline int64_t within(int64_t want, int64_t available) {
    const int64_t least = want < available ? want : available;
    return least > 0 ? least : 0;
}

// Number of data blocks that npixels items of item_size bytes fill (0 for
// npixels <= 0).
int64_t data_block_count(int64_t npixels, int item_size);

// The writer's line refusing a record whose data it cannot write with `enc`
// (null: no item type), or empty when it can: the axes must lie in
// 0..MAX_AXIS, and npixels may ask for more blocks than the image fills
// (they are written zero), but no more than a 32-bit count can hold.
std::string data_refusal(const FitsHeader& header, const ItemEncoding* enc);

}  // namespace fits_internal
