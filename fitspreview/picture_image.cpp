// Opening an image for its picture, with BSCALE and BZERO read wherever
// they stand in its header.
#include "picture_image.hpp"

#include <cstdio>
#include <cstdlib>

bool open_picture_image(const std::string& name, PictureImage& image) {
    if (fits_open_image(name.c_str(), image.header, image.input) != FITS_OK) return false;
    char value[VALUE_BUF_LEN];
    image.scale = Scale{};
    if (fits_find_key(image.header.blocks, "BSCALE", value) >= 0) image.scale.bscale = std::strtod(value, nullptr);
    if (fits_find_key(image.header.blocks, "BZERO", value) >= 0) image.scale.bzero = std::strtod(value, nullptr);
    if (image.scale.bscale == 0.0) {
        std::puts("rf: File not in FITS format");
        return false;
    }
    return true;
}
