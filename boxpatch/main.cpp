// boxpatch: repairs a box of pixels in FITS images by interpolation along
// rows. Arguments are handled strictly from left to right: -b x1 x2 y1 y2
// sets the box for the file names after it, and each file name is read,
// patched and written back when it is reached.
#include <cstdio>
#include <string>

#include "args.hpp"
#include "box.hpp"
#include "cli.hpp"
#include "fits.hpp"

namespace {

constexpr const char* USAGE =
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
    "Limits are clamped to 1..N-1 of each axis and put in order; the clamped\n"
    "limits carry over to later files. Exit status 0, or 1 when a file cannot be\n"
    "read or written.\n"
    "  --help      this text\n"
    "  --version   the version\n";

alignas(PLANE_ALIGNMENT) ImagePlane plane;  // the one image plane, reused for every file

struct Run {
    FitsHeader header;
    bool write_failed = false;
};

int fail(Run& run, const char* line) {
    std::puts(line);
    fits_free_header(run.header);
    return 1;
}

// Reads, patches and writes back one file. Returns -1 to go on, or the exit
// status.
int patch_file(Run& run, BoxLimits& box, bool limits_given, const std::string& name) {
    if (fits_read(name.c_str(), run.header, plane) != 0)
        return fail(run, "Error reading FITS file, program terminating.");
    if (!limits_given) return fail(run, "Error - must specify limits with -b");
    if (run.header.naxis1 < 2) {
        std::printf("Error - %s is one column wide: no neighbour column to interpolate from, file not changed\n",
                    name.c_str());
        fits_free_header(run.header);
        return 1;
    }
    clamp_and_order(box, run.header.naxis1, run.header.naxis2);
    interpolate_box(box, plane);
    if (fits_rewrite(name.c_str(), run.header, plane) != 0) run.write_failed = true;
    fits_free_header(run.header);
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (cli::answered_without_files(argc, argv, "boxpatch", USAGE, cli::PromptEnd::none)) return 0;

    Run run;
    ArgScan args{argc, argv};
    for (ArgStep step = next_file(args); step != ArgStep::end; step = next_file(args)) {
        if (step == ArgStep::malformed) return 1;
        if (int status = patch_file(run, args.box, args.limits_given, args.word); status >= 0) return status;
    }
    return run.write_failed ? 1 : 0;
}
