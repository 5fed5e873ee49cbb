// quadsplit: writes the four channel images of a FITS image. Each holds
// every fourth column of the image (channel c: columns c, c + 4, ...), the
// image's header with NAXIS1 set to a quarter of its width, and a ZPREMPCH
// card giving the channel number 1 to 4.
#include <cstdio>
#include <cstring>
#include <string>

#include "channels.hpp"
#include "cli.hpp"
#include "fits.hpp"

namespace {

constexpr const char* USAGE =
    "Usage: quadsplit image.fits\n"
    "\n"
    "Writes the four channel images of a FITS image read out through four\n"
    "interleaved channels: image.a.fits holds columns 0, 4, 8, ..., image.b.fits\n"
    "columns 1, 5, 9, ..., and so on to image.d.fits (columns counted from 0).\n"
    "The channel files are named after the image name less its last five\n"
    "characters. Each keeps every row and the image's header, with NAXIS1 a\n"
    "quarter of the width (the last width mod 4 columns are in no channel file)\n"
    "and a ZPREMPCH card holding the channel number 1 to 4. Each name is printed\n"
    "once its file is written. BITPIX 8, 16, 32, -32 and -64 are read.\n"
    "\n"
    "Exit status 0, or 1 when the image cannot be read, its name has fewer than\n"
    "five characters, or a channel file cannot be written.\n"
    "  --help      this text\n"
    "  --version   the version\n";

constexpr const char* NAXIS1_COMMENT = "PIXELS ON 1ST MOST VARYING AXIS";
constexpr const char* CHANNEL_KEY = "ZPREMPCH";
constexpr const char* CHANNEL_COMMENT = "PREAMP CHANNEL NUMBER (1-4)";

alignas(PLANE_ALIGNMENT) ImagePlane input_plane;    // the image as read
alignas(PLANE_ALIGNMENT) ImagePlane channel_plane;  // one channel at a time, columns 0..width/4-1

int fail(FitsHeader& header, const char* line) {
    if (line != nullptr) std::puts(line);
    fits_free_header(header);
    return 1;
}

// Copies the channel's first `count` columns, each one contiguous run of
// `height` values, into the channel plane.
void gather(int channel, int32_t count, int32_t height) {
    for (int32_t k = 0; k < count; ++k)
        std::memcpy(channel_plane[k], input_plane[channels::image_column(channel, k)],
                    static_cast<size_t>(height) * sizeof(float));
}

}  // namespace

int main(int argc, char** argv) {
    fits_set_config(FitsConfig::quadsplit);
    if (cli::answered_without_files(argc, argv, "quadsplit", USAGE, cli::PromptEnd::none)) return 0;

    std::string name = "NONE";
    cli::scan_word(argv[1], name);  // an argument without a word leaves "NONE"

    FitsHeader header;
    if (fits_read(name.c_str(), header, input_plane) != 0)
        return fail(header, "Error reading FITS file, program terminating.");
    if (!channels::name_usable(name)) return fail(header, nullptr);

    const int32_t width = header.naxis1;
    const int32_t height = header.naxis2;
    const int32_t channel_width = width / channels::COUNT;
    header.naxis1 = static_cast<int16_t>(channel_width);
    header.npixels = static_cast<int64_t>(channel_width) * height;

    char value[VALUE_BUF_LEN];
    if (fits_find_key_n(header.blocks, "NAXIS1", value, VALUE_BUF_LEN) < 1)
        return fail(header, "quadsplit: error, NAXIS keyword not found");
    fits_set_card("NAXIS1", std::to_string(channel_width).c_str(), NAXIS1_COMMENT, header);
    fits_insert_card(CHANNEL_KEY, "1", CHANNEL_COMMENT, header);

    fits_prepare_plane(channel_plane, channel_width, header.naxis2);
    bool write_failed = false;
    for (int c = 0; c < channels::COUNT; ++c) {
        if (c > 0) fits_set_card(CHANNEL_KEY, std::to_string(c + 1).c_str(), CHANNEL_COMMENT, header);
        gather(c, channel_width, height);
        const std::string channel_name = channels::file_name(name, c);
        if (fits_write(channel_name.c_str(), header, channel_plane) != 0) write_failed = true;
        std::puts(channel_name.c_str());
    }
    fits_free_header(header);
    return write_failed ? 1 : 0;
}
