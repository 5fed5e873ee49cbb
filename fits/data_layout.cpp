// The size of an image's data in the file, and the writer's refusal of a
// record whose data it cannot write.
#include "data_layout.hpp"

#include <cstdio>

#include "messages.hpp"

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
    std::snprintf(line, sizeof line, messages::CANNOT_ENCODE, header.bytes_per_pixel, header.naxis1, header.naxis2,
                  static_cast<long long>(header.npixels));
    return line;
}

}  // namespace fits_internal
