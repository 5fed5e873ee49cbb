// The streaming reader and writer on arbitrary bytes. The first byte gives
// the rows per read (1 to 8); the rest is the file. An image that opens is
// read band by band and must give exactly the items that fits_read puts in
// a plane; then it is copied and rewritten as raw items to /dev/null.
#include <cstring>
#include <vector>

#include "fuzz_support.hpp"

namespace {

// Larger images are only opened and read in part: reading millions of
// missing items gives the fuzzer nothing new.
constexpr int64_t kMaxComparedBytes = 1 << 20;

void compare_with_plane(const char* path, const FitsHeader& header, const std::vector<uint8_t>& items) {
    FitsHeader read;
    if (fits_read(path, read, fuzz::plane()) != 0) fuzz::broken("fits_read refused an image that opened");
    if (read.naxis1 != header.naxis1 || read.naxis2 != header.naxis2 || read.bitpix != header.bitpix ||
        read.data_end != header.data_end)
        fuzz::broken("fits_read and fits_open_image describe the image differently");
    fits_free_header(read);
    std::vector<float> row(static_cast<size_t>(header.naxis1));
    const size_t row_bytes = row.size() * static_cast<size_t>(std::abs(header.bytes_per_pixel));
    for (int32_t y = 0; y < header.naxis2; ++y) {
        fits_items_to_floats(header.bytes_per_pixel, items.data() + y * row_bytes, row.data(), row.size());
        for (int32_t x = 0; x < header.naxis1; ++x)
            if (std::memcmp(&row[static_cast<size_t>(x)], &fuzz::plane()[x][y], sizeof(float)) != 0)
                fuzz::broken("a streamed item differs from the plane's value");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int64_t band_rows = 1 + data[0] % 8;
    fits_set_config(FitsConfig::quadsplit);  // fits_read then takes BITPIX -64 too
    const char* path = fuzz::file_holding(data + 1, size - 1);
    FitsHeader header;
    FitsInput input;
    if (fits_open_image(path, header, input) == 0) {
        const int64_t total = input.rows * input.row_bytes;
        const bool whole = total <= kMaxComparedBytes;
        std::vector<uint8_t> items(static_cast<size_t>(whole ? total : band_rows * input.row_bytes));
        int64_t rows = 0;
        for (int64_t got; rows < input.rows && (whole || rows == 0); rows += got) {
            got = fits_read_rows(input, items.data() + (whole ? rows * input.row_bytes : 0), band_rows);
            if (got < 1 || got > band_rows) fuzz::broken("a read gave no rows or too many");
        }
        if (whole && fits_read_rows(input, items.data(), 1) != 0) fuzz::broken("rows read past the image");
        if (whole) compare_with_plane(path, header, items);

        // Half the rows copied from a fresh input, the rest written from memory.
        FitsHeader reopened;
        FitsInput again;
        FitsOutput out;
        if (fits_open_image(path, reopened, again) != 0) fuzz::broken("an image opened only once");
        fits_create_image("/dev/null", reopened, out, FitsTail::keep);
        fits_copy_rows(again, out, rows / 2);
        fits_write_rows(out, items.data(), (rows - rows / 2) * input.row_bytes);
        if (fits_finish_image(out) != 0) fuzz::broken("an image that opened could not be written");
        fits_free_header(reopened);
    }
    fits_free_header(header);
    return 0;
}
