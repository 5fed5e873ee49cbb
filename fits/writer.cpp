// fits_write and fits_rewrite: the header chain as it stands, then data
// blocks made from the plane, streamed out through a file replacement.
#include <algorithm>
#include <cstdio>

#include "data_layout.hpp"
#include "fits.hpp"
#include "pixel_codec.hpp"
#include "plane_io.hpp"

using namespace fits_internal;

namespace {

int write_image(const char* file_name, const FitsHeader& header, const ImagePlane& plane, FitsTail tail) {
    const ItemEncoding* enc = find_plane_encoding(header.bytes_per_pixel);
    if (header.blocks != nullptr) {
        const std::string refusal = data_refusal(header, enc);
        if (!refusal.empty()) {
            std::puts(refusal.c_str());
            return FITS_WRITE_FAILED;
        }
    }
    FitsOutput out;
    fits_create_image(file_name, header, out, tail);
    if (out.failure.empty()) {
        // The pixels that the data blocks have room for; npixels may ask for
        // fewer than the image holds, or for more (written zero).
        const int64_t image_pixels = static_cast<int64_t>(header.naxis1) * header.naxis2;
        const int64_t items = std::min(image_pixels, out.data_bytes / enc->item_size);
        write_plane(out, *enc, items, header.naxis1, plane);
    }
    return fits_finish_image(out);
}

}  // namespace

int fits_write(const char* file_name, const FitsHeader& header, const ImagePlane& plane) {
    return write_image(file_name, header, plane, FitsTail::none);
}

int fits_rewrite(const char* file_name, const FitsHeader& header, const ImagePlane& plane) {
    return write_image(file_name, header, plane, FitsTail::keep);
}
