// Files of any content (pictures) written with the same replacement as the
// FITS files: piece by piece, or whole from memory.
#include <cstdio>

#include "fits.hpp"
#include "file_replacement.hpp"
#include "messages.hpp"

using namespace fits_internal;

FitsFileOutput::FitsFileOutput() : file(std::make_unique<FileReplacement>()) {}
FitsFileOutput::~FitsFileOutput() = default;

void fits_create_file(const char* file_name, FitsFileOutput& out) {
    out.file = std::make_unique<FileReplacement>();
    out.write_failed = false;
    out.written = 0;
    out.open_failed = !out.file->open(file_name, false);
}

void fits_write_bytes(FitsFileOutput& out, const void* bytes, std::size_t size) {
    if (out.open_failed || out.write_failed) return;
    if (!write_full(out.file->fd(), bytes, size)) {
        out.write_failed = true;
        out.file->abandon();  // its space is free again at once
        return;
    }
    out.written += static_cast<int64_t>(size);
    out.file->written_up_to(out.written);
}

int fits_finish_file(FitsFileOutput& out, const char* write_failed_line) {
    if (out.open_failed) {
        std::puts(messages::CANNOT_OPEN);
        return FITS_WRITE_FAILED;
    }
    if (out.write_failed || !out.file->commit()) {
        out.file->abandon();
        std::puts(write_failed_line);
        return FITS_WRITE_FAILED;
    }
    return FITS_OK;
}

int fits_replace_file(const char* file_name, const void* bytes, std::size_t size, const char* write_failed_line) {
    FitsFileOutput out;
    fits_create_file(file_name, out);
    fits_write_bytes(out, bytes, size);
    return fits_finish_file(out, write_failed_line);
}
