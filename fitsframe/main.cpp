// fitsframe: writes a synthetic raw frame of the four-channel detector, for
// demonstrations and trials: image column x is read out by channel x mod 4,
// and each channel has its own bias level and read noise. On top lie a sky
// level with a gentle gradient, stars, a few hot columns, and one bad box of
// saturated pixels that only channel b shows. The frame is BITPIX 16 with
// BZERO 32768 (unsigned 16-bit values), and the same seed gives the same
// file. It is generated and written band by band of rows.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "channels.hpp"
#include "cli.hpp"
#include "fits.hpp"
#include "frame.hpp"
#include "numbers.hpp"

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

constexpr int kItemBytes = 2;               // BITPIX 16
constexpr int64_t kSmallestSide = 64;       // of -s WIDTH HEIGHT; the largest is MAX_AXIS
constexpr int64_t kBandValues = 1 << 19;    // values generated at a time (2 MiB of floats)

bool parse(int argc, char** argv, FrameSpec& frame, std::string& file) {
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        int64_t a = 0, b = 0;
        if (std::strcmp(argv[i], "-s") == 0) {
            if (i + 2 >= argc || !cli::whole_number(argv[i + 1], kSmallestSide, MAX_AXIS, a) ||
                !cli::whole_number(argv[i + 2], kSmallestSide, MAX_AXIS, b)) {
                std::puts("Error - -s needs a width and a height from 64 to 8192");
                return false;
            }
            frame.width = static_cast<int32_t>(a);
            frame.height = static_cast<int32_t>(b);
            i += 2;
        } else if (std::strcmp(argv[i], "--seed") == 0) {
            if (i + 1 >= argc || !cli::whole_number(argv[i + 1], 0, UINT32_MAX, a)) {
                std::puts("Error - --seed needs a whole number from 0 to 4294967295");
                return false;
            }
            frame.seed = static_cast<uint32_t>(a);
            i += 1;
        } else {
            file = argv[i];
            ++files;
        }
    }
    if (files != 1) {
        std::puts("Error - give one file name for the frame");
        return false;
    }
    return true;
}

// The frame's header: the standard cards, BSCALE and BZERO with an
// upper-case exponent as the FITS standard asks, and what the frame is.
bool make_header(const FrameSpec& frame, FitsHeader& header) {
    header.bitpix = 16;
    header.naxis1 = static_cast<int16_t>(frame.width);
    header.naxis2 = static_cast<int16_t>(frame.height);
    header.npixels = static_cast<int64_t>(frame.width) * frame.height;
    header.bscale = 1.0;
    header.bzero = 32768.0;
    if (fits_make_header(header) == nullptr) return false;
    fits_set_card("BSCALE", "1.000000000000E+00", "VALUE= DATA*BSCALE+BZERO", header);
    fits_set_card("BZERO", "3.276800000000E+04", " ", header);
    char seed[16];
    std::snprintf(seed, sizeof seed, "%u", frame.seed);
    fits_insert_card("OBJECT", "'synthetic frame'", "made by fitsframe", header);
    fits_insert_card("NAMPS", "4", "readout channels; column x is channel x mod 4", header);
    fits_insert_card("SEED", seed, "random seed of the frame", header);
    for (int c = 0; c < channels::COUNT; ++c) {
        const char letter = channels::LETTERS[c];
        char key[16], value[32], comment[48];
        std::snprintf(key, sizeof key, "BIAS%c", letter - 'a' + 'A');
        std::snprintf(value, sizeof value, "%.1f", channel_bias(c));
        std::snprintf(comment, sizeof comment, "bias level of channel %c (ADU)", letter);
        fits_insert_card(key, value, comment, header);
    }
    return true;
}

// Generates the frame band by band and writes each band as it comes.
bool write_frame(const FrameSpec& frame, const std::string& file) {
    FitsHeader header;
    if (!make_header(frame, header)) return false;
    FitsOutput out;
    fits_create_image(file.c_str(), header, out, FitsTail::none);
    fits_free_header(header);
    if (!out.failure.empty()) return fits_finish_image(out) == FITS_OK;  // no frame is made for a file that cannot be

    FrameGenerator generator(frame);
    const int32_t band_rows = static_cast<int32_t>(std::max<int64_t>(1, kBandValues / frame.width));
    std::vector<float> columns, row(static_cast<size_t>(frame.width));
    std::vector<uint8_t> items;
    for (int32_t first = 0; first < frame.height && out.failure.empty(); first += band_rows) {
        const int32_t count = std::min(band_rows, frame.height - first);
        generator.band(first, count, columns);
        items.resize(static_cast<size_t>(count) * frame.width * kItemBytes);
        for (int32_t y = 0; y < count; ++y) {
            for (int32_t x = 0; x < frame.width; ++x)
                row[static_cast<size_t>(x)] = columns[static_cast<size_t>(x) * count + y];
            fits_floats_to_items(kItemBytes, row.data(), &items[static_cast<size_t>(y) * frame.width * kItemBytes],
                                 row.size());
        }
        fits_write_rows(out, items.data(), static_cast<int64_t>(items.size()));
    }
    return fits_finish_image(out) == FITS_OK;
}

}  // namespace

int main(int argc, char** argv) {
    if (cli::answered_without_files(argc, argv, "fitsframe", USAGE, cli::PromptEnd::line_end)) return 0;
    FrameSpec frame;
    std::string file;
    if (!parse(argc, argv, frame, file)) return 1;
    if (!write_frame(frame, file)) return 1;
    const ChannelBox box = bad_box(frame);
    std::printf("%s: %d x %d pixels, BITPIX 16, BZERO 32768, seed %u\n", file.c_str(), frame.width, frame.height,
                frame.seed);
    std::printf("bad box in channel b, repaired by: boxpatch -b %d %d %d %d\n", box.x1, box.x2, box.y1, box.y2);
    return 0;
}
