// One image opened for its picture: the header, the stream of its rows and
// the scale of its values.
#pragma once

#include <string>

#include "fits.hpp"
#include "picture_source.hpp"

struct PictureImage : FitsImage {
    // BSCALE and BZERO wherever they stand in the header, not only in its
    // first block (where the library's record takes them from).
    Scale scale;
};

// Opens an image; false after the reader's line when it cannot be read (a
// BSCALE of 0 in a later block is refused as the reader refuses one in the
// first).
bool open_picture_image(const std::string& name, PictureImage& image);
