// What differs between the two configurations of the library.
#pragma once

#include "fits.hpp"

namespace fits_internal {

// Lowest BITPIX the reader accepts; below it the file is not an image of ours.
long lowest_bitpix();

// Whether double-precision items (bytes_per_pixel -8) can be read and written.
bool double_items_enabled();

// The line printed for each data block that came short.
const char* short_block_line();

}  // namespace fits_internal
