// What the fuzz targets share: an image plane and a way to hand bytes to
// the reader as a file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fits.hpp"

namespace fuzz {

// A plane mapped once; zero at start, reused by every input.
ImagePlane& plane();

// A path naming a file (in memory) that holds exactly these bytes, until the
// next call.
const char* file_holding(const uint8_t* data, size_t size);

// Ends the run so that the fuzzer keeps the input as a crash: a property
// that must hold did not.
[[noreturn]] void broken(const char* what);

}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
