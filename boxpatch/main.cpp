// boxpatch: repairs a box of pixels in FITS images by interpolation along
// rows. Arguments are handled strictly from left to right: -b x1 x2 y1 y2
// sets the box for the file names after it, and each file name is read,
// patched and written back when it is reached. Rows outside the box are
// copied as they are in the file; only the box's pixels are computed.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "args.hpp"
#include "box.hpp"
#include "cli.hpp"
#include "fits.hpp"
#include "shared_lines.hpp"

namespace {

const std::string USAGE = std::string(
    "Usage: boxpatch -b x1 x2 y1 y2 file.fits [file.fits ...] [-b x1 x2 y1 y2 file.fits ...]\n"
    "\n"
    "Repairs a box of bad pixels in each FITS image: every row of the box is\n"
    "replaced by values stepping evenly from the pixel just left of the box to\n"
    "the pixel just right of it. Each file is rewritten in place.\n"
    "\n"
    "  -b x1 x2 y1 y2   columns x1..x2 (along NAXIS1) and rows y1..y2 (along\n"
    "                   NAXIS2), counted from 1; numbers may be written in\n"
    "                   decimal, 0x hexadecimal or 0 octal. A later -b sets the\n"
    "                   box for the files after it.\n"
    "\n"
    "Every pixel outside the box keeps the bytes it had. BITPIX 8, 16, 32, -32\n"
    "and -64 are read; the box is computed in single precision, or in double\n"
    "precision for BITPIX -64.\n"
    "\n"
    "Limits are clamped to 1..N-1 of each axis and put in order; the clamped\n"
    "limits carry over to later files. Another boxpatch or quadmerge rewriting\n"
    "the same file is waited for. Exit status 0, or 1 when a file cannot be\n"
    "read or written, or is cut short (its data end before its last pixel; it\n"
    "is left as it was).\n") + cli::HELP_AND_VERSION_LINES;

// What became of one file named on the command line.
enum class Outcome {
    patched,      // rewritten with its box repaired
    not_patched,  // left as it was (cut short, or the new file not put in place):
                  // the run goes on and ends with status 1
    stop,         // it cannot be read, no box was given, or it is one column wide:
                  // the run ends now with status 1
};

Outcome stop_with(const char* line) {
    std::puts(line);
    return Outcome::stop;
}

// Patches the box's rows, band by band: each row's pixels from the left
// neighbour to the right one are taken as values of type T, interpolated and
// put back as items.
template <typename T, typename Decode, typename Encode>
void patch_rows(FitsImage& patch, const BoxLimits& box, FitsOutput& out, Decode decode, Encode encode) {
    FitsInput& in = patch.input;
    const int bpp = patch.header.bytes_per_pixel;
    const int32_t first = first_column_read(box);
    const int32_t read_count = last_column_read(box) - first + 1;
    const int64_t band_rows = std::min<int64_t>(fits_band_rows(in.row_bytes), box.y2 - box.y1 + 1);
    std::vector<uint8_t> band(static_cast<size_t>(band_rows * in.row_bytes));
    std::vector<T> values(static_cast<size_t>(read_count));
    for (int64_t left = box.y2 - box.y1 + 1; left > 0;) {
        const int64_t rows = fits_read_rows(in, band.data(), std::min(band_rows, left));
        for (int64_t r = 0; r < rows; ++r) {
            uint8_t* const items = band.data() + r * in.row_bytes + static_cast<int64_t>(first - 1) * in.item_size;
            decode(bpp, items, values.data(), values.size());
            interpolate_row(box, values.data());
            const int32_t skip = box.x1 - first;  // the left neighbour stays as it was
            encode(bpp, values.data() + skip, items + skip * in.item_size, static_cast<size_t>(box.x2 - box.x1 + 1));
        }
        fits_write_rows(out, band.data(), rows * in.row_bytes);
        left -= rows;
        if (rows == 0) break;
    }
}

// Reads, patches and writes back one file; `box` is clamped to it, and
// stays so for the files after it.
Outcome patch_file(BoxLimits& box, bool limits_given, const std::string& name) {
    // The file, and with it the lock on its name, is held until the new
    // file has been put in place.
    FitsImage patch;
    if (fits_open_image_to_rewrite(name.c_str(), patch.header, patch.input) != FITS_OK)
        return stop_with(cli::READ_FAILED);
    if (!limits_given) return stop_with("Error - must specify limits with -b");
    if (patch.header.naxis1 < 2) {
        std::printf("Error - %s is one column wide: no neighbour column to interpolate from, file not changed\n",
                    name.c_str());
        return Outcome::stop;
    }
    clamp_and_order(box, patch.header.naxis1, patch.header.naxis2);
    if (fits_image_cut_short(patch.input)) {
        // Rewritten, the missing pixels would become zero and the damage
        // could no longer be seen.
        cli::print_cut_short("boxpatch", name, "file not changed");
        return Outcome::not_patched;
    }

    // Where the file system can share blocks, only the box's rows are written.
    FitsOutput out;
    fits_create_rewrite(name.c_str(), patch.header, patch.input, out, FitsRewrite::changes);
    fits_copy_rows(patch.input, out, box.y1 - 1);
    if (patch.header.bytes_per_pixel == -8)
        patch_rows<double>(patch, box, out, fits_items_to_doubles, fits_doubles_to_items);
    else
        patch_rows<float>(patch, box, out, fits_items_to_floats, fits_floats_to_items);
    fits_copy_rows(patch.input, out, patch.input.rows - patch.input.next_row);
    return fits_finish_image(out) == FITS_OK ? Outcome::patched : Outcome::not_patched;
}

}  // namespace

int main(int argc, char** argv) {
    if (cli::answered_without_files(argc, argv, "boxpatch", USAGE.c_str(), cli::PromptEnd::none)) return 0;

    ArgScan args{argc, argv};
    bool some_not_patched = false;
    for (ArgStep step = next_file(args); step != ArgStep::end; step = next_file(args)) {
        if (step == ArgStep::malformed) return 1;
        const Outcome outcome = patch_file(args.box, args.limits_given, args.word);
        if (outcome == Outcome::stop) return 1;
        some_not_patched |= outcome == Outcome::not_patched;
    }
    return some_not_patched ? 1 : 0;
}
