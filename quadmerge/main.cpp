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
#include "messages.hpp"

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

struct Channel {
    FitsHeader header;
    FitsInput input;
    int32_t columns = 0;     // its columns that have a place in the image
    int64_t rows = 0;        // its rows that the image has
    bool converted = false;  // its items are of another type than the image's
};

struct Run {
    FitsHeader image;
    FitsInput image_input;
    Channel channels[channels::COUNT];
    bool write_failed = false;
};

void release(Run& run) {
    fits_free_header(run.image);
    fits_close_image(run.image_input);
    for (Channel& ch : run.channels) {
        fits_free_header(ch.header);
        fits_close_image(ch.input);
    }
}

int fail(Run& run) {
    release(run);
    return 1;
}

// Band by band: the image's own rows, with what the channels hold put back
// in their columns, go to the new file.
void merge_rows(Run& run, FitsOutput& out) {
    FitsInput& image = run.image_input;
    int64_t widest = image.row_bytes;
    for (const Channel& ch : run.channels) widest = std::max(widest, ch.input.row_bytes);
    const int64_t band_rows = fits_band_rows(widest);
    std::vector<uint8_t> band(static_cast<size_t>(band_rows * image.row_bytes));
    std::vector<uint8_t> channel_band(static_cast<size_t>(band_rows * widest));
    std::vector<uint8_t> converted;
    std::vector<double> values;
    // When the channels hold every pixel, none of the image's own is kept
    // and its data need not be read.
    bool image_read = false;
    for (int c = 0; c < channels::COUNT; ++c)
        image_read |= run.channels[c].columns < channels::columns_of(c, run.image.naxis1) ||
                      run.channels[c].rows < image.rows;
    for (int64_t y0 = 0, rows; y0 < image.rows; y0 += rows) {
        rows = image_read ? fits_read_rows(image, band.data(), band_rows) : std::min(band_rows, image.rows - y0);
        for (int c = 0; c < channels::COUNT; ++c) {
            Channel& ch = run.channels[c];
            const int64_t supplied = fits_read_rows(ch.input, channel_band.data(), std::min(rows, ch.rows - y0));
            for (int64_t r = 0; r < supplied; ++r) {
                const uint8_t* items = channel_band.data() + r * ch.input.row_bytes;
                if (ch.converted) {
                    values.resize(static_cast<size_t>(ch.columns));
                    converted.resize(values.size() * static_cast<size_t>(image.item_size));
                    fits_items_to_doubles(ch.header.bytes_per_pixel, items, values.data(), values.size());
                    fits_doubles_to_items(run.image.bytes_per_pixel, values.data(), converted.data(), values.size());
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
std::string first_cut_short(const Run& run, const std::string& name) {
    if (fits_image_cut_short(run.image_input)) return name;
    for (int c = 0; c < channels::COUNT; ++c)
        if (fits_image_cut_short(run.channels[c].input)) return channels::file_name(name, c);
    return "";
}

// Opens, merges and writes back one image. Returns -1 to go on, or the exit
// status.
int merge_image(Run& run, const std::string& name) {
    if (fits_open_image_to_rewrite(name.c_str(), run.image, run.image_input) != 0) {
        std::puts(cli::READ_FAILED);
        return fail(run);
    }
    std::printf("filename: %s, length=%i\n", name.c_str(), static_cast<int>(name.size()));
    if (!channels::name_usable(name)) return fail(run);

    for (int c = 0; c < channels::COUNT; ++c) {
        Channel& ch = run.channels[c];
        const std::string channel_name = channels::file_name(name, c);
        if (fits_open_image(channel_name.c_str(), ch.header, ch.input) != 0) {
            std::printf("Error reading FITS file: %s\n", channel_name.c_str());
            return fail(run);
        }
        ch.columns = std::min<int32_t>(ch.header.naxis1, channels::columns_of(c, run.image.naxis1));
        ch.rows = std::min(ch.header.naxis2, run.image.naxis2);
        ch.converted = ch.header.bytes_per_pixel != run.image.bytes_per_pixel;
    }
    // Pixels missing from any of the five files would be written as zero
    // and the damage hidden: the image is left as it is.
    const std::string cut_short = first_cut_short(run, name);
    if (!cut_short.empty()) {
        cli::print_cut_short("quadmerge", cut_short, name + " not changed");
        run.write_failed = true;
        release(run);
        return -1;
    }
    FitsOutput out;
    fits_create_rewrite(name.c_str(), run.image, run.image_input, out, FitsRewrite::whole);
    merge_rows(run, out);
    if (fits_finish_image(out) != 0) run.write_failed = true;
    release(run);
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (cli::answered_without_files(argc, argv, "quadmerge", USAGE.c_str(), cli::PromptEnd::line_end)) return 0;

    Run run;
    std::string name = "NONE";
    for (int i = 1; i < argc; ++i) {
        cli::scan_word(argv[i], name);  // an argument without a word leaves the previous name
        if (int status = merge_image(run, name); status >= 0) return status;
    }
    return run.write_failed ? 1 : 0;
}
