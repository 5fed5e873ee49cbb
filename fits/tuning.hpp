// Every size the library chooses for moving data. None of them changes a
// byte of what is read or written, only how much goes at a time; each was
// measured on the 8192 x 8192 bench frames.
//
// Words used for the units, one meaning each:
//  - band:  rows of a stream handed over at a time, about BAND_BYTES of items
//           (fits_band_rows sizes a caller's bands from it);
//  - strip: the few rows that the image plane's reader and writer convert
//           and transpose at a time (plane_io.cpp, plane_strips.cpp);
//  - chunk: bytes moved through memory at a time by a copy or a fill;
//  - batch: written bytes gathered before their write-back is started.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fits_internal::tuning {

// Items in one band: small enough for the caches, large enough that each
// read or write of the kernel moves a useful amount.
constexpr int64_t BAND_BYTES = 1 << 20;

// Rows of a strip, so that each plane column receives a run of 64 bytes;
// narrow images take more rows so that a strip holds at least
// STRIP_MIN_ITEMS items.
constexpr int64_t STRIP_ROWS = 16;
constexpr int64_t STRIP_MIN_ITEMS = 4096;

// Values between the rows of a strip beyond its width: rows of a wide
// image 32 KiB apart would all fall into the same few cache sets, as the
// plane's columns do; one cache line of slack spreads them.
constexpr int64_t STRIP_ROW_PAD = 16;

// Chunks: of a copy between files through memory, and of the zeros of a
// fill (where the kernel cannot copy inside itself); of a rewrite's bytes
// moved into a clone; of a scan or a copy that reads a few pages at a time
// (a FIFO's data, a clone's old fill); of a PPM picture's rows.
constexpr size_t COPY_CHUNK = 256 * 1024;
constexpr size_t CLONE_CHUNK = 1 << 20;
constexpr size_t SCAN_CHUNK = 64 * 1024;
constexpr size_t PPM_CHUNK = 64 * 1024;

// Write-back of a new file is started in batches of this many bytes while
// it is written: large enough for the disk to take them in long runs, small
// enough that little is left for the flush at the end. (On the 8192 x 8192
// bench frame 2 MiB gave quadsplit and boxpatch 5 to 15% less time than
// 8 MiB, and 32 MiB 20% more.)
constexpr int64_t WRITEBACK_BATCH = 2 << 20;

// The unit in which a file system shares a clone's blocks. A write that
// covers only part of a shared block makes the file system read the block
// back first, so writes into a clone are widened to whole shared blocks.
constexpr int64_t SHARED_BLOCK = 4096;

}  // namespace fits_internal::tuning
