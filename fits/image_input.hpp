// Opening an image for its data, and the stream's row cursor that reading
// and copying rows share.
#pragma once

#include <cstdint>

#include "fits.hpp"

namespace fits_internal {

// How an image is opened: to read it, or to rewrite it under its lock.
enum class OpenFor { reading, rewriting };

// Opens an image as fits_open_image does, accepting BITPIX from
// lowest_bitpix on.
int open_image(const char* file_name, long lowest_bitpix, FitsHeader& header, FitsInput& input,
               OpenFor purpose = OpenFor::reading);

// The next rows of a stream, taken by a read or a copy: where they begin
// among the items, their bytes, and how many of those the file holds (the
// rest are missing and read as zero).
struct RowSpan {
    int64_t rows;
    int64_t start;
    int64_t bytes;
    int64_t held;
};

// Takes the next `rows` rows of the input (fewer at the end) and moves the
// cursor past them. At most `byte_limit` of their bytes count as held and
// as the span's bytes, for a copy into data blocks that have less room.
RowSpan take_rows(FitsInput& input, int64_t rows, int64_t byte_limit = INT64_MAX);

// Reads `bytes` item bytes from item byte `start` on into `items`; those the
// file does not hold (or no longer holds) read as zero.
void read_items(const FitsInput& input, int64_t start, int64_t bytes, uint8_t* items);

}  // namespace fits_internal
