#include "config.hpp"

namespace {
FitsConfig current = FitsConfig::common;
}

void fits_set_config(FitsConfig config) { current = config; }

FitsConfig fits_config() { return current; }

namespace fits_internal {

long lowest_bitpix() { return current == FitsConfig::quadsplit ? MOST_NEGATIVE_BITPIX : -32; }

bool double_items_enabled() { return current == FitsConfig::quadsplit; }

const char* short_block_line() {
    return current == FitsConfig::quadsplit
               ? "rf warning: Error reading FITS data- EOF before end of data"
               : "rf: Error reading FITS data- EOF encountered before end of data";
}

}  // namespace fits_internal
