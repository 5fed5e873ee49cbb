// Writing an image as a stream of raw items: the header chain, the data
// blocks, and what followed the data of the file it replaces, through a
// replacement that never leaves a damaged target behind. A rewrite may start
// as a clone of the old file, into which only what differs is written
// (clone_output.cpp).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "clone_output.hpp"
#include "data_layout.hpp"
#include "file_replacement.hpp"
#include "fits.hpp"
#include "image_input.hpp"
#include "messages.hpp"
#include "pixel_codec.hpp"
#include "posix_io.hpp"

using namespace fits_internal;

namespace {

bool failed(const FitsOutput& out) { return !out.failure.empty(); }

// Keeps the first failure and gives the temporary file up at once, so that
// the space it took is free for the other files of the run.
void fail(FitsOutput& out, const std::string& line) {
    if (failed(out)) return;
    out.failure = line;
    out.file->abandon();
}

int64_t chain_bytes(const HeaderBlock* first) {
    int64_t bytes = 0;
    for (const HeaderBlock* block = first; block != nullptr; block = block->link) bytes += FITS_BLOCK;
    return bytes;
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

// A clone holds the old file's blocks up to where it was last written.
int64_t written_end(const FitsOutput& out) { return out.cloned ? out.clone_end : out.data_offset + out.written; }

void note_written(FitsOutput& out) { out.file->written_up_to(written_end(out)); }

// Resets the record and checks what the header asks for; false after a
// failure.
bool start(const FitsHeader& header, FitsOutput& out, FitsTail tail) {
    out.file = std::make_unique<FileReplacement>();
    out.failure.clear();
    out.written = 0;
    out.data_bytes = 0;
    out.data_offset = chain_bytes(header.blocks);
    out.tail_offset = tail == FitsTail::keep ? header.data_end : -1;
    out.source_fd = -1;
    out.cloned = false;
    out.source_size = 0;
    out.clone_end = 0;
    if (header.blocks == nullptr) {
        fail(out, messages::NO_HEADER_CHAIN);
        return false;
    }
    const ItemEncoding* enc = find_encoding(header.bytes_per_pixel);
    const std::string refusal = data_refusal(header, enc);
    if (!refusal.empty()) {
        fail(out, refusal);
        return false;
    }
    out.data_bytes = data_block_count(header.npixels, enc->item_size) * FITS_BLOCK;
    return true;
}

}  // namespace

FitsOutput::FitsOutput() : file(std::make_unique<FileReplacement>()) {}
FitsOutput::~FitsOutput() = default;

void fits_create_image(const char* file_name, const FitsHeader& header, FitsOutput& out, FitsTail tail) {
    if (!start(header, out, tail)) return;
    if (!out.file->open(file_name, tail == FitsTail::keep)) return fail(out, messages::CANNOT_OPEN);
    if (!write_header_chain(out.file->fd(), header.blocks)) fail(out, messages::WRITE_FAILED);
}

void fits_create_rewrite(const char* file_name, const FitsHeader& header, FitsInput& input, FitsOutput& out,
                         FitsRewrite how) {
    if (!start(header, out, FitsTail::keep)) return;
    if (input.lock_failed || !out.file->open(file_name, true)) return fail(out, messages::CANNOT_OPEN);
    out.source_fd = input.fd;
    if (how == FitsRewrite::changes && !out.file->in_place() && try_clone(header, input, out)) return;
    if (!write_header_chain(out.file->fd(), header.blocks)) fail(out, messages::WRITE_FAILED);
}

void fits_write_rows(FitsOutput& out, const uint8_t* items, int64_t bytes) {
    bytes = within(bytes, out.data_bytes - out.written);
    if (failed(out) || bytes == 0) return;
    const bool ok = out.cloned ? write_into_clone(out, items, bytes, out.data_offset + out.written)
                               : write_full(out.file->fd(), items, static_cast<size_t>(bytes));
    if (!ok) return fail(out, messages::WRITE_FAILED);
    out.written += bytes;
    note_written(out);
}

void fits_copy_rows(FitsInput& input, FitsOutput& out, int64_t rows) {
    const RowSpan span = take_rows(input, rows, out.data_bytes - out.written);
    if (failed(out) || span.bytes == 0) return;
    bool ok;
    if (out.cloned) {
        ok = copy_into_clone(input, span.start, span.held, out) &&
             zero_clone(out, out.data_offset + out.written + span.held, span.bytes - span.held);  // missing items
    } else {
        const int64_t copied = copy_bytes(input.fd, input.data_offset + span.start, out.file->fd(), span.held);
        ok = copied >= 0 && write_zeros(out.file->fd(), span.bytes - copied);
    }
    if (!ok) return fail(out, messages::WRITE_FAILED);
    out.written += span.bytes;
    note_written(out);
}

namespace {

// Writes what is left: zeros to the end of the data blocks and the kept
// tail, or what a clone still needs.
void complete(FitsOutput& out) {
    if (failed(out)) return;
    const int fd = out.file->fd();
    bool ok;
    if (out.cloned) {
        ok = finish_clone(out);
    } else {
        ok = write_zeros(fd, out.data_bytes - out.written);
        // Written directly, the old bytes after the data are still where they were.
        if (ok && out.tail_offset >= 0 && !out.file->in_place())
            ok = out.source_fd >= 0 ? copy_bytes(out.source_fd, out.tail_offset, fd, INT64_MAX - out.tail_offset) >= 0
                                    : copy_tail(out.file->target_path(), out.tail_offset, fd);
    }
    if (!ok) fail(out, messages::WRITE_FAILED);
}

}  // namespace

void fits_finish_images(FitsOutput outs[], int count) {
    const auto each = [&](auto step) {
        for (int i = 0; i < count; ++i)
            if (!failed(outs[i])) step(outs[i]);
    };
    each(complete);
    // Every file's write-back is under way before the first is waited for,
    // so that the file system can take them all in one go.
    each([](FitsOutput& out) { out.file->start_flush(out.cloned ? written_end(out) : -1); });
    each([](FitsOutput& out) {
        if (!out.file->finish_flush()) fail(out, messages::WRITE_FAILED);
    });
    each([](FitsOutput& out) {
        if (!out.file->place()) fail(out, messages::WRITE_FAILED);
    });
    // One flush of each folder makes all the renames in it durable.
    std::vector<std::pair<std::string, bool>> folders;
    each([&](FitsOutput& out) {
        const std::string folder = out.file->folder();
        auto known = std::find_if(folders.begin(), folders.end(), [&](const auto& f) { return f.first == folder; });
        if (known == folders.end()) known = folders.insert(folders.end(), {folder, out.file->flush_folder()});
        if (!known->second) fail(out, messages::WRITE_FAILED);
    });
}

int fits_report_image(const FitsOutput& out) {
    if (!failed(out)) return FITS_OK;
    std::puts(out.failure.c_str());
    return FITS_WRITE_FAILED;
}

int fits_finish_image(FitsOutput& out) {
    fits_finish_images(&out, 1);
    return fits_report_image(out);
}
