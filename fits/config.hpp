// What differs between the two configurations of the library.
#pragma once

#include "fits.hpp"

namespace fits_internal {

// Lowest BITPIX of any item type (double items).
constexpr long MOST_NEGATIVE_BITPIX = -64;

// Lowest BITPIX that fits_read accepts in the current configuration; below
// it the file is not an image of ours.
long lowest_bitpix();

// Whether an image plane takes double-precision items (bytes_per_pixel -8).
bool double_items_enabled();

// The line printed for each data block that came short.
const char* short_block_line();

}  // namespace fits_internal
