// fits_write_ppm: an image plane as a grey binary PPM picture ("P6"), with no
// scaling: each pixel's value cut toward zero to a 32-bit integer gives the
// grey level modulo 256. Image row 0 is the picture's bottom row.
#include <cstdint>
#include <cstdio>
#include <string>

#include "file_replacement.hpp"
#include "fits.hpp"
#include "messages.hpp"
#include "tuning.hpp"

using namespace fits_internal;

namespace {

constexpr size_t kBufferBytes = tuning::PPM_CHUNK;

// The pixel's integer part, taken as a 32-bit two's-complement integer, modulo
// 256. NaN and values beyond the 32-bit range give 0.
uint8_t grey_level(float value) {
    const double v = value;
    if (!(v > -2147483649.0 && v < 2147483648.0)) return 0;
    return static_cast<uint8_t>(static_cast<uint32_t>(static_cast<int32_t>(v)) & 0xFFu);
}

bool write_rows(int fd, const FitsHeader& header, const ImagePlane& plane) {
    static_assert(kBufferBytes >= 3 * MAX_AXIS, "a whole row must fit the buffer");
    unsigned char buffer[kBufferBytes];
    size_t used = 0;
    for (int32_t y = header.naxis2 - 1; y >= 0; --y) {
        if (used + 3 * static_cast<size_t>(header.naxis1) > sizeof buffer) {
            if (!write_full(fd, buffer, used)) return false;
            used = 0;
        }
        for (int32_t x = 0; x < header.naxis1; ++x) {
            const uint8_t grey = grey_level(plane[x][y]);
            buffer[used++] = grey;
            buffer[used++] = grey;
            buffer[used++] = grey;
        }
    }
    return write_full(fd, buffer, used);
}

}  // namespace

std::string fits_ppm_header(int64_t width, int64_t height) {
    return "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
}

int fits_write_ppm(const char* file_name, const FitsHeader& header, const ImagePlane& plane) {
    if (header.blocks == nullptr) {
        std::puts(messages::NO_HEADER_CHAIN);
        return FITS_WRITE_FAILED;
    }
    // Axis lengths of 0 or below give the text header alone; longer axes than
    // the plane holds would read past it.
    if (header.naxis1 > MAX_AXIS || header.naxis2 > MAX_AXIS) {
        std::printf(messages::PPM_TOO_LARGE, header.naxis1, header.naxis2);
        return FITS_WRITE_FAILED;
    }
    FileReplacement out;
    if (!out.open(file_name, false)) {
        std::puts(messages::CANNOT_OPEN);
        return FITS_WRITE_FAILED;
    }
    const std::string text_header = fits_ppm_header(header.naxis1, header.naxis2);
    bool ok = write_full(out.fd(), text_header.data(), text_header.size());
    if (ok && header.naxis1 > 0) ok = write_rows(out.fd(), header, plane);
    if (ok) ok = out.commit();
    if (!ok) {
        std::puts(messages::PPM_WRITE_FAILED);
        return FITS_WRITE_FAILED;
    }
    return FITS_OK;
}
