#include "data_layout.hpp"

#include <cinttypes>
#include <cstdio>

namespace fits_internal {

int64_t data_block_count(int64_t npixels, int item_size) {
    if (npixels <= 0) return 0;
    return (npixels * item_size + FITS_BLOCK - 1) / FITS_BLOCK;
}

std::string data_refusal(const FitsHeader& header, const ItemEncoding* enc) {
    const bool axes_fit = header.naxis1 >= 0 && header.naxis1 <= MAX_AXIS && header.naxis2 >= 0 &&
                          header.naxis2 <= MAX_AXIS;
    const bool count_fits =
        enc == nullptr || header.npixels <= static_cast<int64_t>(INT32_MAX) * FITS_BLOCK / enc->item_size;
    if (enc != nullptr && axes_fit && count_fits) return "";
    char line[160];
    std::snprintf(line, sizeof line,
                  "wf: Error - cannot encode bytes_per_pixel %d, NAXIS1 %d, NAXIS2 %d, %" PRId64
                  " pixels; file not written",
                  header.bytes_per_pixel, header.naxis1, header.naxis2, header.npixels);
    return line;
}

}  // namespace fits_internal
