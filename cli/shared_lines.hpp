// Lines that several programs print alike.
#pragma once

#include <string>

namespace cli {

// Printed after the library's line that says why an image named on the
// command line cannot be read; the program then ends with status 1.
constexpr const char* READ_FAILED = "Error reading FITS file, program terminating.";

// Prints "<program>: Error - <file> is cut short (pixels missing from its
// data), <consequence>" for a file whose data end before its last pixel.
void print_cut_short(const char* program, const std::string& file, const std::string& consequence);

}  // namespace cli
