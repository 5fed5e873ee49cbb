// Writing an image as a stream of raw items: the header chain, the data
// blocks, and what followed the data of the file it replaces, through a
// replacement that never leaves a damaged target behind.
#include <cerrno>
#include <cstdio>

#include "data_layout.hpp"
#include "fits.hpp"
#include "pixel_codec.hpp"
#include "posix_io.hpp"
#include "replace_file.hpp"
#include "write_failures.hpp"

using namespace fits_internal;

namespace {

constexpr const char* WRITE_FAILED_LINE = "wf:  Error writing FITS file";
constexpr int WRITE_FAILED = -1;

bool failed(const FitsOutput& out) { return !out.failure.empty(); }

// Keeps the first failure and gives the temporary file up at once, so that
// the space it took is free for the other files of the run.
void fail(FitsOutput& out, const std::string& line) {
    if (failed(out)) return;
    out.failure = line;
    out.file->abandon();
}

bool write_header_chain(int fd, const HeaderBlock* first) {
    for (const HeaderBlock* block = first; block != nullptr; block = block->link)
        if (!write_full(fd, block->cards, FITS_BLOCK)) return false;
    return true;
}

// Appends everything the old file holds from `offset` on. A target that does
// not exist has nothing to keep.
bool copy_tail(const std::string& old_file, int64_t offset, int out_fd) {
    UniqueFd in = open_for_reading(old_file.c_str());
    if (!in) return errno == ENOENT;
    return copy_bytes(in.get(), offset, out_fd, INT64_MAX - offset) >= 0;
}

}  // namespace

FitsOutput::FitsOutput() : file(std::make_unique<FileReplacement>()) {}
FitsOutput::~FitsOutput() = default;

void fits_create_image(const char* file_name, const FitsHeader& header, FitsOutput& out, FitsTail tail) {
    out.file = std::make_unique<FileReplacement>();
    out.failure.clear();
    out.written = 0;
    out.data_bytes = 0;
    out.tail_offset = tail == FitsTail::keep ? header.data_end : -1;
    if (header.blocks == nullptr) return fail(out, NO_HEADER_CHAIN_LINE);
    const ItemEncoding* enc = find_encoding(header.bytes_per_pixel);
    const std::string refusal = data_refusal(header, enc);
    if (!refusal.empty()) return fail(out, refusal);
    out.data_bytes = data_block_count(header.npixels, enc->item_size) * FITS_BLOCK;

    if (!out.file->open(file_name, tail == FitsTail::keep)) return fail(out, CANNOT_OPEN_LINE);
    if (!write_header_chain(out.file->fd(), header.blocks)) fail(out, WRITE_FAILED_LINE);
}

void fits_write_rows(FitsOutput& out, const uint8_t* items, int64_t bytes) {
    bytes = within(bytes, out.data_bytes - out.written);
    if (failed(out) || bytes == 0) return;
    if (!write_full(out.file->fd(), items, static_cast<size_t>(bytes))) return fail(out, WRITE_FAILED_LINE);
    out.written += bytes;
}

void fits_copy_rows(FitsInput& input, FitsOutput& out, int64_t rows) {
    rows = within(rows, input.rows - input.next_row);
    const int64_t start = input.next_row * input.row_bytes;
    input.next_row += rows;
    const int64_t bytes = within(rows * input.row_bytes, out.data_bytes - out.written);
    if (failed(out) || bytes == 0) return;
    const int64_t held = within(bytes, input.present - start);
    const int64_t copied = copy_bytes(input.fd, input.data_offset + start, out.file->fd(), held);
    if (copied < 0 || !write_zeros(out.file->fd(), bytes - copied)) return fail(out, WRITE_FAILED_LINE);
    out.written += bytes;
}

int fits_finish_image(FitsOutput& out) {
    if (!failed(out)) {
        const int fd = out.file->fd();
        bool ok = write_zeros(fd, out.data_bytes - out.written);
        // Written directly, the old bytes after the data are still where they were.
        if (ok && out.tail_offset >= 0 && !out.file->in_place())
            ok = copy_tail(out.file->target_path(), out.tail_offset, fd);
        if (!ok || !out.file->commit()) fail(out, WRITE_FAILED_LINE);
    }
    if (!failed(out)) return 0;
    std::puts(out.failure.c_str());
    return WRITE_FAILED;
}
