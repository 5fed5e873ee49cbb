// fits_read: an image opened as a stream, its data read into a plane.
#include <cstdint>

#include "config.hpp"
#include "fits.hpp"
#include "image_input.hpp"
#include "pixel_codec.hpp"
#include "plane_io.hpp"

using namespace fits_internal;

namespace {

// Starting values of the data range; any pixel value read replaces them.
constexpr int64_t DATAMAX_START = -4026531839LL;
constexpr int64_t DATAMIN_START = 4026531839LL;

// Value truncated toward zero, saturated to the 64-bit range.
int64_t truncate_to_int64(float v) {
    if (v >= 9.2233720e18f) return INT64_MAX;
    if (v <= -9.2233720e18f) return INT64_MIN;
    return static_cast<int64_t>(v);
}

}  // namespace

int fits_read(const char* file_name, FitsHeader& header, ImagePlane& plane) {
    FitsInput input;
    if (int rc = open_image(file_name, lowest_bitpix(), header, input)) return rc;
    header.datamax = DATAMAX_START;
    header.datamin = DATAMIN_START;
    const ReadSummary summary = read_plane(input, *find_encoding(header.bytes_per_pixel), header.naxis1, plane);

    // Applying the range rule to the extremes gives what applying it to
    // every value in turn would give.
    if (summary.max > static_cast<float>(header.datamax)) header.datamax = truncate_to_int64(summary.max);
    if (static_cast<float>(header.datamin) > summary.min) header.datamin = truncate_to_int64(summary.min);
    return FITS_OK;
}
