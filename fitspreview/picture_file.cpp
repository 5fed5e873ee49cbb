// The picture file, written in chunks through the library's file
// replacement, and the PPM writer: the library's PPM text header ("P6",
// the size, 255), then each row's grey levels as three equal bytes.
#include "picture_file.hpp"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kChunkBytes = size_t{1} << 20;

class PpmWriter : public PictureWriter {
public:
    PpmWriter(PictureFile& file, int64_t width, int64_t height)
        : file_(file), width_(width), triples_(static_cast<size_t>(3 * width)) {
        const std::string header = fits_ppm_header(width, height);
        file_.write(header.data(), header.size());
    }
    void row(const uint8_t* levels) override {
        for (int64_t x = 0; x < width_; ++x) std::memset(&triples_[static_cast<size_t>(3 * x)], levels[x], 3);
        file_.write(triples_.data(), triples_.size());
    }
    int finish() override { return file_.finish("wf: Error writing PPM file"); }

private:
    PictureFile& file_;
    int64_t width_;
    std::vector<uint8_t> triples_;
};

}  // namespace

PictureFile::PictureFile(const std::string& name) {
    fits_create_file(name.c_str(), out_);
    chunk_.reserve(kChunkBytes);
}

void PictureFile::write(const void* bytes, size_t size) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    while (size > 0) {
        const size_t n = std::min(size, kChunkBytes - chunk_.size());
        chunk_.insert(chunk_.end(), p, p + n);
        p += n;
        size -= n;
        if (chunk_.size() == kChunkBytes) flush();
    }
}

void PictureFile::flush() {
    fits_write_bytes(out_, chunk_.data(), chunk_.size());
    chunk_.clear();
}

int PictureFile::finish(const char* write_failed_line) {
    flush();
    return fits_finish_file(out_, write_failed_line);
}

std::unique_ptr<PictureWriter> ppm_writer(PictureFile& file, int64_t width, int64_t height) {
    return std::make_unique<PpmWriter>(file, width, height);
}
