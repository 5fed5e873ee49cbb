// fitsframe: writes a synthetic raw frame of the four-channel detector, for
// demonstrations and trials: image column x is read out by channel x mod 4,
// and each channel has its own bias level and read noise. On top lie a sky
// level with a gentle gradient, stars, a few hot columns, and one bad box of
// saturated pixels that only channel b shows. The frame is BITPIX 16 with
// BZERO 32768 (unsigned 16-bit values), and the same seed gives the same file.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "channels.hpp"
#include "cli.hpp"
#include "fits.hpp"

namespace {

constexpr const char* USAGE =
    "Usage: fitsframe [-s WIDTH HEIGHT] [--seed N] frame.fits\n"
    "\n"
    "Writes a synthetic raw frame of the four-channel detector (BITPIX 16,\n"
    "BZERO 32768): per-channel bias and noise, sky, stars, hot columns and a\n"
    "bad box in channel b. Prints the boxpatch limits that repair the box in\n"
    "the frame's channel b file.\n"
    "\n"
    "  -s WIDTH HEIGHT   frame size, 64 to 8192 each (default 2048 2048)\n"
    "  --seed N          random seed (default 1)\n";

constexpr double kBias[channels::COUNT] = {1010.0, 1042.0, 987.0, 1023.0};  // ADU
constexpr double kReadNoise[channels::COUNT] = {4.5, 6.0, 5.2, 4.8};         // ADU rms
constexpr double kSky = 350.0;
constexpr double kSaturated = 65535.0;
constexpr double kZero = 32768.0;  // BZERO: stored item = value - 32768
constexpr int kHotColumns = 3;
constexpr int kBadChannel = 1;  // channel b

ImagePlane plane;

struct Frame {
    int32_t width = 2048;
    int32_t height = 2048;
    uint32_t seed = 1;
    std::string file;
};

// The bad box in channel b's own columns and rows, counted from 1 as
// boxpatch takes them.
struct ChannelBox {
    int32_t x1, x2, y1, y2;
};

ChannelBox bad_box(const Frame& frame) {
    const int32_t channel_width = channels::columns_of(kBadChannel, frame.width);
    const int32_t x1 = channel_width * 3 / 10, y1 = frame.height * 6 / 10;
    return ChannelBox{x1, x1 + std::max(1, channel_width / 40), y1, y1 + std::max(1, frame.height / 25)};
}

bool parse(int argc, char** argv, Frame& frame) {
    auto number = [](const char* text, long low, long high, long& value) {
        char* end = nullptr;
        value = std::strtol(text, &end, 10);
        return end != text && *end == '\0' && value >= low && value <= high;
    };
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        long a = 0, b = 0;
        if (std::strcmp(argv[i], "-s") == 0) {
            if (i + 2 >= argc || !number(argv[i + 1], 64, MAX_AXIS, a) || !number(argv[i + 2], 64, MAX_AXIS, b)) {
                std::puts("Error - -s needs a width and a height from 64 to 8192");
                return false;
            }
            frame.width = static_cast<int32_t>(a);
            frame.height = static_cast<int32_t>(b);
            i += 2;
        } else if (std::strcmp(argv[i], "--seed") == 0) {
            if (i + 1 >= argc || !number(argv[i + 1], 0, UINT32_MAX, a)) {
                std::puts("Error - --seed needs a whole number from 0 to 4294967295");
                return false;
            }
            frame.seed = static_cast<uint32_t>(a);
            i += 1;
        } else {
            frame.file = argv[i];
            ++files;
        }
    }
    if (files != 1) {
        std::puts("Error - give one file name for the frame");
        return false;
    }
    return true;
}

void add_stars(const Frame& frame, std::mt19937& random) {
    std::uniform_real_distribution<double> along_x(0.0, frame.width), along_y(0.0, frame.height);
    std::exponential_distribution<double> brightness(1.0 / 4000.0);
    const double sigma = 1.8;  // seeing, in pixels
    const int stars = frame.width * frame.height / 40000 + 10;
    for (int s = 0; s < stars; ++s) {
        const double cx = along_x(random), cy = along_y(random);
        const double peak = 200.0 + brightness(random);
        const int32_t reach = 8;
        for (int32_t x = std::max<int32_t>(0, cx - reach); x < std::min<int32_t>(frame.width, cx + reach); ++x)
            for (int32_t y = std::max<int32_t>(0, cy - reach); y < std::min<int32_t>(frame.height, cy + reach); ++y) {
                const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                plane[x][y] += static_cast<float>(peak * std::exp(-r2 / (2 * sigma * sigma)));
            }
    }
}

void fill_frame(const Frame& frame, const ChannelBox& box) {
    std::mt19937 random(frame.seed);
    for (int32_t x = 0; x < frame.width; ++x)
        for (int32_t y = 0; y < frame.height; ++y)
            plane[x][y] = static_cast<float>(kSky * (1.0 + 0.15 * y / frame.height + 0.05 * x / frame.width));
    add_stars(frame, random);

    // Photon noise on the light, then each channel's bias and read noise.
    std::normal_distribution<double> unit(0.0, 1.0);
    for (int32_t x = 0; x < frame.width; ++x) {
        const int c = x % channels::COUNT;
        for (int32_t y = 0; y < frame.height; ++y) {
            const double light = plane[x][y];
            plane[x][y] = static_cast<float>(light + std::sqrt(light) * unit(random) + kBias[c] +
                                             kReadNoise[c] * unit(random));
        }
    }
    // Hot columns, kept away from the bad box and its neighbours.
    std::uniform_int_distribution<int32_t> column(0, frame.width - 1);
    for (int h = 0; h < kHotColumns; ++h) {
        int32_t x = column(random);
        if (x % channels::COUNT == kBadChannel) x = (x + 1) % frame.width;
        for (int32_t y = frame.height / 5; y < frame.height; ++y) plane[x][y] += 3000.0f;
    }
    for (int32_t k = box.x1 - 1; k < box.x2; ++k)
        for (int32_t y = box.y1 - 1; y < box.y2; ++y)
            plane[channels::image_column(kBadChannel, k)][y] = static_cast<float>(kSaturated);

    // Whole numbers in 0..65535, stored less BZERO.
    for (int32_t x = 0; x < frame.width; ++x)
        for (int32_t y = 0; y < frame.height; ++y)
            plane[x][y] = static_cast<float>(std::clamp(std::round(plane[x][y]), 0.0f, 65535.0f) - kZero);
}

bool write_frame(const Frame& frame) {
    FitsHeader header;
    header.bitpix = 16;
    header.naxis1 = static_cast<int16_t>(frame.width);
    header.naxis2 = static_cast<int16_t>(frame.height);
    header.npixels = static_cast<int64_t>(frame.width) * frame.height;
    header.bscale = 1.0;
    header.bzero = kZero;
    if (fits_make_header(header) == nullptr) return false;
    char seed[16];
    std::snprintf(seed, sizeof seed, "%u", frame.seed);
    fits_insert_card("OBJECT", "'synthetic frame'", "made by fitsframe", header);
    fits_insert_card("NAMPS", "4", "readout channels; column x is channel x mod 4", header);
    fits_insert_card("SEED", seed, "random seed of the frame", header);
    for (int c = 0; c < channels::COUNT; ++c) {
        char key[16], value[32], comment[48];
        std::snprintf(key, sizeof key, "BIAS%c", channels::LETTERS[c]);
        std::snprintf(value, sizeof value, "%.1f", kBias[c]);
        std::snprintf(comment, sizeof comment, "bias level of channel %c (ADU)", channels::LETTERS[c]);
        fits_insert_card(key, value, comment, header);
    }
    const int result = fits_write(frame.file.c_str(), header, plane);
    fits_free_header(header);
    return result == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (cli::answered_without_files(argc, argv, "fitsframe", USAGE, cli::PromptEnd::line_end)) return 0;
    Frame frame;
    if (!parse(argc, argv, frame)) return 1;
    const ChannelBox box = bad_box(frame);
    fill_frame(frame, box);
    if (!write_frame(frame)) return 1;
    std::printf("%s: %d x %d pixels, BITPIX 16, BZERO 32768, seed %u\n", frame.file.c_str(), frame.width,
                frame.height, frame.seed);
    std::printf("bad box in channel b, repaired by: boxpatch -b %d %d %d %d\n", box.x1, box.x2, box.y1, box.y2);
    return 0;
}
