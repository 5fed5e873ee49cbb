// A picture file written as a stream: bytes gathered into chunks of about
// 1 MiB and passed to the library's file replacement, so that nothing is
// visible under the picture's name until it is complete; the picture
// writers that fill it row by row, and the PPM writer (the PNG writer is in
// png_picture.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fits.hpp"

class PictureFile {
public:
    explicit PictureFile(const std::string& name);
    PictureFile(const PictureFile&) = delete;
    PictureFile& operator=(const PictureFile&) = delete;

    // False when the file could not be created; finish() then prints why.
    bool created() const { return !out_.open_failed; }
    void write(const void* bytes, size_t size);
    // Writes what is left and puts the file in place. Returns FITS_OK, or
    // FITS_WRITE_FAILED after the line "wf: Error opening file for writing" or
    // `write_failed_line`.
    int finish(const char* write_failed_line);

private:
    void flush();

    FitsFileOutput out_;
    std::vector<uint8_t> chunk_;
};

// A grey picture written row by row from the top, into a PictureFile.
class PictureWriter {
public:
    virtual ~PictureWriter() = default;
    // Takes the next row's `width` grey levels.
    virtual void row(const uint8_t* levels) = 0;
    // After the last row: FITS_OK, or FITS_WRITE_FAILED after the failure's
    // line.
    virtual int finish() = 0;
};

// A binary PPM ("P6", maximum 255), each grey level as three equal bytes.
std::unique_ptr<PictureWriter> ppm_writer(PictureFile& file, int64_t width, int64_t height);
