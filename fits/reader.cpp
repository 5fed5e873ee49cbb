// fits_read: a header chain, the describing keywords, then the data blocks.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "config.hpp"
#include "data_path.hpp"
#include "fits.hpp"
#include "pixel_codec.hpp"
#include "posix_io.hpp"

using namespace fits_internal;

namespace {

constexpr int READ_OPEN_FAILED = 1;
constexpr int READ_NO_MEMORY = -1;
constexpr int READ_SHORT_HEADER = -2;
constexpr int READ_NOT_FITS = -3;
constexpr int READ_BAD_BITPIX = -4;

// Starting values of the data range; any pixel value read replaces them.
constexpr int64_t DATAMAX_START = -4026531839LL;
constexpr int64_t DATAMIN_START = 4026531839LL;

int not_fits() {
    std::puts("rf: File not in FITS format");
    return READ_NOT_FITS;
}

// Allocates a header block and reads the next 2880 header bytes into it.
// The block is handed to `slot` before anything can fail, so the chain
// always holds every block that was allocated.
int read_header_block(int fd, HeaderBlock*& slot) {
    slot = new (std::nothrow) HeaderBlock;
    if (slot == nullptr) {
        std::puts("rf: Error allocating memory");
        return READ_NO_MEMORY;
    }
    slot->link = nullptr;
    if (read_full(fd, slot->cards, FITS_BLOCK) != static_cast<size_t>(FITS_BLOCK)) {
        std::puts("rf: File read error");
        return READ_SHORT_HEADER;
    }
    return 0;
}

long integer_value(const char* text) { return std::strtol(text, nullptr, 10); }

// NAXIS1 or NAXIS2: present and positive.
int read_axis(const HeaderBlock* first, const char* keyword, long& length) {
    char value[VALUE_BUF_LEN];
    if (fits_find_key(first, keyword, value) < 0) return not_fits();
    length = integer_value(value);
    return length > 0 ? 0 : not_fits();
}

// An axis of an image in accepted form that is longer than the plane.
int check_axis_size(const char* keyword, long length, int16_t& axis) {
    if (length > MAX_AXIS) {
        std::printf("rf: Error - %s = %ld is larger than the limit of %d\n", keyword, length, MAX_AXIS);
        return READ_NOT_FITS;
    }
    axis = static_cast<int16_t>(length);
    return 0;
}

// The keywords that describe the image, all from the first header block.
// `bitpix` receives BITPIX before it is narrowed into the record.
int check_describing_keywords(const HeaderBlock* first, FitsHeader& header, long& bitpix) {
    char value[VALUE_BUF_LEN];
    if (fits_find_key(first, "SIMPLE", value) < 0) return not_fits();  // its value is not examined
    if (fits_find_key(first, "NAXIS", value) < 0 || integer_value(value) != 2) return not_fits();
    header.naxis = 2;
    // Both axes pass the form tests before either is measured against the
    // plane: a file that is not an image of accepted form (NAXIS2 0, say)
    // gets that line whatever its NAXIS1.
    long length1 = 0;
    long length2 = 0;
    if (int rc = read_axis(first, "NAXIS1", length1)) return rc;
    if (int rc = read_axis(first, "NAXIS2", length2)) return rc;
    if (int rc = check_axis_size("NAXIS1", length1, header.naxis1)) return rc;
    if (int rc = check_axis_size("NAXIS2", length2, header.naxis2)) return rc;

    if (fits_find_key(first, "BITPIX", value) < 0) return not_fits();
    bitpix = integer_value(value);
    if (bitpix < lowest_bitpix()) return not_fits();
    header.bitpix = static_cast<int16_t>(bitpix);
    header.bytes_per_pixel = static_cast<int16_t>(header.bitpix / 8);
    header.npixels = static_cast<int32_t>(header.naxis1) * header.naxis2;

    header.bzero = fits_find_key(first, "BZERO", value) < 0 ? 0.0 : std::strtod(value, nullptr);
    if (fits_find_key(first, "BSCALE", value) < 0) {
        header.bscale = 1.0;
    } else {
        const double bscale = std::strtod(value, nullptr);
        if (bscale == 0.0) return not_fits();  // also text that is not a number; NaN passes
        header.bscale = bscale;
    }
    return 0;
}

// Reads header blocks until one holds END; `ncards` takes END's card number.
int read_rest_of_header(int fd, FitsHeader& header) {
    char value[VALUE_BUF_LEN];
    HeaderBlock* last = header.blocks;
    int64_t blocks_before = 0;
    int32_t end_in_block = fits_find_key(last, "END", value);
    while (end_in_block < 0) {
        if (blocks_before + 1 >= MAX_HEADER_BLOCKS) {
            std::printf("rf: Error - no END card in the first %d header blocks\n", MAX_HEADER_BLOCKS);
            return READ_NOT_FITS;
        }
        if (int rc = read_header_block(fd, last->link)) return rc;
        last = last->link;
        ++blocks_before;
        end_in_block = fits_find_key(last, "END", value);  // earlier blocks hold no END
    }
    const int64_t end_card = blocks_before * CARDS_PER_BLOCK + end_in_block;
    header.ncards = static_cast<int16_t>(end_card);
    return 0;
}

// Value truncated toward zero, saturated to the 64-bit range.
int64_t truncate_to_int64(float v) {
    if (v >= 9.2233720e18f) return INT64_MAX;
    if (v <= -9.2233720e18f) return INT64_MIN;
    return static_cast<int64_t>(v);
}

}  // namespace

int fits_read(const char* file_name, FitsHeader& header, ImagePlane& plane) {
    UniqueFd fd = open_for_reading(file_name);
    if (!fd) {
        std::printf("rf: Error - file not found ( %s )\n", file_name);
        return READ_OPEN_FAILED;
    }
    if (int rc = read_header_block(fd.get(), header.blocks)) return rc;

    long bitpix = 0;
    if (int rc = check_describing_keywords(header.blocks, header, bitpix)) return rc;
    if (int rc = read_rest_of_header(fd.get(), header)) return rc;

    const ItemEncoding* enc = bitpix > 32 ? nullptr : find_encoding(header.bytes_per_pixel);
    if (enc == nullptr) {
        std::printf("rf:  %ld BITPIX format not supported.\n", bitpix);
        return READ_BAD_BITPIX;
    }

    const DataLayout layout{enc, data_block_count(header.npixels, enc->item_size), header.npixels,
                            header.naxis1};
    header.datamax = DATAMAX_START;
    header.datamin = DATAMIN_START;
    const ReadSummary summary = read_data(fd.get(), layout, plane);
    for (int64_t i = 0; i < summary.short_blocks; ++i) std::puts(short_block_line());

    // Applying the range rule to the extremes gives what applying it to
    // every value in turn would give.
    if (summary.max > static_cast<float>(header.datamax)) header.datamax = truncate_to_int64(summary.max);
    if (static_cast<float>(header.datamin) > summary.min) header.datamin = truncate_to_int64(summary.min);
    return 0;
}
