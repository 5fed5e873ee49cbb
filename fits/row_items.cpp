// A few items of one row of an image, read without the rest of the row.
#include <cstring>

#include "data_layout.hpp"
#include "fits.hpp"
#include "posix_io.hpp"

using namespace fits_internal;

void fits_read_row_items(const FitsInput& input, int64_t row, int64_t first, int64_t count, uint8_t* items) {
    const int64_t bytes = count * input.item_size;
    const int64_t start = row * input.row_bytes + first * input.item_size;
    const int64_t held = within(bytes, input.present - start);
    const size_t got = pread_full(input.fd, items, static_cast<size_t>(held), input.data_offset + start);
    std::memset(items + got, 0, static_cast<size_t>(bytes) - got);  // missing items read as zero
}
