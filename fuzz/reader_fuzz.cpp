// fits_read on arbitrary bytes. The first byte chooses the configuration
// (odd: quadsplit's); the rest is the file. An image that is read is then
// edited as quadsplit edits it and written out, so that the writer and the
// header editor meet every chain the reader accepts. An image of more than
// kMaxWholePixels is only opened: its header is checked and edited, and its
// data are neither read nor written.
#include <cstring>

#include "fuzz_support.hpp"

namespace {

int chain_length(const HeaderBlock* block) {
    int n = 0;
    for (; block != nullptr; block = block->link) ++n;
    return n;
}

void check_header(const FitsHeader& header) {
    if (header.naxis1 < 1 || header.naxis1 > MAX_AXIS || header.naxis2 < 1 || header.naxis2 > MAX_AXIS)
        fuzz::broken("an image was read with axes outside 1..MAX_AXIS");
    if (header.blocks == nullptr || chain_length(header.blocks) > MAX_HEADER_BLOCKS)
        fuzz::broken("the chain of an image read is empty or too long");
    char value[VALUE_BUF_LEN];
    if (fits_find_key(header.blocks, "END", value) < 1) fuzz::broken("an image was read without END");
}

// quadsplit's edits: a quarter of the columns and one more card.
void edit_header(FitsHeader& header) {
    header.naxis1 = static_cast<int16_t>(header.naxis1 / 4);
    header.npixels = static_cast<int64_t>(header.naxis1) * header.naxis2;
    if (fits_set_card("NAXIS1", "1", "PIXELS ON 1ST MOST VARYING AXIS", header) == nullptr)
        fuzz::broken("an image was read without NAXIS1");
    HeaderBlock* const first = header.blocks;
    if (fits_insert_card("ZPREMPCH", "1", "PREAMP CHANNEL NUMBER (1-4)", header) == nullptr || header.blocks != first)
        fuzz::broken("inserting before END failed or moved the chain");
}

// The header only, of an image too large to read whole. True when it was one.
bool checked_as_large(const char* path) {
    FitsHeader header;
    FitsInput input;
    const bool large = fits_open_image(path, header, input) == FITS_OK && header.npixels > fuzz::kMaxWholePixels;
    if (large) {
        check_header(header);
        edit_header(header);
    }
    fits_free_header(header);
    return large;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    fits_set_config(data[0] & 1 ? FitsConfig::quadsplit : FitsConfig::common);
    const char* path = fuzz::file_holding(data + 1, size - 1);
    if (checked_as_large(path)) return 0;
    FitsHeader header;
    if (fits_read(path, header, fuzz::plane()) == FITS_OK) {
        check_header(header);
        fits_write("/dev/null", header, fuzz::plane());
        edit_header(header);
        fits_rewrite("/dev/null", header, fuzz::plane());
    }
    fits_free_header(header);
    return 0;
}
