// fitspreview's command line read into its options: the numbers of -p, -r
// and -s read strictly, the tone curve, the images and the picture's format.
#include "args.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include "numbers.hpp"

namespace {

// The largest number -r and -s take: both are held in 32 bits.
constexpr int64_t kLargestWhole = std::numeric_limits<int32_t>::max();

bool parse_percent(const char* text, double& value) { return cli::real_number(text, 0.0, 100.0, value); }

// A limit of -r: any 32-bit number; the region is kept within the image later.
bool parse_limit(const char* text, int32_t& value) {
    int64_t number = 0;
    if (!cli::whole_number(text, std::numeric_limits<int32_t>::min(), kLargestWhole, number)) return false;
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

}  // namespace

bool parse_options(int argc, char** argv, Options& options) {
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
            options.cuts = CutsKind::zscale;
        } else if (arg == "-p") {
            if (left < 2 || !parse_percent(argv[i + 1], options.low_percent) ||
                !parse_percent(argv[i + 2], options.high_percent) || !(options.low_percent < options.high_percent)) {
                std::puts("Error - -p needs two percentiles from 0 to 100, the lower first: -p 0.5 99.5");
                return false;
            }
            options.cuts = CutsKind::percentiles;
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
        } else if (arg == "-s") {
            if (left < 1 || !cli::whole_number(argv[i + 1], 1, kLargestWhole, options.shrink)) {
                std::puts("Error - -s needs a whole number from 1 up, the image pixels along each side of a "
                          "picture pixel: -s 8");
                return false;
            }
            i += 1;
        } else if (arg == "-f") {
            if (left < 1 || !parse_curve(argv[i + 1], options.curve)) {
                std::puts("Error - -f needs a tone curve, linear, sqrt, log or asinh: -f asinh");
                return false;
            }
            i += 1;
        } else {
            options.files.push_back(arg);
        }
    }
    if (options.files.size() != 2 && options.files.size() != 3) {
        std::printf("Error - give one or two FITS images and one picture file: %s\n", SYNOPSIS);
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
