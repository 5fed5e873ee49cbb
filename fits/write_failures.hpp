// The failure lines that the FITS writer and the PPM export share.
#pragma once

namespace fits_internal {

constexpr const char* NO_HEADER_CHAIN_LINE = "rf: Error - no header block defined, file not written";
constexpr const char* CANNOT_OPEN_LINE = "wf: Error opening file for writing";

}  // namespace fits_internal
