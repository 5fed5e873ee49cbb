// The streaming reader and writer on arbitrary bytes. The first byte gives
// the rows per read (1 to 8, more for an image of more than kMaxReads such
// bands); the rest is the file. An image that opens is read band by band,
// each band must hold exactly the items that fits_read put in the plane,
// and each is written on to /dev/null. An image of more than
// kMaxWholePixels is not compared: its first band is read and written, and
// the rest copied.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz_support.hpp"

namespace {

// Reads of one image at most. Each band read is also one write: a tall
// image in bands of one row took thousands of system calls for one input,
// and the writes were most of the target's time even at 256 bands.
constexpr int64_t kMaxReads = 32;

// The plane that fits_read fills, for an image that opened as `header`.
void read_into_plane(const char* path, const FitsHeader& header) {
    FitsHeader read;
    if (fits_read(path, read, fuzz::plane()) != FITS_OK) fuzz::broken("fits_read refused an image that opened");
    if (read.naxis1 != header.naxis1 || read.naxis2 != header.naxis2 || read.bitpix != header.bitpix ||
        read.data_end != header.data_end)
        fuzz::broken("fits_read and fits_open_image describe the image differently");
    fits_free_header(read);
}

int64_t read_band(FitsInput& input, std::vector<uint8_t>& band, int64_t band_rows) {
    const int64_t got = fits_read_rows(input, band.data(), band_rows);
    if (got < 1 || got > band_rows) fuzz::broken("a read gave no rows or too many");
    return got;
}

// Every row read in bands, compared with the plane and written to `out`.
void stream_whole(FitsInput& input, const FitsHeader& header, int64_t band_rows, FitsOutput& out) {
    const size_t width = static_cast<size_t>(header.naxis1);
    std::vector<uint8_t> band(static_cast<size_t>(band_rows * input.row_bytes));
    std::vector<float> streamed(width), plane_row(width);
    for (int64_t y = 0, got; y < input.rows; y += got) {
        got = read_band(input, band, band_rows);
        for (int64_t r = 0; r < got; ++r) {
            fits_items_to_floats(header.bytes_per_pixel, band.data() + r * input.row_bytes, streamed.data(), width);
            fuzz::plane_row(static_cast<int32_t>(y + r), width, plane_row.data());
            if (std::memcmp(streamed.data(), plane_row.data(), width * sizeof(float)) != 0)
                fuzz::broken("a streamed item differs from the plane's value");
        }
        fits_write_rows(out, band.data(), got * input.row_bytes);
    }
    if (fits_read_rows(input, band.data(), 1) != 0) fuzz::broken("rows read past the image");
}

// The first band read and written, the other rows copied.
void stream_large(FitsInput& input, int64_t band_rows, FitsOutput& out) {
    std::vector<uint8_t> band(static_cast<size_t>(band_rows * input.row_bytes));
    fits_write_rows(out, band.data(), read_band(input, band, band_rows) * input.row_bytes);
    fits_copy_rows(input, out, input.rows);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    fits_set_config(FitsConfig::quadsplit);  // fits_read then takes BITPIX -64 too
    const char* path = fuzz::file_holding(data + 1, size - 1);
    FitsHeader header;
    FitsInput input;
    if (fits_open_image(path, header, input) == FITS_OK) {
        const int64_t band_rows = std::max<int64_t>(1 + data[0] % 8, (input.rows + kMaxReads - 1) / kMaxReads);
        FitsOutput out;
        fits_create_image("/dev/null", header, out, FitsTail::keep);
        if (header.npixels <= fuzz::kMaxWholePixels) {
            read_into_plane(path, header);
            stream_whole(input, header, band_rows, out);
        } else {
            stream_large(input, band_rows, out);
        }
        if (fits_finish_image(out) != FITS_OK) fuzz::broken("an image that opened could not be written");
    }
    fits_free_header(header);
    return 0;
}
