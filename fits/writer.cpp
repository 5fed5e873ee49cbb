// fits_write and fits_rewrite: the header chain as it stands, then data
// blocks made from the plane, through a file replacement that never leaves a
// damaged target behind.
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <unistd.h>

#include "data_path.hpp"
#include "fits.hpp"
#include "pixel_codec.hpp"
#include "posix_io.hpp"
#include "replace_file.hpp"
#include "write_failures.hpp"

using namespace fits_internal;

namespace {

constexpr int WRITE_FAILED = -1;
constexpr size_t kTailChunk = 64 * 1024;

// The data layout the record asks for, or false (with the writer's line)
// when the record describes something the writer cannot encode.
bool plan_data(const FitsHeader& header, DataLayout& layout) {
    const ItemEncoding* enc = find_encoding(header.bytes_per_pixel);
    const bool axes_fit = header.naxis1 >= 0 && header.naxis1 <= MAX_AXIS && header.naxis2 >= 0 &&
                          header.naxis2 <= MAX_AXIS;
    // npixels may ask for more blocks than the image fills (they are written
    // zero), but no more than a 32-bit block count can hold.
    const bool count_fits =
        enc == nullptr || header.npixels <= static_cast<int64_t>(INT32_MAX) * FITS_BLOCK / enc->item_size;
    if (enc == nullptr || !axes_fit || !count_fits) {
        std::printf("wf: Error - cannot encode bytes_per_pixel %d, NAXIS1 %d, NAXIS2 %d, %" PRId64
                    " pixels; file not written\n",
                    header.bytes_per_pixel, header.naxis1, header.naxis2, header.npixels);
        return false;
    }
    const int64_t blocks = data_block_count(header.npixels, enc->item_size);
    const int64_t image_pixels = static_cast<int64_t>(header.naxis1) * header.naxis2;
    layout = DataLayout{enc, blocks, std::min(image_pixels, blocks * items_per_block(*enc)), header.naxis1};
    return true;
}

bool write_header_chain(int fd, const HeaderBlock* first, int64_t& bytes) {
    bytes = 0;
    for (const HeaderBlock* block = first; block != nullptr; block = block->link) {
        if (!write_full(fd, block->cards, FITS_BLOCK)) return false;
        bytes += FITS_BLOCK;
    }
    return true;
}

// Appends everything the old file holds from `offset` on. A target that does
// not exist has nothing to keep.
bool copy_tail(const std::string& old_file, int64_t offset, int out_fd) {
    UniqueFd in = open_for_reading(old_file.c_str());
    if (!in) return errno == ENOENT;
    char chunk[kTailChunk];
    for (;;) {
        const ssize_t n = ::pread(in.get(), chunk, sizeof chunk, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        if (!write_full(out_fd, chunk, static_cast<size_t>(n))) return false;
        offset += n;
    }
}

int write_image(const char* file_name, const FitsHeader& header, const ImagePlane& plane, bool keep_tail) {
    if (header.blocks == nullptr) {
        std::puts(NO_HEADER_CHAIN_LINE);
        return WRITE_FAILED;
    }
    DataLayout layout{};
    if (!plan_data(header, layout)) return WRITE_FAILED;

    FileReplacement out;
    if (!out.open(file_name, keep_tail)) {
        std::puts(CANNOT_OPEN_LINE);
        return WRITE_FAILED;
    }
    int64_t header_bytes = 0;
    bool ok = write_header_chain(out.fd(), header.blocks, header_bytes) && write_data(out.fd(), layout, plane);
    // Written in place, the old bytes after the data are still where they were.
    if (ok && keep_tail && !out.in_place())
        ok = copy_tail(out.target_path(), header_bytes + layout.blocks * FITS_BLOCK, out.fd());
    if (ok) ok = out.commit();
    if (!ok) {
        std::puts("wf:  Error writing FITS file");
        return WRITE_FAILED;
    }
    return 0;
}

}  // namespace

int fits_write(const char* file_name, const FitsHeader& header, const ImagePlane& plane) {
    return write_image(file_name, header, plane, false);
}

int fits_rewrite(const char* file_name, const FitsHeader& header, const ImagePlane& plane) {
    return write_image(file_name, header, plane, true);
}
