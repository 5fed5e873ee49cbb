// The PNG writer: libpng encodes rows as they come and hands its output to
// the picture file through its write callback.
#include <csetjmp>
#include <cstdio>

#include <png.h>

#include "png_picture.hpp"

namespace {

constexpr const char* kPngWriteFailed = "wf: Error writing PNG file";

// libpng's output, appended to the picture file that is its io pointer.
void write_bytes(png_structp png, png_bytep data, size_t length) {
    static_cast<PictureFile*>(png_get_io_ptr(png))->write(data, length);
}

void flush_nothing(png_structp) {}

// libpng reports a failure by a long jump back to the setjmp of the
// function that called it; nothing with a destructor lives in these
// functions or in the frames the jump leaves.
bool start(png_structp png, png_infop info, PictureFile* file, int64_t width, int64_t height) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, file, write_bytes, flush_nothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Stored, not compressed (zlib level 0), and no row filter: a picture of
    // a noisy frame shrinks by 13% at most (zlib level 1 with the RLE
    // strategy; row filters make it larger), which costs three to four times
    // the time of the whole picture stored (0.83 s against 0.24 s for an
    // 8192 x 8192 frame with zscale cuts).
    png_set_compression_level(png, 0);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_write_info(png, info);
    return true;
}

bool write_row(png_structp png, const uint8_t* levels) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_write_row(png, levels);
    return true;
}

bool end(png_structp png, png_infop info) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_write_end(png, info);
    return true;
}

// libpng's own messages would go to standard error; the program prints its
// one line instead.
void on_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void on_warning(png_structp, png_const_charp) {}

class PngWriter : public PictureWriter {
public:
    PngWriter(PictureFile& file, int64_t width, int64_t height) : file_(file) {
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
        if (png_ != nullptr) info_ = png_create_info_struct(png_);
        failed_ = info_ == nullptr || !start(png_, info_, &file_, width, height);
    }
    ~PngWriter() override { png_destroy_write_struct(&png_, &info_); }
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    void row(const uint8_t* levels) override { failed_ = failed_ || !write_row(png_, levels); }

    int finish() override {
        failed_ = failed_ || !end(png_, info_);
        if (!failed_) return file_.finish(kPngWriteFailed);
        std::puts(kPngWriteFailed);  // the unfinished file goes with its PictureFile
        return FITS_WRITE_FAILED;
    }

private:
    PictureFile& file_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    bool failed_ = false;
};

}  // namespace

std::unique_ptr<PictureWriter> png_writer(PictureFile& file, int64_t width, int64_t height) {
    return std::make_unique<PngWriter>(file, width, height);
}
