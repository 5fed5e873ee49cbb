// fitspreview: writes a grey PNG or PPM picture of a FITS image, its values
// stretched onto the grey levels 0..255, for a quick look in any picture
// viewer or browser: whole, a region of it, shrunk to a thumbnail, or two
// images side by side (before and after a repair, say). The images are read
// as streams of rows and the picture is written row by row, so neither is
// ever held whole.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "args.hpp"
#include "cli.hpp"
#include "cuts.hpp"
#include "fits.hpp"
#include "picture.hpp"
#include "picture_file.hpp"
#include "picture_image.hpp"
#include "png_picture.hpp"
#include "shared_lines.hpp"
#include "tone.hpp"
#include "zscale.hpp"

namespace {

const std::string USAGE = std::string("Usage: ") + SYNOPSIS + "\n" +
    "\n"
    "Writes a grey picture of a FITS image: 8-bit grey PNG when the picture's\n"
    "name ends in .png, binary PPM (P6) when it ends in .ppm (either in upper or\n"
    "lower case); other names are refused. Values (BSCALE and BZERO applied)\n"
    "from the lower to the upper cut are mapped onto grey levels 0..255, through\n"
    "a tone curve; values outside are clipped and NaN is black. Image row 1 is at\n"
    "the bottom. The cuts are the smallest and largest value, unless -p or -z\n"
    "(one of them) is given.\n"
    "\n"
    "  -p LOW HIGH     cut at these percentiles of the pixel values (0..100),\n"
    "                  for example -p 0.5 99.5 so that a few hot pixels don't\n"
    "                  flatten the picture\n"
    "  -z              zscale cuts, as image viewers offer them (astropy's\n"
    "                  ZScaleInterval with its defaults): from a line fitted to\n"
    "                  about 1000 sampled pixels, contrast 0.25\n"
    "  -r X1 X2 Y1 Y2  only columns X1..X2 and rows Y1..Y2 (from 1, in either\n"
    "                  order, kept within the image)\n"
    "  -s N            a thumbnail: each picture pixel the mean of the finite\n"
    "                  values of N x N image pixels (partial blocks at the right\n"
    "                  and top edges); the cuts are taken from those means\n"
    "  -f CURVE        tone curve after the cuts, astropy's stretches: linear\n"
    "                  (default), sqrt, log (a = 1000) or asinh (a = 0.1)\n"
    "  after.fits      a second image of the same size, BSCALE and BZERO, shown\n"
    "                  to the right of the first (the same region of it), 4\n"
    "                  black columns between them; the cuts are taken from both\n"
    "  --help          this text\n"
    "  --version       the version\n"
    "\n"
    "Prints the picture's size and the cuts (BSCALE and BZERO applied). Exit\n"
    "status 0, or 1 when the arguments are wrong, an image cannot be read or the\n"
    "picture written; no picture is left behind then.\n";

bool open_image(const std::string& name, PictureImage& image) {
    if (open_picture_image(name, image)) return true;
    std::puts(cli::READ_FAILED);
    return false;
}

// The region kept within the image; false after a line when nothing is left.
bool clamp_region(Region& region, const FitsHeader& header) {
    region.x1 = std::max(region.x1, 1);
    region.y1 = std::max(region.y1, 1);
    region.x2 = std::min<int32_t>(region.x2, header.naxis1);
    region.y2 = std::min<int32_t>(region.y2, header.naxis2);
    if (region.x1 <= region.x2 && region.y1 <= region.y2) return true;
    std::printf("Error - the region lies outside the %d x %d image\n", header.naxis1, header.naxis2);
    return false;
}

bool alike(const std::vector<std::string>& files, const PictureImage& a, const PictureImage& b) {
    if (a.header.naxis1 == b.header.naxis1 && a.header.naxis2 == b.header.naxis2 &&
        a.scale.bscale == b.scale.bscale && a.scale.bzero == b.scale.bzero)
        return true;
    std::printf("Error - %s and %s differ in size, BSCALE or BZERO; side by side they need to be alike\n",
                files[0].c_str(), files[1].c_str());
    return false;
}

// What the picture shows, for the line printed: the image names, the region
// when one was asked for, the blocks of a thumbnail.
std::string described(const Options& options, const Region& region) {
    std::string text = options.files[0];
    if (options.files.size() == 3) text += " and " + options.files[1] + " side by side";
    if (options.region_given)
        text += ", columns " + std::to_string(region.x1) + " to " + std::to_string(region.x2) + ", rows " +
                std::to_string(region.y1) + " to " + std::to_string(region.y2);
    if (options.shrink > 1)
        text += ", each pixel the mean of " + std::to_string(options.shrink) + " x " + std::to_string(options.shrink);
    return text;
}

Cuts cuts_of(PictureSource& picture, const Options& options) {
    switch (options.cuts) {
        case CutsKind::percentiles: return percentile_cuts(picture, options.low_percent, options.high_percent);
        case CutsKind::zscale: return zscale_cuts(picture);
        case CutsKind::range: break;
    }
    return range_cuts(picture);
}

// Writes the picture row by row from the top. Returns FITS_OK, or
// FITS_WRITE_FAILED after the failure's line with no picture left behind.
int write_picture(PictureSource& picture, const GreyMap& grey, const Options& options) {
    PictureFile file(options.files.back());
    if (!file.created()) return file.finish("");
    const int64_t width = picture.width();
    std::unique_ptr<PictureWriter> writer = options.format == Format::png
                                                ? png_writer(file, width, picture.height())
                                                : ppm_writer(file, width, picture.height());
    std::vector<uint8_t> levels(static_cast<size_t>(width));
    picture.rows(0, picture.height(), true, 0, width, [&](int64_t, const double* values) {
        grey.levels(values, width, levels.data());
        writer->row(levels.data());
    });
    return writer->finish();
}

}  // namespace

int main(int argc, char** argv) {
    if (cli::answered_without_files(argc, argv, "fitspreview", USAGE.c_str(), cli::PromptEnd::line_end)) return 0;
    Options options;
    if (!parse_options(argc, argv, options)) return 1;

    PictureImage first, second;
    std::vector<PictureImage*> images = {&first};
    Region region = options.region;
    if (!open_image(options.files[0], first) || !clamp_region(region, first.header)) return 1;
    if (options.files.size() == 3) {
        if (!open_image(options.files[1], second) || !alike(options.files, first, second)) return 1;
        images.push_back(&second);
    }
    ImagePicture picture(images, region, options.shrink);
    const Cuts cuts = cuts_of(picture, options);
    if (write_picture(picture, GreyMap(cuts, options.curve, picture.scale()), options) != FITS_OK) return 1;
    std::printf("%s: %lld x %lld pixels of %s, black at %.6g, white at %.6g\n", options.files.back().c_str(),
                static_cast<long long>(picture.width()), static_cast<long long>(picture.height()),
                described(options, region).c_str(), cuts.black, cuts.white);
    return 0;
}
