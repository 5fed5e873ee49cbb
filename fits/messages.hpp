// Every line the library prints, in one table. Lines without a conversion
// are printed with puts (which adds the line end); the formats end in "\n"
// and name their arguments in the comment beside them. All go to standard
// output except the rewriter's waiting notice, which goes to standard error.
#pragma once

namespace fits_internal::messages {

// Reading an image.
constexpr const char* FILE_NOT_FOUND = "rf: Error - file not found ( %s )\n";  // file name
constexpr const char* NO_MEMORY = "rf: Error allocating memory";
constexpr const char* HEADER_READ_ERROR = "rf: File read error";
constexpr const char* NOT_FITS = "rf: File not in FITS format";
constexpr const char* AXIS_TOO_LARGE = "rf: Error - %s = %ld is larger than the limit of %d\n";  // keyword,
                                                                                                 // length, limit
constexpr const char* NO_END_CARD = "rf: Error - no END card in the first %d header blocks\n";  // blocks
constexpr const char* BITPIX_NOT_SUPPORTED = "rf:  %ld BITPIX format not supported.\n";       // BITPIX
// One line per data block that came short, worded for each configuration.
constexpr const char* SHORT_DATA_BLOCK = "rf: Error reading FITS data- EOF encountered before end of data";
constexpr const char* SHORT_DATA_BLOCK_QUADSPLIT = "rf warning: Error reading FITS data- EOF before end of data";

// Writing a file.
constexpr const char* NO_HEADER_CHAIN = "rf: Error - no header block defined, file not written";
constexpr const char* CANNOT_OPEN = "wf: Error opening file for writing";
constexpr const char* WRITE_FAILED = "wf:  Error writing FITS file";
constexpr const char* CANNOT_ENCODE =  // bytes_per_pixel, NAXIS1, NAXIS2, npixels (int64_t)
    "wf: Error - cannot encode bytes_per_pixel %d, NAXIS1 %d, NAXIS2 %d, %lld pixels; file not written";
constexpr const char* PPM_TOO_LARGE =  // NAXIS1, NAXIS2
    "wf: Error - NAXIS1 %d, NAXIS2 %d is larger than the image plane, file not written\n";
constexpr const char* PPM_WRITE_FAILED = "wf: Error writing PPM file";

// A header card that needs a new block when none can be allocated; the
// process then ends with status 1.
constexpr const char* CARD_NO_MEMORY = "Error allocating memory!";

// Standard error, once, while a rewriter waits for another's lock.
constexpr const char* WAITING_FOR_REWRITER =  // program, file name
    "%s: waiting for another program to finish rewriting %s\n";

}  // namespace fits_internal::messages
