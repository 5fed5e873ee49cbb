// A few items of one row of an image, read without the rest of the row.
#include "fits.hpp"
#include "image_input.hpp"

using namespace fits_internal;

void fits_read_row_items(const FitsInput& input, int64_t row, int64_t first, int64_t count, uint8_t* items) {
    read_items(input, row * input.row_bytes + first * input.item_size, count * input.item_size, items);
}
