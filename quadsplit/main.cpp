// quadsplit: writes the four channel images of a FITS image. Each holds
// every fourth column of the image (channel c: columns c, c + 4, ...), the
// image's header with NAXIS1 set to a quarter of its width, and a ZPREMPCH
// card giving the channel number 1 to 4. The items are dealt out row by row
// as they are in the file, to the four files side by side.
#include <cstdio>
#include <string>
#include <vector>

#include "channels.hpp"
#include "cli.hpp"
#include "fits.hpp"
#include "shared_lines.hpp"

namespace {

const std::string USAGE = std::string(
    "Usage: quadsplit image.fits\n"
    "\n"
    "Writes the four channel images of a FITS image read out through four\n"
    "interleaved channels: image.a.fits holds columns 0, 4, 8, ..., image.b.fits\n"
    "columns 1, 5, 9, ..., and so on to image.d.fits (columns counted from 0).\n"
    "The channel files are named after the image name less its last five\n"
    "characters. Each keeps every row and the image's header, with NAXIS1 a\n"
    "quarter of the width (the last width mod 4 columns are in no channel file)\n"
    "and a ZPREMPCH card holding the channel number 1 to 4. Each name is printed\n"
    "once its file is written. BITPIX 8, 16, 32, -32 and -64 are read, and every\n"
    "pixel is written with the bytes it had.\n"
    "\n"
    "Exit status 0, or 1 when the image cannot be read or is cut short (its data\n"
    "end before its last pixel), its name has fewer than five characters, or a\n"
    "channel file cannot be written. A file is on stable storage once its name\n"
    "is printed.\n") + cli::HELP_AND_VERSION_LINES;

constexpr const char* NAXIS1_COMMENT = "PIXELS ON 1ST MOST VARYING AXIS";
constexpr const char* CHANNEL_KEY = "ZPREMPCH";
constexpr const char* CHANNEL_COMMENT = "PREAMP CHANNEL NUMBER (1-4)";

// Reads the image band by band and deals each row out to the channel files.
void deal_out(FitsInput& input, int32_t channel_width, FitsOutput (&outputs)[channels::COUNT]) {
    const int64_t band_rows = fits_band_rows(input.row_bytes);
    const int64_t channel_row_bytes = static_cast<int64_t>(channel_width) * input.item_size;
    std::vector<uint8_t> band(static_cast<size_t>(band_rows * input.row_bytes));
    std::vector<uint8_t> channel_bands(static_cast<size_t>(channels::COUNT * band_rows * channel_row_bytes));
    for (int64_t rows; (rows = fits_read_rows(input, band.data(), band_rows)) > 0;) {
        for (int64_t r = 0; r < rows; ++r) {
            uint8_t* row_out[channels::COUNT];
            for (int c = 0; c < channels::COUNT; ++c)
                row_out[c] = channel_bands.data() + (c * band_rows + r) * channel_row_bytes;
            channels::split_row(band.data() + r * input.row_bytes, input.item_size, channel_width, row_out);
        }
        for (int c = 0; c < channels::COUNT; ++c)
            fits_write_rows(outputs[c], channel_bands.data() + c * band_rows * channel_row_bytes,
                            rows * channel_row_bytes);
    }
}

}  // namespace

int main(int argc, char** argv) {
    fits_set_config(FitsConfig::quadsplit);
    if (cli::answered_without_files(argc, argv, "quadsplit", USAGE.c_str(), cli::PromptEnd::none)) return 0;

    std::string name = "NONE";
    cli::scan_word(argv[1], name);  // an argument without a word leaves "NONE"

    FitsImage image;
    FitsHeader& header = image.header;
    FitsInput& input = image.input;
    if (fits_open_image(name.c_str(), header, input) != FITS_OK) {
        std::puts(cli::READ_FAILED);
        return 1;
    }
    if (!channels::name_usable(name)) return 1;

    const int32_t channel_width = header.naxis1 / channels::COUNT;
    header.naxis1 = static_cast<int16_t>(channel_width);
    header.npixels = static_cast<int64_t>(channel_width) * header.naxis2;

    if (fits_image_cut_short(input)) {
        cli::print_cut_short("quadsplit", name, "no channel file written");
        return 1;
    }
    fits_set_card("NAXIS1", std::to_string(channel_width).c_str(), NAXIS1_COMMENT, header);
    fits_insert_card(CHANNEL_KEY, "1", CHANNEL_COMMENT, header);

    // Each file's header goes out as its write starts; only ZPREMPCH differs.
    FitsOutput outputs[channels::COUNT];
    for (int c = 0; c < channels::COUNT; ++c) {
        if (c > 0) fits_set_card(CHANNEL_KEY, std::to_string(c + 1).c_str(), CHANNEL_COMMENT, header);
        fits_create_image(channels::file_name(name, c).c_str(), header, outputs[c], FitsTail::none);
    }
    if (channel_width > 0) deal_out(input, channel_width, outputs);

    // Each name is printed once its file is on stable storage.
    fits_finish_images(outputs, channels::COUNT);
    bool write_failed = false;
    for (int c = 0; c < channels::COUNT; ++c) {
        if (fits_report_image(outputs[c]) != FITS_OK) write_failed = true;
        std::puts(channels::file_name(name, c).c_str());
    }
    return write_failed ? 1 : 0;
}
