// quadmerge: rebuilds FITS images from their four channel images. For each
// image named, the image is read (its header, size and pixels), column k of
// channel c is put back at image column 4k + c, and the image is written
// over its file.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "channels.hpp"
#include "cli.hpp"
#include "fits.hpp"

namespace {

constexpr const char* USAGE =
    "Usage: quadmerge image.fits [image.fits ...]\n"
    "\n"
    "Rebuilds each FITS image from its four channel images, as quadsplit writes\n"
    "them (image.a.fits to image.d.fits: the image name less its last five\n"
    "characters, then .a.fits to .d.fits). Column k of channel a becomes image\n"
    "column 4k, of channel b column 4k + 1, and so on. The image file is\n"
    "rewritten in place with its own header and BITPIX; pixels that no channel\n"
    "image holds keep the image's values. Every argument is an image name.\n"
    "\n"
    "Exit status 0, or 1 when a file cannot be read, an image name has fewer\n"
    "than five characters, or an image cannot be written.\n"
    "  --help      this text\n"
    "  --version   the version\n";

alignas(PLANE_ALIGNMENT) ImagePlane image_plane;    // the image as read, then merged
alignas(PLANE_ALIGNMENT) ImagePlane channel_plane;  // one channel image at a time

struct Run {
    FitsHeader image;
    FitsHeader channel;
    bool write_failed = false;
};

int fail(Run& run) {
    fits_free_header(run.image);
    fits_free_header(run.channel);
    return 1;
}

// Puts back what the channel image holds: its columns that have a place in
// the image, and its rows that the image has.
void merge_channel(int channel, const FitsHeader& image, const FitsHeader& channel_image) {
    const int32_t columns = std::min<int32_t>(channel_image.naxis1, channels::columns_of(channel, image.naxis1));
    const int32_t rows = std::min(channel_image.naxis2, image.naxis2);
    for (int32_t k = 0; k < columns; ++k)
        std::memcpy(image_plane[channels::image_column(channel, k)], channel_plane[k],
                    static_cast<size_t>(rows) * sizeof(float));
}

// Reads, merges and writes back one image. Returns -1 to go on, or the exit
// status.
int merge_image(Run& run, const std::string& name) {
    if (fits_read(name.c_str(), run.image, image_plane) != 0) {
        std::puts("Error reading FITS file, program terminating.");
        return fail(run);
    }
    std::printf("filename: %s, length=%i\n", name.c_str(), static_cast<int>(name.size()));
    if (!channels::name_usable(name)) return fail(run);

    for (int c = 0; c < channels::COUNT; ++c) {
        const std::string channel_name = channels::file_name(name, c);
        if (fits_read(channel_name.c_str(), run.channel, channel_plane) != 0) {
            std::printf("Error reading FITS file: %s\n", channel_name.c_str());
            return fail(run);
        }
        merge_channel(c, run.image, run.channel);
        fits_free_header(run.channel);
    }
    if (fits_rewrite(name.c_str(), run.image, image_plane) != 0) run.write_failed = true;
    fits_free_header(run.image);
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (cli::answered_without_files(argc, argv, "quadmerge", USAGE, cli::PromptEnd::line_end)) return 0;

    Run run;
    std::string name = "NONE";
    for (int i = 1; i < argc; ++i) {
        cli::scan_word(argv[i], name);  // an argument without a word leaves the previous name
        if (int status = merge_image(run, name); status >= 0) return status;
    }
    return run.write_failed ? 1 : 0;
}
