#include "data_path.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "plane_bands.hpp"
#include "posix_io.hpp"

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
// file operation at a time, so a single set of buffers serves every call.
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

int64_t data_block_count(int64_t npixels, int item_size) {
    if (npixels <= 0) return 0;
    return (npixels * item_size + FITS_BLOCK - 1) / FITS_BLOCK;
}

ReadSummary read_data(int fd, const DataLayout& layout, ImagePlane& plane) {
    const ItemEncoding& enc = *layout.enc;
    const int64_t width = layout.naxis1;
    const int64_t band_items = band_items_for(width);
    uint8_t* const bytes = band_bytes;
    float* const values = band_values;

    if (width > 0) {
        const int64_t rows = (layout.image_items + width - 1) / width;
        fits_prepare_plane(plane, layout.naxis1, static_cast<int32_t>(rows));
    }
    ReadSummary summary{0, -INFINITY, INFINITY};
    int64_t bytes_read = 0;
    bool ended = false;
    for (int64_t done = 0; done < layout.image_items; done += band_items) {
        const int64_t count = std::min(band_items, layout.image_items - done);
        const size_t want = static_cast<size_t>(count * enc.item_size);
        const size_t got = ended ? 0 : read_full(fd, bytes, want);
        bytes_read += static_cast<int64_t>(got);
        if (got < want) {  // an item that arrived only in part counts as missing
            ended = true;
            const size_t whole = got / static_cast<size_t>(enc.item_size) * static_cast<size_t>(enc.item_size);
            std::memset(bytes + whole, 0, want - whole);
        }
        for_each_row(count, width, [&](int64_t offset, int64_t row, int64_t n) {
            decode_items(enc, bytes + offset * enc.item_size, values + row, static_cast<size_t>(n));
        });
        scatter_band(values, count, width, done / width, plane, summary.max, summary.min);
    }

    // The last block is whole only if its bytes after the last item arrived too.
    const int64_t rest = layout.blocks * FITS_BLOCK - layout.image_items * enc.item_size;
    if (!ended && rest > 0) {
        uint8_t scratch[FITS_BLOCK];
        bytes_read += static_cast<int64_t>(read_full(fd, scratch, static_cast<size_t>(rest)));
    }
    summary.short_blocks = layout.blocks - bytes_read / FITS_BLOCK;
    return summary;
}

bool write_data(int fd, const DataLayout& layout, const ImagePlane& plane) {
    const ItemEncoding& enc = *layout.enc;
    const int64_t width = layout.naxis1;
    const int64_t band_items = band_items_for(width);
    uint8_t* const bytes = band_bytes;
    float* const values = band_values;

    for (int64_t done = 0; done < layout.image_items; done += band_items) {
        const int64_t count = std::min(band_items, layout.image_items - done);
        gather_band(plane, count, width, done / width, values);
        for_each_row(count, width, [&](int64_t offset, int64_t row, int64_t n) {
            encode_items(enc, values + row, bytes + offset * enc.item_size, static_cast<size_t>(n));
        });
        if (!write_full(fd, bytes, static_cast<size_t>(count * enc.item_size))) return false;
    }

    // Zero items fill the last block and any further blocks the count asks for.
    const int64_t chunk_limit = band_items * enc.item_size;
    std::memset(bytes, 0, static_cast<size_t>(chunk_limit));
    int64_t zeros = layout.blocks * FITS_BLOCK - layout.image_items * enc.item_size;
    while (zeros > 0) {
        const int64_t chunk = std::min(zeros, chunk_limit);
        if (!write_full(fd, bytes, static_cast<size_t>(chunk))) return false;
        zeros -= chunk;
    }
    return true;
}

}  // namespace fits_internal
