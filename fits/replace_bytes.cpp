// fits_replace_file: a whole file, already in memory, written with the same
// atomic replacement as the FITS files.
#include <cstdio>

#include "fits.hpp"
#include "replace_file.hpp"
#include "write_failures.hpp"

using namespace fits_internal;

int fits_replace_file(const char* file_name, const void* bytes, std::size_t size, const char* write_failed_line) {
    FileReplacement out;
    if (!out.open(file_name, false)) {
        std::puts(CANNOT_OPEN_LINE);
        return -1;
    }
    if (!write_full(out.fd(), bytes, size) || !out.commit()) {
        std::puts(write_failed_line);
        return -1;
    }
    return 0;
}
