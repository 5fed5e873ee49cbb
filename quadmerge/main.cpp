// quadmerge: rebuilds FITS images from their four channel images. For each
// image named, the image and its channel images are opened, column k of
// channel c is put back at image column 4k + c, row by row as the items lie
// in the files, and the image is written over its file.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "channels.hpp"
#include "cli.hpp"
#include "fits.hpp"
#include "shared_lines.hpp"

namespace {

const std::string USAGE = std::string(
    "Usage: quadmerge image.fits [image.fits ...]\n"
    "\n"
    "Rebuilds each FITS image from its four channel images, as quadsplit writes\n"
    "them (image.a.fits to image.d.fits: the image name less its last five\n"
    "characters, then .a.fits to .d.fits). Column k of channel a becomes image\n"
    "column 4k, of channel b column 4k + 1, and so on. The image file is\n"
    "rewritten in place with its own header and BITPIX; pixels that no channel\n"
    "image holds keep the image's values. Channel items of the image's BITPIX\n"
    "are put back with the bytes they have; others are converted. Every\n"
    "argument is an image name.\n"
    "\n"
    "Another quadmerge or boxpatch rewriting the same image is waited for.\n"
    "\n"
    "Exit status 0, or 1 when a file cannot be read, an image name has fewer\n"
    "than five characters, an image or channel file is cut short (its data end\n"
    "before its last pixel; the image is left as it was), or an image cannot\n"
    "be written.\n") + cli::HELP_AND_VERSION_LINES;

// What became of one image named on the command line.
enum class Outcome {
    merged,      // rewritten from its channels
    not_merged,  // left as it was (a file cut short, or the new file not put in place):
                 // the run goes on and ends with status 1
    stop,        // a file cannot be read or the name is too short: the run ends now with status 1
};

// One channel image of the image being merged.
struct Channel {
    FitsImage file;
    int32_t columns = 0;     // its columns that have a place in the image
    int64_t rows = 0;        // its rows that the image has
    bool converted = false;  // its items are of another type than the image's
};

// One image and its channel images while it is merged. The image's file,
// and with it the lock on its name, is held until the merge goes, after the
// new file has been put in place.
struct Merge {
    FitsImage image;
    Channel channels[channels::COUNT];
};

// Band by band: the image's own rows, with what the channels hold put back
// in their columns, go to the new file.
void merge_rows(Merge& merge, FitsOutput& out) {
    FitsInput& image = merge.image.input;
    int64_t widest = image.row_bytes;
    for (const Channel& ch : merge.channels) widest = std::max(widest, ch.file.input.row_bytes);
    const int64_t band_rows = fits_band_rows(widest);
    std::vector<uint8_t> band(static_cast<size_t>(band_rows * image.row_bytes));
    std::vector<uint8_t> channel_band(static_cast<size_t>(band_rows * widest));
    std::vector<uint8_t> converted;
    std::vector<double> values;
    // When the channels hold every pixel, none of the image's own is kept
    // and its data need not be read.
    bool image_read = false;
    for (int c = 0; c < channels::COUNT; ++c)
        image_read |= merge.channels[c].columns < channels::columns_of(c, merge.image.header.naxis1) ||
                      merge.channels[c].rows < image.rows;
    for (int64_t y0 = 0, rows; y0 < image.rows; y0 += rows) {
        rows = image_read ? fits_read_rows(image, band.data(), band_rows) : std::min(band_rows, image.rows - y0);
        for (int c = 0; c < channels::COUNT; ++c) {
            Channel& ch = merge.channels[c];
            const int64_t supplied = fits_read_rows(ch.file.input, channel_band.data(), std::min(rows, ch.rows - y0));
            for (int64_t r = 0; r < supplied; ++r) {
                const uint8_t* items = channel_band.data() + r * ch.file.input.row_bytes;
                if (ch.converted) {
                    values.resize(static_cast<size_t>(ch.columns));
                    converted.resize(values.size() * static_cast<size_t>(image.item_size));
                    fits_items_to_doubles(ch.file.header.bytes_per_pixel, items, values.data(), values.size());
                    fits_doubles_to_items(merge.image.header.bytes_per_pixel, values.data(), converted.data(), values.size());
                    items = converted.data();
                }
                channels::merge_row(items, c, image.item_size, ch.columns, band.data() + r * image.row_bytes);
            }
        }
        fits_write_rows(out, band.data(), rows * image.row_bytes);
    }
}

// The name of the first of the image and its channel files (a to d) whose
// data end before their last pixel, or "" when all are whole.
std::string first_cut_short(const Merge& merge, const std::string& name) {
    if (fits_image_cut_short(merge.image.input)) return name;
    for (int c = 0; c < channels::COUNT; ++c)
        if (fits_image_cut_short(merge.channels[c].file.input)) return channels::file_name(name, c);
    return "";
}

// Opens, merges and writes back one image.
Outcome merge_image(const std::string& name) {
    Merge merge;
    if (fits_open_image_to_rewrite(name.c_str(), merge.image.header, merge.image.input) != FITS_OK) {
        std::puts(cli::READ_FAILED);
        return Outcome::stop;
    }
    std::printf("filename: %s, length=%i\n", name.c_str(), static_cast<int>(name.size()));
    if (!channels::name_usable(name)) return Outcome::stop;

    for (int c = 0; c < channels::COUNT; ++c) {
        Channel& ch = merge.channels[c];
        const std::string channel_name = channels::file_name(name, c);
        if (fits_open_image(channel_name.c_str(), ch.file.header, ch.file.input) != FITS_OK) {
            std::printf("Error reading FITS file: %s\n", channel_name.c_str());
            return Outcome::stop;
        }
        ch.columns = std::min<int32_t>(ch.file.header.naxis1, channels::columns_of(c, merge.image.header.naxis1));
        ch.rows = std::min(ch.file.header.naxis2, merge.image.header.naxis2);
        ch.converted = ch.file.header.bytes_per_pixel != merge.image.header.bytes_per_pixel;
    }
    // Pixels missing from any of the five files would be written as zero
    // and the damage hidden: the image is left as it is.
    const std::string cut_short = first_cut_short(merge, name);
    if (!cut_short.empty()) {
        cli::print_cut_short("quadmerge", cut_short, name + " not changed");
        return Outcome::not_merged;
    }
    FitsOutput out;
    fits_create_rewrite(name.c_str(), merge.image.header, merge.image.input, out, FitsRewrite::whole);
    merge_rows(merge, out);
    return fits_finish_image(out) == FITS_OK ? Outcome::merged : Outcome::not_merged;
}

}  // namespace

int main(int argc, char** argv) {
    if (cli::answered_without_files(argc, argv, "quadmerge", USAGE.c_str(), cli::PromptEnd::line_end)) return 0;

    std::string name = "NONE";
    bool some_not_merged = false;
    for (int i = 1; i < argc; ++i) {
        cli::scan_word(argv[i], name);  // an argument without a word leaves the previous name
        const Outcome outcome = merge_image(name);
        if (outcome == Outcome::stop) return 1;
        some_not_merged |= outcome == Outcome::not_merged;
    }
    return some_not_merged ? 1 : 0;
}
