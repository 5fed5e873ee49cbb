#include "plane_io.hpp"

#include <algorithm>
#include <cmath>

#include "plane_bands.hpp"

namespace fits_internal {

namespace {

// Rows converted per pass: enough that each plane column receives a run of
// 64 bytes, few enough that a band of the widest image stays in cache.
// Narrow images take more rows so that a band still holds a useful amount.
constexpr int64_t kBandRows = 16;
constexpr int64_t kMinBandItems = 4096;

// Items in one band: a whole number of rows, so every band starts a row.
int64_t band_items_for(int64_t width) {
    if (width <= 0) return kMinBandItems;
    return std::max(kBandRows, (kMinBandItems + width - 1) / width) * width;
}

// One band of the widest image, for either direction. The library does one
// plane operation at a time, so a single set of buffers serves every call.
constexpr int64_t kMaxBandItems = kBandRows * MAX_AXIS;
constexpr int kMaxItemSize = 8;
uint8_t band_bytes[kMaxBandItems * kMaxItemSize];
// Its rows lie band_pitch() apart; a band has at most kMinBandItems rows.
float band_values[kMaxBandItems + kMinBandItems * kBandPad];

// Calls each(offset, row_start, n) for the rows of a band of `count` items:
// the row's first item in the band and in the band buffer, and its length.
template <typename Each>
void for_each_row(int64_t count, int64_t width, Each each) {
    const int64_t pitch = band_pitch(width);
    for (int64_t offset = 0, row = 0; offset < count; offset += width, row += pitch)
        each(offset, row, std::min(width, count - offset));
}

}  // namespace

ReadSummary read_plane(FitsInput& input, const ItemEncoding& enc, int32_t naxis1, ImagePlane& plane) {
    const int64_t width = naxis1;
    const int64_t band_rows = band_items_for(width) / std::max<int64_t>(width, 1);
    ReadSummary summary{-INFINITY, INFINITY};
    for (int64_t y0 = 0; width > 0 && y0 < input.rows; y0 += band_rows) {
        const int64_t count = fits_read_rows(input, band_bytes, band_rows) * width;
        for_each_row(count, width, [&](int64_t offset, int64_t row, int64_t n) {
            decode_items(enc, band_bytes + offset * enc.item_size, band_values + row, static_cast<size_t>(n));
        });
        scatter_band(band_values, count, width, y0, plane, summary.max, summary.min);
    }
    return summary;
}

void write_plane(FitsOutput& out, const ItemEncoding& enc, int64_t items, int32_t naxis1, const ImagePlane& plane) {
    const int64_t width = naxis1;
    const int64_t band_items = band_items_for(width);
    for (int64_t done = 0; done < items && out.failure.empty(); done += band_items) {
        const int64_t count = std::min(band_items, items - done);
        gather_band(plane, count, width, done / width, band_values);
        for_each_row(count, width, [&](int64_t offset, int64_t row, int64_t n) {
            encode_items(enc, band_values + row, band_bytes + offset * enc.item_size, static_cast<size_t>(n));
        });
        fits_write_rows(out, band_bytes, count * enc.item_size);
    }
}

}  // namespace fits_internal
