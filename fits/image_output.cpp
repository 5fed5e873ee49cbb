// Writing an image as a stream of raw items: the header chain, the data
// blocks, and what followed the data of the file it replaces, through a
// replacement that never leaves a damaged target behind. A rewrite may start
// as a clone of the old file, into which only what differs is written.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

// The unit in which a file system shares a clone's blocks. A write that
// covers only part of a shared block makes the file system read the block
// back first, so writes into a clone are widened to whole blocks.
constexpr int64_t kSharedBlock = 4096;
constexpr size_t kChunk = 1 << 20;  // bytes moved at a time through memory

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

// Whether the source file begins with exactly the bytes of the chain.
bool source_has_header(int source_fd, const HeaderBlock* first) {
    char held[FITS_BLOCK];
    int64_t offset = 0;
    for (const HeaderBlock* block = first; block != nullptr; block = block->link, offset += FITS_BLOCK)
        if (pread_full(source_fd, held, FITS_BLOCK, offset) != FITS_BLOCK ||
            std::memcmp(held, block->cards, FITS_BLOCK) != 0)
            return false;
    return true;
}

// Appends everything the old file holds from `offset` on. A target that does
// not exist has nothing to keep.
bool copy_tail(const std::string& old_file, int64_t offset, int out_fd) {
    UniqueFd in = open_for_reading(old_file.c_str());
    if (!in) return errno == ENOENT;
    return copy_bytes(in.get(), offset, out_fd, INT64_MAX - offset) >= 0;
}

void note_written(FitsOutput& out) { out.file->written_up_to(out.data_offset + out.written); }

// Writes `size` bytes at `offset` of the clone, widened to whole shared
// blocks with the source's own bytes around them, in one call so that no
// block is written in part (a block begun by the previous write is already
// the clone's own and is not widened again). Nothing is added after the
// source's end but what the caller writes; what lies between the source's
// end and `offset` is zero, as in a file that was extended.
bool write_into_clone(FitsOutput& out, const uint8_t* bytes, int64_t size, int64_t offset) {
    int64_t start = offset / kSharedBlock * kSharedBlock;
    if (start < out.clone_end) start = offset;
    const int64_t rounded_end = (offset + size + kSharedBlock - 1) / kSharedBlock * kSharedBlock;
    const int64_t end = std::max(offset + size, std::min(rounded_end, out.source_size));
    const int64_t head = offset - start;
    const int64_t tail = end - offset - size;
    std::vector<uint8_t> widened(static_cast<size_t>(end - start));
    const auto read_source = [&](uint8_t* to, int64_t count, int64_t at) {
        const int64_t held = within(count, out.source_size - at);
        return pread_full(out.source_fd, to, static_cast<size_t>(held), at) == static_cast<size_t>(held);
    };
    if (!read_source(widened.data(), head, start) || !read_source(widened.data() + head + size, tail, offset + size))
        return false;
    std::memcpy(widened.data() + head, bytes, static_cast<size_t>(size));
    if (!pwrite_full(out.file->fd(), widened.data(), widened.size(), start)) return false;
    out.clone_end = end;
    return true;
}

// Writes zeros over `size` bytes at `offset` of the clone.
bool zero_clone(FitsOutput& out, int64_t offset, int64_t size) {
    static const uint8_t zeros[kChunk] = {};
    for (int64_t done = 0; done < size;) {
        const int64_t n = std::min<int64_t>(sizeof zeros, size - done);
        if (!write_into_clone(out, zeros, n, offset + done)) return false;
        done += n;
    }
    return true;
}

// Puts `size` item bytes of the input, from item byte `start` on, at the
// clone's current place. When they are the source's own bytes at the same
// offset, the clone holds them already.
bool copy_into_clone(const FitsInput& input, int64_t start, int64_t size, FitsOutput& out) {
    const int64_t from = input.data_offset + start;
    const int64_t to = out.data_offset + out.written;
    if (input.fd == out.source_fd && from == to) return true;
    std::vector<uint8_t> chunk(kChunk);
    for (int64_t done = 0; done < size;) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(kChunk, size - done));
        const size_t got = pread_full(input.fd, chunk.data(), want, from + done);
        std::fill(chunk.begin() + static_cast<std::ptrdiff_t>(got), chunk.begin() + static_cast<std::ptrdiff_t>(want), 0);
        if (!write_into_clone(out, chunk.data(), static_cast<int64_t>(want), to + done)) return false;
        done += static_cast<int64_t>(want);
    }
    return true;
}

// Whether the source holds anything but zero bytes in `size` bytes from
// `offset` (bytes past its end count as zero).
bool source_nonzero(int source_fd, int64_t offset, int64_t size) {
    uint8_t chunk[64 * 1024];
    for (int64_t done = 0; done < size;) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(sizeof chunk, size - done));
        const size_t got = pread_full(source_fd, chunk, want, offset + done);
        if (std::any_of(chunk, chunk + got, [](uint8_t b) { return b != 0; })) return true;
        if (got < want) return false;
        done += static_cast<int64_t>(got);
    }
    return false;
}

// The data after what was written must be zero, as a new file's would be;
// then the file is made as long as the data blocks if the old one was
// shorter (it lacked its fill). What follows is the old file's own tail.
bool finish_clone(FitsOutput& out) {
    const int64_t from = out.data_offset + out.written;
    const int64_t data_end = out.data_offset + out.data_bytes;
    const int64_t held = within(data_end - from, out.source_size - from);
    if (source_nonzero(out.source_fd, from, held) && !zero_clone(out, from, held)) return false;
    return out.source_size >= data_end || ::ftruncate(out.file->fd(), data_end) == 0;
}

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
        fail(out, NO_HEADER_CHAIN_LINE);
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

// A clone serves when the source is a regular file that begins with the
// very header to be written, so that every offset is the same in both.
bool try_clone(const FitsHeader& header, const FitsInput& input, FitsOutput& out) {
    struct stat st {};
    if (::fstat(input.fd, &st) != 0 || !S_ISREG(st.st_mode) || input.data_offset != out.data_offset ||
        !source_has_header(input.fd, header.blocks) || !out.file->clone_from(input.fd))
        return false;
    out.cloned = true;
    out.source_size = st.st_size;
    out.clone_end = 0;
    return true;
}

}  // namespace

FitsOutput::FitsOutput() : file(std::make_unique<FileReplacement>()) {}
FitsOutput::~FitsOutput() = default;

void fits_create_image(const char* file_name, const FitsHeader& header, FitsOutput& out, FitsTail tail) {
    if (!start(header, out, tail)) return;
    if (!out.file->open(file_name, tail == FitsTail::keep)) return fail(out, CANNOT_OPEN_LINE);
    if (!write_header_chain(out.file->fd(), header.blocks)) fail(out, WRITE_FAILED_LINE);
}

void fits_create_rewrite(const char* file_name, const FitsHeader& header, FitsInput& input, FitsOutput& out,
                         FitsRewrite how) {
    if (!start(header, out, FitsTail::keep)) return;
    if (input.lock_failed || !out.file->open(file_name, true)) return fail(out, CANNOT_OPEN_LINE);
    out.source_fd = input.fd;
    if (how == FitsRewrite::changes && !out.file->in_place() && try_clone(header, input, out)) return;
    if (!write_header_chain(out.file->fd(), header.blocks)) fail(out, WRITE_FAILED_LINE);
}

void fits_write_rows(FitsOutput& out, const uint8_t* items, int64_t bytes) {
    bytes = within(bytes, out.data_bytes - out.written);
    if (failed(out) || bytes == 0) return;
    const bool ok = out.cloned ? write_into_clone(out, items, bytes, out.data_offset + out.written)
                               : write_full(out.file->fd(), items, static_cast<size_t>(bytes));
    if (!ok) return fail(out, WRITE_FAILED_LINE);
    out.written += bytes;
    note_written(out);
}

void fits_copy_rows(FitsInput& input, FitsOutput& out, int64_t rows) {
    rows = within(rows, input.rows - input.next_row);
    const int64_t start = input.next_row * input.row_bytes;
    input.next_row += rows;
    const int64_t bytes = within(rows * input.row_bytes, out.data_bytes - out.written);
    if (failed(out) || bytes == 0) return;
    const int64_t held = within(bytes, input.present - start);
    bool ok;
    if (out.cloned) {
        ok = copy_into_clone(input, start, held, out) &&
             zero_clone(out, out.data_offset + out.written + held, bytes - held);  // missing, or part of one
    } else {
        const int64_t copied = copy_bytes(input.fd, input.data_offset + start, out.file->fd(), held);
        ok = copied >= 0 && write_zeros(out.file->fd(), bytes - copied);
    }
    if (!ok) return fail(out, WRITE_FAILED_LINE);
    out.written += bytes;
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
    if (!ok) fail(out, WRITE_FAILED_LINE);
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
    each([](FitsOutput& out) { out.file->start_flush(); });
    each([](FitsOutput& out) {
        if (!out.file->finish_flush()) fail(out, WRITE_FAILED_LINE);
    });
    each([](FitsOutput& out) {
        if (!out.file->place()) fail(out, WRITE_FAILED_LINE);
    });
    // One flush of each folder makes all the renames in it durable.
    std::vector<std::pair<std::string, bool>> folders;
    each([&](FitsOutput& out) {
        const std::string folder = out.file->folder();
        auto known = std::find_if(folders.begin(), folders.end(), [&](const auto& f) { return f.first == folder; });
        if (known == folders.end()) known = folders.insert(folders.end(), {folder, out.file->flush_folder()});
        if (!known->second) fail(out, WRITE_FAILED_LINE);
    });
}

int fits_report_image(const FitsOutput& out) {
    if (!failed(out)) return 0;
    std::puts(out.failure.c_str());
    return WRITE_FAILED;
}

int fits_finish_image(FitsOutput& out) {
    fits_finish_images(&out, 1);
    return fits_report_image(out);
}
