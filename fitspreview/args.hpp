// fitspreview's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture.hpp"
#include "tone.hpp"

constexpr const char* SYNOPSIS =
    "fitspreview [-p LOW HIGH | -z] [-r X1 X2 Y1 Y2] [-s N] [-f CURVE] image.fits [after.fits] picture.png";

enum class CutsKind { range, percentiles, zscale };
enum class Format { png, ppm };

struct Options {
    CutsKind cuts = CutsKind::range;
    double low_percent = 0.0;
    double high_percent = 100.0;
    bool region_given = false;
    Region region;
    int64_t shrink = 1;
    Curve curve = Curve::linear;
    Format format = Format::png;
    std::vector<std::string> files;  // the images, then the picture
};

// Fills `options` from the command line, or prints what is wrong and gives
// false.
bool parse_options(int argc, char** argv, Options& options);
