// fitspreview: writes a grey PPM picture of a FITS image, its pixel values
// stretched linearly onto the grey levels 0..255, for a quick look in any
// picture viewer.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli.hpp"
#include "fits.hpp"
#include "stretch.hpp"

namespace {

constexpr const char* USAGE =
    "Usage: fitspreview [-p LOW HIGH] image.fits picture.ppm\n"
    "\n"
    "Writes a grey PPM picture (P6) of a FITS image. Pixel values from the\n"
    "lower to the upper cut are mapped linearly onto grey levels 0..255; values\n"
    "outside are clipped and NaN is black. Image row 1 is at the bottom.\n"
    "\n"
    "  -p LOW HIGH   cut at these percentiles of the pixel values (0..100),\n"
    "                for example -p 0.5 99.5 so that a few hot pixels don't\n"
    "                flatten the picture; by default the cuts are the smallest\n"
    "                and the largest value\n"
    "  --help        this text\n"
    "  --version     the version\n"
    "\n"
    "Exit status 0, or 1 when the image cannot be read or the picture written.\n";

ImagePlane plane;

struct Options {
    bool percentiles = false;
    double low_percent = 0.0;
    double high_percent = 100.0;
    std::vector<std::string> files;
};

bool parse_percent(const char* text, double& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && errno == 0 && value >= 0.0 && value <= 100.0;
}

// Fills `options` from the command line, or prints what is wrong and gives
// false.
bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-p") != 0) {
            options.files.emplace_back(argv[i]);
            continue;
        }
        if (argc - 1 - i < 2 || !parse_percent(argv[i + 1], options.low_percent) ||
            !parse_percent(argv[i + 2], options.high_percent) ||
            !(options.low_percent < options.high_percent)) {
            std::puts("Error - -p needs two percentiles from 0 to 100, the lower first: -p 0.5 99.5");
            return false;
        }
        options.percentiles = true;
        i += 2;
    }
    if (options.files.size() != 2) {
        std::puts("Error - give one FITS image and one picture file: fitspreview [-p LOW HIGH] image.fits picture.ppm");
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (cli::answered_without_files(argc, argv, "fitspreview", USAGE, cli::PromptEnd::line_end)) return 0;
    Options options;
    if (!parse(argc, argv, options)) return 1;
    const std::string& image = options.files[0];
    const std::string& picture = options.files[1];

    FitsHeader header;
    if (fits_read(image.c_str(), header, plane) != 0) {
        std::puts("Error reading FITS file, program terminating.");
        fits_free_header(header);
        return 1;
    }
    const Stretch stretch =
        options.percentiles
            ? percentile_stretch(plane, header.naxis1, header.naxis2, options.low_percent, options.high_percent)
            : range_stretch(plane, header.naxis1, header.naxis2);
    apply_stretch(stretch, plane, header.naxis1, header.naxis2);
    const int result = fits_write_ppm(picture.c_str(), header, plane);
    // The cuts are told as the values the file stands for, BSCALE and BZERO
    // applied, as other FITS software shows them.
    if (result == 0)
        std::printf("%s: %d x %d pixels of %s, black at %.6g, white at %.6g\n", picture.c_str(), header.naxis1,
                    header.naxis2, image.c_str(), stretch.low * header.bscale + header.bzero,
                    stretch.high * header.bscale + header.bzero);
    fits_free_header(header);
    return result == 0 ? 0 : 1;
}
