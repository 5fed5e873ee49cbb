// The PNG writer of fitspreview: an 8-bit grey PNG, through libpng.
#pragma once

#include <cstdint>
#include <memory>

#include "picture_file.hpp"

// An 8-bit grey PNG, written row by row into the picture file.
std::unique_ptr<PictureWriter> png_writer(PictureFile& file, int64_t width, int64_t height);
