// The image plane read from and written to a stream, a strip of rows at a
// time.
#include "plane_io.hpp"

#include <algorithm>
#include <cmath>

#include "plane_strips.hpp"
#include "tuning.hpp"

namespace fits_internal {

namespace {

// Items in one strip: a whole number of rows, so every strip starts a row.
int64_t strip_items_for(int64_t width) {
    if (width <= 0) return tuning::STRIP_MIN_ITEMS;
    return std::max(tuning::STRIP_ROWS, (tuning::STRIP_MIN_ITEMS + width - 1) / width) * width;
}

// One strip of the widest image, for either direction. The library does one
// plane operation at a time, so a single set of buffers serves every call.
constexpr int64_t kMaxStripItems = tuning::STRIP_ROWS * MAX_AXIS;
constexpr int kMaxItemSize = 8;
uint8_t strip_bytes[kMaxStripItems * kMaxItemSize];
// Its rows lie strip_pitch() apart; a strip has at most STRIP_MIN_ITEMS rows.
float strip_values[kMaxStripItems + tuning::STRIP_MIN_ITEMS * tuning::STRIP_ROW_PAD];

// Calls each(offset, row_start, n) for the rows of a strip of `count` items:
// the row's first item in the strip and in the strip buffer, and its length.
template <typename Each>
void for_each_row(int64_t count, int64_t width, Each each) {
    const int64_t pitch = strip_pitch(width);
    for (int64_t offset = 0, row = 0; offset < count; offset += width, row += pitch)
        each(offset, row, std::min(width, count - offset));
}

}  // namespace

ReadSummary read_plane(FitsInput& input, const ItemEncoding& enc, int32_t naxis1, ImagePlane& plane) {
    const int64_t width = naxis1;
    const int64_t strip_rows = strip_items_for(width) / std::max<int64_t>(width, 1);
    ReadSummary summary{-INFINITY, INFINITY};
    for (int64_t y0 = 0; width > 0 && y0 < input.rows; y0 += strip_rows) {
        const int64_t count = fits_read_rows(input, strip_bytes, strip_rows) * width;
        for_each_row(count, width, [&](int64_t offset, int64_t row, int64_t n) {
            decode_items(enc, strip_bytes + offset * enc.item_size, strip_values + row, static_cast<size_t>(n));
        });
        scatter_strip(strip_values, count, width, y0, plane, summary.max, summary.min);
    }
    return summary;
}

void write_plane(FitsOutput& out, const ItemEncoding& enc, int64_t items, int32_t naxis1, const ImagePlane& plane) {
    const int64_t width = naxis1;
    const int64_t strip_items = strip_items_for(width);
    for (int64_t done = 0; done < items && out.failure.empty(); done += strip_items) {
        const int64_t count = std::min(strip_items, items - done);
        gather_strip(plane, count, width, done / width, strip_values);
        for_each_row(count, width, [&](int64_t offset, int64_t row, int64_t n) {
            encode_items(enc, strip_values + row, strip_bytes + offset * enc.item_size, static_cast<size_t>(n));
        });
        fits_write_rows(out, strip_bytes, count * enc.item_size);
    }
}

}  // namespace fits_internal
