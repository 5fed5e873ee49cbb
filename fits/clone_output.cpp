// Writing a rewrite into a clone of the old file: only what differs is
// written, widened to whole shared blocks with the old file's bytes.
#include "clone_output.hpp"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

#include "data_layout.hpp"
#include "file_replacement.hpp"
#include "posix_io.hpp"
#include "tuning.hpp"

namespace fits_internal {

namespace {

using tuning::CLONE_CHUNK;
using tuning::SHARED_BLOCK;

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

// Whether the source holds anything but zero bytes in `size` bytes from
// `offset` (bytes past its end count as zero).
bool source_nonzero(int source_fd, int64_t offset, int64_t size) {
    uint8_t chunk[tuning::SCAN_CHUNK];
    for (int64_t done = 0; done < size;) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(sizeof chunk, size - done));
        const size_t got = pread_full(source_fd, chunk, want, offset + done);
        if (std::any_of(chunk, chunk + got, [](uint8_t b) { return b != 0; })) return true;
        if (got < want) return false;
        done += static_cast<int64_t>(got);
    }
    return false;
}

}  // namespace

// Writes `size` bytes at `offset` of the clone, widened to whole shared
// blocks with the source's own bytes around them, in one call so that no
// block is written in part (a block begun by the previous write is already
// the clone's own and is not widened again). Nothing is added after the
// source's end but what the caller writes; what lies between the source's
// end and `offset` is zero, as in a file that was extended.
bool write_into_clone(FitsOutput& out, const uint8_t* bytes, int64_t size, int64_t offset) {
    int64_t start = offset / SHARED_BLOCK * SHARED_BLOCK;
    if (start < out.clone_end) start = offset;
    const int64_t rounded_end = (offset + size + SHARED_BLOCK - 1) / SHARED_BLOCK * SHARED_BLOCK;
    const int64_t end = std::max(offset + size, std::min(rounded_end, out.source_size));
    uint8_t head[SHARED_BLOCK] = {};
    uint8_t tail[SHARED_BLOCK] = {};
    const int64_t head_size = offset - start;
    const int64_t tail_size = end - offset - size;
    const auto read_source = [&](uint8_t* to, int64_t count, int64_t at) {
        const int64_t held = within(count, out.source_size - at);
        return pread_full(out.source_fd, to, static_cast<size_t>(held), at) == static_cast<size_t>(held);
    };
    if (!read_source(head, head_size, start) || !read_source(tail, tail_size, offset + size)) return false;
    iovec parts[] = {{head, static_cast<size_t>(head_size)},
                     {const_cast<uint8_t*>(bytes), static_cast<size_t>(size)},
                     {tail, static_cast<size_t>(tail_size)}};
    if (!pwritev_full(out.file->fd(), parts, 3, start)) return false;
    out.clone_end = end;
    return true;
}

// Writes zeros over `size` bytes at `offset` of the clone.
bool zero_clone(FitsOutput& out, int64_t offset, int64_t size) {
    static const uint8_t zeros[CLONE_CHUNK] = {};
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
    std::vector<uint8_t> chunk(CLONE_CHUNK);
    for (int64_t done = 0; done < size;) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(CLONE_CHUNK, size - done));
        const size_t got = pread_full(input.fd, chunk.data(), want, from + done);
        std::fill(chunk.begin() + static_cast<std::ptrdiff_t>(got), chunk.begin() + static_cast<std::ptrdiff_t>(want), 0);
        if (!write_into_clone(out, chunk.data(), static_cast<int64_t>(want), to + done)) return false;
        done += static_cast<int64_t>(want);
    }
    return true;
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

}  // namespace fits_internal
