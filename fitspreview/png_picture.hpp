// fitspreview's PNG picture: 8-bit grey, through libpng.
#pragma once

#include <cstdint>

#include "fits.hpp"

// The failure line for a PNG that could not be made or written.
constexpr const char* PNG_WRITE_FAILED_LINE = "wf: Error writing PNG file";

// Writes the first `width` columns and `height` rows of a plane that holds
// grey levels (whole numbers 0..255, as apply_stretch leaves them) as an
// 8-bit grey PNG picture, image row 0 at the bottom as in the PPM picture.
// An existing file is replaced atomically. Returns 0, or -1 after the line
// "wf: Error opening file for writing" or PNG_WRITE_FAILED_LINE, with no
// file left behind.
int write_png(const char* file_name, const ImagePlane& plane, int32_t width, int32_t height);
