// What the fuzz targets share: an image plane and a way to hand bytes to
// the reader as a file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fits.hpp"

namespace fuzz {

// Pixels of the largest image that a target reads whole. An input of a few
// kilobytes may declare 8192 x 8192 pixels, nearly all of them missing and
// read as zero: reading, comparing and writing those took seconds for one
// input, in the same loops that a small image runs through. A larger image
// is opened and its header checked, and its data are streamed without being
// converted. Either axis alone still reaches MAX_AXIS (8192 x 1 is within).
constexpr int64_t kMaxWholePixels = 1 << 13;

// A plane mapped once; zero at start, reused by every input.
ImagePlane& plane();

// Copies row y of the plane's first `width` columns to `values`, bit for bit.
void plane_row(int32_t y, size_t width, float* values);

// A path naming a file (in memory) that holds exactly these bytes, until the
// next call.
const char* file_holding(const uint8_t* data, size_t size);

// Ends the run so that the fuzzer keeps the input as a crash: a property
// that must hold did not.
[[noreturn]] void broken(const char* what);

}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
