// Opening an image: its header chain, the describing keywords, and where its
// data lie; then its rows as raw items, taken with the stream's row cursor.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config.hpp"
#include "data_layout.hpp"
#include "fits.hpp"
#include "image_input.hpp"
#include "messages.hpp"
#include "pixel_codec.hpp"
#include "posix_io.hpp"
#include "rewrite_lock.hpp"
#include "tuning.hpp"

using namespace fits_internal;

namespace {

int not_fits() {
    std::puts(messages::NOT_FITS);
    return FITS_NOT_IMAGE;
}

// Allocates a header block and reads the next 2880 header bytes into it.
// The block is handed to `slot` before anything can fail, so the chain
// always holds every block that was allocated.
int read_header_block(int fd, HeaderBlock*& slot) {
    slot = new (std::nothrow) HeaderBlock;
    if (slot == nullptr) {
        std::puts(messages::NO_MEMORY);
        return FITS_NO_MEMORY;
    }
    slot->link = nullptr;
    if (read_full(fd, slot->cards, FITS_BLOCK) != static_cast<size_t>(FITS_BLOCK)) {
        std::puts(messages::HEADER_READ_ERROR);
        return FITS_SHORT_HEADER;
    }
    return FITS_OK;
}

long integer_value(const char* text) { return std::strtol(text, nullptr, 10); }

// NAXIS1 or NAXIS2: present and positive.
int read_axis(const HeaderBlock* first, const char* keyword, long& length) {
    char value[VALUE_BUF_LEN];
    if (fits_find_key(first, keyword, value) < 0) return not_fits();
    length = integer_value(value);
    return length > 0 ? 0 : not_fits();
}

// An axis of an image in accepted form that is longer than the limit.
int check_axis_size(const char* keyword, long length, int16_t& axis) {
    if (length > MAX_AXIS) {
        std::printf(messages::AXIS_TOO_LARGE, keyword, length, MAX_AXIS);
        return FITS_NOT_IMAGE;
    }
    axis = static_cast<int16_t>(length);
    return FITS_OK;
}

// The keywords that describe the image, all from the first header block.
// `bitpix` receives BITPIX before it is narrowed into the record.
int check_describing_keywords(const HeaderBlock* first, long lowest_bitpix, FitsHeader& header, long& bitpix) {
    char value[VALUE_BUF_LEN];
    if (fits_find_key(first, "SIMPLE", value) < 0) return not_fits();  // its value is not examined
    if (fits_find_key(first, "NAXIS", value) < 0 || integer_value(value) != 2) return not_fits();
    header.naxis = 2;
    // Both axes pass the form tests before either is measured against the
    // limit: a file that is not an image of accepted form (NAXIS2 0, say)
    // gets that line whatever its NAXIS1.
    long length1 = 0;
    long length2 = 0;
    if (int rc = read_axis(first, "NAXIS1", length1)) return rc;
    if (int rc = read_axis(first, "NAXIS2", length2)) return rc;
    if (int rc = check_axis_size("NAXIS1", length1, header.naxis1)) return rc;
    if (int rc = check_axis_size("NAXIS2", length2, header.naxis2)) return rc;

    if (fits_find_key(first, "BITPIX", value) < 0) return not_fits();
    bitpix = integer_value(value);
    if (bitpix < lowest_bitpix) return not_fits();
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
    return FITS_OK;
}

// Reads header blocks until one holds END; `ncards` takes END's card number
// and `blocks` the number of header blocks.
int read_rest_of_header(int fd, FitsHeader& header, int64_t& blocks) {
    char value[VALUE_BUF_LEN];
    HeaderBlock* last = header.blocks;
    int64_t blocks_before = 0;
    int32_t end_in_block = fits_find_key(last, "END", value);
    while (end_in_block < 0) {
        if (blocks_before + 1 >= MAX_HEADER_BLOCKS) {
            std::printf(messages::NO_END_CARD, MAX_HEADER_BLOCKS);
            return FITS_NOT_IMAGE;
        }
        if (int rc = read_header_block(fd, last->link)) return rc;
        last = last->link;
        ++blocks_before;
        end_in_block = fits_find_key(last, "END", value);  // earlier blocks hold no END
    }
    const int64_t end_card = blocks_before * CARDS_PER_BLOCK + end_in_block;
    header.ncards = static_cast<int16_t>(end_card);
    blocks = blocks_before + 1;
    return FITS_OK;
}

// What cannot be read at an offset (a FIFO) is copied, up to `limit` bytes,
// into a file in memory that can. Returns the copy, or the file itself.
UniqueFd readable_at_offsets(UniqueFd fd, int64_t limit, int64_t& offset, int64_t& size) {
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) {
        size = st.st_size;
        return fd;
    }
    UniqueFd copy(::memfd_create("fits-data", MFD_CLOEXEC));
    size = 0;
    offset = 0;
    if (!copy) return copy;  // read as a file that has no data
    uint8_t chunk[tuning::SCAN_CHUNK];
    while (size < limit) {
        const size_t got =
            read_full(fd.get(), chunk, static_cast<size_t>(std::min<int64_t>(sizeof chunk, limit - size)));
        if (got == 0 || !write_full(copy.get(), chunk, got)) break;
        size += static_cast<int64_t>(got);
    }
    return copy;
}

}  // namespace

namespace fits_internal {

int open_image(const char* file_name, long lowest_bitpix, FitsHeader& header, FitsInput& input, OpenFor purpose) {
    fits_close_image(input);
    LockOutcome lock = LockOutcome::none;
    UniqueFd fd = purpose == OpenFor::rewriting ? open_locked(file_name, lock) : open_for_reading(file_name);
    input.lock_failed = lock == LockOutcome::failed;
    if (!fd) {
        std::printf(messages::FILE_NOT_FOUND, file_name);
        return FITS_CANNOT_OPEN;
    }
    if (int rc = read_header_block(fd.get(), header.blocks)) return rc;

    long bitpix = 0;
    int64_t header_blocks = 0;
    if (int rc = check_describing_keywords(header.blocks, lowest_bitpix, header, bitpix)) return rc;
    if (int rc = read_rest_of_header(fd.get(), header, header_blocks)) return rc;

    const ItemEncoding* enc = bitpix > 32 ? nullptr : find_encoding(header.bytes_per_pixel);
    if (enc == nullptr) {
        std::printf(messages::BITPIX_NOT_SUPPORTED, bitpix);
        return FITS_BAD_BITPIX;
    }

    const int64_t data_bytes = data_block_count(header.npixels, enc->item_size) * FITS_BLOCK;
    int64_t offset = header_blocks * FITS_BLOCK;
    int64_t size = 0;
    fd = readable_at_offsets(std::move(fd), data_bytes, offset, size);
    header.data_end = header_blocks * FITS_BLOCK + data_bytes;

    // The data blocks that the file holds whole; every other one came short.
    const int64_t held = within(data_bytes, size - offset);
    for (int64_t i = held / FITS_BLOCK; i < data_bytes / FITS_BLOCK; ++i) std::puts(short_block_line());

    const int64_t item_bytes = header.npixels * enc->item_size;
    input.fd = fd.release();
    input.item_size = enc->item_size;
    input.row_bytes = static_cast<int64_t>(header.naxis1) * enc->item_size;
    input.rows = header.naxis2;
    input.next_row = 0;
    input.data_offset = offset;
    input.present = std::min(held, item_bytes) / enc->item_size * enc->item_size;  // a part item is missing
    return FITS_OK;
}

RowSpan take_rows(FitsInput& input, int64_t rows, int64_t byte_limit) {
    RowSpan span{};
    span.rows = within(rows, input.rows - input.next_row);
    span.start = input.next_row * input.row_bytes;
    span.bytes = within(span.rows * input.row_bytes, byte_limit);
    span.held = within(span.bytes, input.present - span.start);
    input.next_row += span.rows;
    return span;
}

void read_items(const FitsInput& input, int64_t start, int64_t bytes, uint8_t* items) {
    const int64_t held = within(bytes, input.present - start);
    const size_t got = pread_full(input.fd, items, static_cast<size_t>(held), input.data_offset + start);
    std::memset(items + got, 0, static_cast<size_t>(bytes) - got);  // a file cut short meanwhile reads as zero too
}

}  // namespace fits_internal

int fits_open_image(const char* file_name, FitsHeader& header, FitsInput& input) {
    return open_image(file_name, MOST_NEGATIVE_BITPIX, header, input);
}

int fits_open_image_to_rewrite(const char* file_name, FitsHeader& header, FitsInput& input) {
    return open_image(file_name, MOST_NEGATIVE_BITPIX, header, input, OpenFor::rewriting);
}

int64_t fits_read_rows(FitsInput& input, uint8_t* items, int64_t rows) {
    const RowSpan span = take_rows(input, rows);
    read_items(input, span.start, span.bytes, items);
    return span.rows;
}

int64_t fits_band_rows(int64_t row_bytes) {
    return row_bytes > 0 && row_bytes < tuning::BAND_BYTES ? tuning::BAND_BYTES / row_bytes : 1;
}

void fits_close_image(FitsInput& input) {
    if (input.fd >= 0) ::close(input.fd);
    input.fd = -1;
}

FitsInput::~FitsInput() { fits_close_image(*this); }
