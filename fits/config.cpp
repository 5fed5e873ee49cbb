// The library's configuration, chosen by the program at start, and what
// depends on it.
#include "config.hpp"

#include "messages.hpp"

namespace {
FitsConfig current = FitsConfig::common;
}

void fits_set_config(FitsConfig config) { current = config; }

FitsConfig fits_config() { return current; }

namespace fits_internal {

long lowest_bitpix() { return current == FitsConfig::quadsplit ? MOST_NEGATIVE_BITPIX : -32; }

bool double_items_enabled() { return current == FitsConfig::quadsplit; }

const char* short_block_line() {
    return current == FitsConfig::quadsplit ? messages::SHORT_DATA_BLOCK_QUADSPLIT : messages::SHORT_DATA_BLOCK;
}

}  // namespace fits_internal
