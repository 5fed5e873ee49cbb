// fitspreview: writes a grey PNG or PPM picture of a FITS image, its pixel
// values stretched linearly onto the grey levels 0..255, for a quick look in
// any picture viewer or browser. A region of the image, and two images side
// by side (before and after a repair, say), can be shown too.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "cli.hpp"
#include "fits.hpp"
#include "png_picture.hpp"
#include "stretch.hpp"

namespace {

constexpr const char* USAGE =
    "Usage: fitspreview [-p LOW HIGH | -z] [-r X1 X2 Y1 Y2] image.fits [after.fits] picture.png\n"
    "\n"
    "Writes a grey picture of a FITS image: 8-bit grey PNG when the picture's\n"
    "name ends in .png, binary PPM (P6) when it ends in .ppm (either in upper or\n"
    "lower case); other names are refused. Pixel values from the lower to the\n"
    "upper cut are mapped linearly onto grey levels 0..255; values outside are\n"
    "clipped and NaN is black. Image row 1 is at the bottom. The cuts are the\n"
    "smallest and largest value, unless -p or -z (one of them) is given.\n"
    "\n"
    "  -p LOW HIGH     cut at these percentiles of the pixel values (0..100),\n"
    "                  for example -p 0.5 99.5 so that a few hot pixels don't\n"
    "                  flatten the picture\n"
    "  -z              zscale cuts, as image viewers offer them (astropy's\n"
    "                  ZScaleInterval with its defaults): from a line fitted to\n"
    "                  about 1000 sampled pixels, contrast 0.25\n"
    "  -r X1 X2 Y1 Y2  only columns X1..X2 and rows Y1..Y2 (from 1, in either\n"
    "                  order, kept within the image)\n"
    "  after.fits      a second image of the same size, BSCALE and BZERO, shown\n"
    "                  to the right of the first (the same region of it), 4\n"
    "                  black columns between them; the cuts are taken from both\n"
    "  --help          this text\n"
    "  --version       the version\n"
    "\n"
    "Prints the picture's size and the cuts (BSCALE and BZERO applied). Exit\n"
    "status 0, or 1 when the arguments are wrong, an image cannot be read or the\n"
    "picture written; no picture is left behind then.\n";

constexpr const char* FILES_ERROR =
    "Error - give one or two FITS images and one picture file: "
    "fitspreview [-p LOW HIGH | -z] [-r X1 X2 Y1 Y2] image.fits [after.fits] picture.png";
constexpr int32_t kGap = 4;  // NaN (black) columns between two images side by side

ImagePlane plane;

enum class Cuts { range, percentiles, zscale };
enum class Format { png, ppm };

// Columns x1..x2 and rows y1..y2, counted from 1.
struct Region {
    int32_t x1 = 1, x2 = std::numeric_limits<int32_t>::max();
    int32_t y1 = 1, y2 = std::numeric_limits<int32_t>::max();
    int32_t width() const { return x2 - x1 + 1; }
    int32_t height() const { return y2 - y1 + 1; }
};

struct Options {
    Cuts cuts = Cuts::range;
    double low_percent = 0.0;
    double high_percent = 100.0;
    bool region_given = false;
    Region region;
    Format format = Format::png;
    std::vector<std::string> files;
};

bool parse_percent(const char* text, double& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && errno == 0 && value >= 0.0 && value <= 100.0;
}

bool parse_limit(const char* text, int32_t& value) {
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || number < std::numeric_limits<int32_t>::min() ||
        number > std::numeric_limits<int32_t>::max())
        return false;
    value = static_cast<int32_t>(number);
    return true;
}

bool ends_with(const std::string& name, const char* suffix) {
    const size_t n = std::strlen(suffix);
    if (name.size() < n) return false;
    return std::equal(name.end() - static_cast<std::ptrdiff_t>(n), name.end(), suffix, [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

// Fills `options` from the command line, or prints what is wrong and gives
// false.
bool parse(int argc, char** argv, Options& options) {
    bool cuts_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const int left = argc - 1 - i;
        if (arg == "-p" || arg == "-z") {
            if (cuts_given) {
                std::puts("Error - give one of -p LOW HIGH and -z, or neither for the smallest and largest value");
                return false;
            }
            cuts_given = true;
        }
        if (arg == "-z") {
            options.cuts = Cuts::zscale;
        } else if (arg == "-p") {
            if (left < 2 || !parse_percent(argv[i + 1], options.low_percent) ||
                !parse_percent(argv[i + 2], options.high_percent) || !(options.low_percent < options.high_percent)) {
                std::puts("Error - -p needs two percentiles from 0 to 100, the lower first: -p 0.5 99.5");
                return false;
            }
            options.cuts = Cuts::percentiles;
            i += 2;
        } else if (arg == "-r") {
            Region& r = options.region;
            if (left < 4 || !parse_limit(argv[i + 1], r.x1) || !parse_limit(argv[i + 2], r.x2) ||
                !parse_limit(argv[i + 3], r.y1) || !parse_limit(argv[i + 4], r.y2)) {
                std::puts("Error - -r needs four whole numbers, columns X1 to X2 and rows Y1 to Y2: -r 100 200 1 50");
                return false;
            }
            if (r.x1 > r.x2) std::swap(r.x1, r.x2);
            if (r.y1 > r.y2) std::swap(r.y1, r.y2);
            options.region_given = true;
            i += 4;
        } else {
            options.files.push_back(arg);
        }
    }
    if (options.files.size() != 2 && options.files.size() != 3) {
        std::puts(FILES_ERROR);
        return false;
    }
    const std::string& picture = options.files.back();
    if (ends_with(picture, ".png")) {
        options.format = Format::png;
    } else if (ends_with(picture, ".ppm")) {
        options.format = Format::ppm;
    } else {
        std::printf("Error - the picture's name must end in .png or .ppm: %s\n", picture.c_str());
        return false;
    }
    return true;
}

// Reads an image into the plane, or prints why not and gives false.
bool read_image(const std::string& name, FitsHeader& header) {
    if (fits_read(name.c_str(), header, plane) == 0) return true;
    std::puts("Error reading FITS file, program terminating.");
    return false;
}

// The region's columns, each with its rows, copied out of the plane.
std::vector<float> copy_region(const Region& r) {
    std::vector<float> pixels;
    pixels.reserve(static_cast<size_t>(r.width()) * static_cast<size_t>(r.height()));
    for (int32_t x = r.x1 - 1; x < r.x2; ++x) pixels.insert(pixels.end(), &plane[x][r.y1 - 1], &plane[x][r.y2]);
    return pixels;
}

// Puts pixels copied by copy_region into the plane from column `first` on,
// from row 0.
void place(const std::vector<float>& pixels, const Region& r, int32_t first) {
    const size_t height = static_cast<size_t>(r.height());
    for (int32_t x = 0; x < r.width(); ++x)
        std::copy_n(pixels.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(x) * height), height,
                    &plane[first + x][0]);
}

// The picture's image in the plane from column 0 and row 0: the region of
// the image read, beside it the same region of `after` when one is named.
// Sets `width` and `height`; prints what is wrong and gives false.
bool compose(const Options& options, const FitsHeader& header, Region& region, int32_t& width, int32_t& height) {
    region.x1 = std::max(region.x1, 1);
    region.y1 = std::max(region.y1, 1);
    region.x2 = std::min<int32_t>(region.x2, header.naxis1);
    region.y2 = std::min<int32_t>(region.y2, header.naxis2);
    if (region.x1 > region.x2 || region.y1 > region.y2) {
        std::printf("Error - the region lies outside the %d x %d image\n", header.naxis1, header.naxis2);
        return false;
    }
    width = region.width();
    height = region.height();
    if (options.files.size() == 2) {
        if (width != header.naxis1 || height != header.naxis2) place(copy_region(region), region, 0);
        return true;
    }
    width = 2 * region.width() + kGap;
    if (width > MAX_AXIS) {
        std::printf("Error - two regions %d columns wide do not fit side by side in %d columns\n", region.width(),
                    MAX_AXIS);
        return false;
    }
    const std::vector<float> before = copy_region(region);
    FitsHeader after;
    const bool read = read_image(options.files[1], after);
    fits_free_header(after);
    if (!read) return false;
    if (after.naxis1 != header.naxis1 || after.naxis2 != header.naxis2 || after.bscale != header.bscale ||
        after.bzero != header.bzero) {
        std::printf("Error - %s and %s differ in size, BSCALE or BZERO; side by side they need to be alike\n",
                    options.files[0].c_str(), options.files[1].c_str());
        return false;
    }
    const std::vector<float> after_pixels = copy_region(region);
    place(before, region, 0);
    for (int32_t x = region.width(); x < region.width() + kGap; ++x)
        std::fill_n(&plane[x][0], height, std::numeric_limits<float>::quiet_NaN());
    place(after_pixels, region, region.width() + kGap);
    return true;
}

// What the picture shows, for the line printed: the image names and the
// region when one was asked for.
std::string described(const Options& options, const Region& region) {
    std::string text = options.files[0];
    if (options.files.size() == 3) text += " and " + options.files[1] + " side by side";
    if (options.region_given)
        text += ", columns " + std::to_string(region.x1) + " to " + std::to_string(region.x2) + ", rows " +
                std::to_string(region.y1) + " to " + std::to_string(region.y2);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (cli::answered_without_files(argc, argv, "fitspreview", USAGE, cli::PromptEnd::line_end)) return 0;
    Options options;
    if (!parse(argc, argv, options)) return 1;
    const std::string& picture = options.files.back();

    FitsHeader header;
    Region region = options.region;
    int32_t width = 0, height = 0;
    if (!read_image(options.files[0], header) || !compose(options, header, region, width, height)) {
        fits_free_header(header);
        return 1;
    }
    Stretch stretch;
    switch (options.cuts) {
        case Cuts::range: stretch = range_stretch(plane, width, height); break;
        case Cuts::percentiles:
            stretch = percentile_stretch(plane, width, height, options.low_percent, options.high_percent);
            break;
        case Cuts::zscale: stretch = zscale_stretch(plane, width, height); break;
    }
    apply_stretch(stretch, plane, width, height);
    int result = 0;
    if (options.format == Format::png) {
        result = write_png(picture.c_str(), plane, width, height);
    } else {
        // The PPM writer takes the picture's size from the header.
        const int16_t naxis1 = header.naxis1, naxis2 = header.naxis2;
        header.naxis1 = static_cast<int16_t>(width);
        header.naxis2 = static_cast<int16_t>(height);
        result = fits_write_ppm(picture.c_str(), header, plane);
        header.naxis1 = naxis1;
        header.naxis2 = naxis2;
    }
    // The cuts are told as the values the file stands for, BSCALE and BZERO
    // applied, as other FITS software shows them.
    if (result == 0)
        std::printf("%s: %d x %d pixels of %s, black at %.6g, white at %.6g\n", picture.c_str(), width, height,
                    described(options, region).c_str(), stretch.low * header.bscale + header.bzero,
                    stretch.high * header.bscale + header.bzero);
    fits_free_header(header);
    return result == 0 ? 0 : 1;
}
