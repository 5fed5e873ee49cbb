// A rewrite made as a clone of the old file (FICLONE), into which only what
// differs is written. Every offset is the same in both files, since the
// header keeps its length; the result is byte for byte what writing the
// file whole gives.
#pragma once

#include <cstdint>

#include "fits.hpp"

namespace fits_internal {

// Starts the new file of `out` (open, still empty) as a clone of the
// input's file, when that is a regular file that begins with the very
// header to be written and the file system can clone it. False otherwise,
// with the new file still empty.
bool try_clone(const FitsHeader& header, const FitsInput& input, FitsOutput& out);

// Writes `size` bytes at `offset` of the clone.
bool write_into_clone(FitsOutput& out, const uint8_t* bytes, int64_t size, int64_t offset);

// Writes zeros over `size` bytes at `offset` of the clone.
bool zero_clone(FitsOutput& out, int64_t offset, int64_t size);

// Puts `size` item bytes of the input, from item byte `start` on, at the
// clone's current place (free when they are the source's own bytes there).
bool copy_into_clone(const FitsInput& input, int64_t start, int64_t size, FitsOutput& out);

// Makes the rest of the data zero, as in a file written whole, and the file
// as long as its data blocks when the old one lacked its fill.
bool finish_clone(FitsOutput& out);

}  // namespace fits_internal
