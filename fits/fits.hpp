// The FITS library: two-axis FITS images from a detector's raw frames.
//
//  - An image's header is a chain of 2880-byte blocks of raw card text,
//    owned by a FitsHeader: read whole, looked up and edited in place, and
//    written out again byte for byte.
//  - Its data move as streams of raw items in the file's own encoding
//    (big-endian), a band of rows at a time: FitsInput reads them and
//    FitsOutput writes them; rows passed on unchanged are copied inside the
//    kernel, or, in a rewrite made as a clone of the old file, not at all.
//  - Every file is written by atomic, durable replacement: the new content
//    goes to a temporary file beside the target, is flushed to stable
//    storage and renamed over the target, and the folder is flushed. A
//    failure or a signal leaves the old file as it was.
//  - The image plane routines (fits_read, fits_write, fits_rewrite,
//    fits_write_ppm) hold a whole image as single-precision pixels; they are
//    consumers of the streams.
//
// This is the only header the programs include. The library is not
// reentrant: one file operation at a time. Every failure is reported by one
// line on standard output, printed by the routine that meets it, and by a
// result code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// ---------------------------------------------------------------------------
// Sizes and results

constexpr int FITS_BLOCK = 2880;       // bytes in one FITS block, header or data
constexpr int CARD_LEN = 80;           // characters in one header card
constexpr int CARDS_PER_BLOCK = 36;    // cards in one header block
constexpr int MAX_AXIS = 8192;         // longest NAXIS1 and NAXIS2 taken; the image plane's extent

// Most header blocks the reader takes while it looks for END (28.8 MB,
// 360000 cards; real headers have at most a few hundred blocks). Without a
// bound a file with no END, such as /dev/zero, would grow the chain until
// memory ran out.
constexpr int MAX_HEADER_BLOCKS = 10000;

// Smallest value buffer that fits_find_key may be given; fits_find_key_n
// needs the larger of its n and 71 bytes.
constexpr int VALUE_BUF_LEN = 85;

// Results of the routines that read and write images. The numbers are
// those the routines have always returned; callers may test either.
enum FitsResult : int {
    FITS_OK = 0,
    FITS_CANNOT_OPEN = 1,     // the file cannot be opened
    FITS_NO_MEMORY = -1,      // a header block cannot be allocated
    FITS_SHORT_HEADER = -2,   // a header block came short
    FITS_NOT_IMAGE = -3,      // not an accepted two-axis image, too large, or no END
    FITS_BAD_BITPIX = -4,     // BITPIX of no item type
    FITS_WRITE_FAILED = -1,   // a file was not written; the old one is kept
};

// ---------------------------------------------------------------------------
// The header chain

// One 2880-byte header block in a singly linked chain.
struct HeaderBlock {
    HeaderBlock* link;        // next block, or null in the last block
    char cards[FITS_BLOCK];   // 36 cards of 80 characters, no terminators
};

// Descriptor of one two-axis image and owner of its header chain.
struct FitsHeader {
    int16_t naxis = 0;
    int16_t naxis1 = 0;            // pixels along NAXIS1 (varies fastest in the file)
    int16_t naxis2 = 0;            // pixels along NAXIS2
    double bscale = 1.0;           // recorded, never applied
    double bzero = 0.0;            // recorded, never applied
    int16_t bitpix = 0;
    int16_t bytes_per_pixel = 0;   // bitpix / 8; chooses the item encoding
    int64_t npixels = 0;           // pixel count; the writer counts data blocks from it
    int64_t datamax = 0;           // largest pixel value fits_read read, truncated
    int64_t datamin = 0;           // smallest pixel value fits_read read, truncated
    int16_t ncards = 0;            // card counter (see the card routines)
    int16_t card_slot = 0;         // position 1..36 of the next card writer call
    HeaderBlock* blocks = nullptr; // the header chain, or null
    int64_t data_end = -1;         // offset just past the data blocks of the file read,
                                   // where what follows them begins; -1 if none was read
};

// Releases every block from `blocks` on and sets `blocks` to null.
void fits_free_header(FitsHeader& header);

// ---------------------------------------------------------------------------
// Reading an image as a stream of raw items

// An image opened for reading its data. Owns the open file.
struct FitsInput {
    FitsInput() = default;
    FitsInput(const FitsInput&) = delete;
    FitsInput& operator=(const FitsInput&) = delete;
    ~FitsInput();

    int fd = -1;              // the data's source: the file, or a copy of its data
    int32_t item_size = 0;    // bytes of one item, |bytes_per_pixel|
    int64_t row_bytes = 0;    // bytes of one row of items
    int64_t rows = 0;         // rows of the image (NAXIS2)
    int64_t next_row = 0;     // the row that the next read or copy starts at
    int64_t data_offset = 0;  // where the items begin in fd
    int64_t present = 0;      // item bytes that the file holds, whole items only;
                              // the items after them read as zero
    bool lock_failed = false; // opened to rewrite, but its lock could not be taken
};

// Opens an image: reads its header chain and checks the describing keywords
// (SIMPLE, NAXIS 2, NAXIS1 and NAXIS2 from 1 to MAX_AXIS, BITPIX of an item
// type down to -64, BSCALE not 0), printing a line for each data block that
// comes short, but reads no data. On success `input` is ready at row 0.
// Results: FITS_OK, FITS_CANNOT_OPEN, FITS_NO_MEMORY, FITS_SHORT_HEADER,
// FITS_NOT_IMAGE (also for no END within MAX_HEADER_BLOCKS), FITS_BAD_BITPIX.
int fits_open_image(const char* file_name, FitsHeader& header, FitsInput& input);

// Opens an image that the caller means to replace with fits_create_rewrite,
// as fits_open_image does, and holds the file's exclusive advisory lock
// (flock) until the input is closed, so that one rewriter at a time works on
// a file and each works on the file as the one before left it. Another
// holder is waited for, with one notice on standard error; when the name
// no longer refers to the file once it is locked (the holder replaced it),
// the new file is opened instead. Where the file system has no locks
// (ENOLCK, EOPNOTSUPP) the image is opened without one.
int fits_open_image_to_rewrite(const char* file_name, FitsHeader& header, FitsInput& input);

// True when the file ends before the image's last item: the items after
// `present` are missing, not zero. A file that lacks only the fill after its
// last item is whole.
inline bool fits_image_cut_short(const FitsInput& input) { return input.present < input.row_bytes * input.rows; }

// Rows in one band of a stream for rows of `row_bytes`: about 1 MiB of
// items, at least one row. Small enough for the caches, large enough that
// each read or write of the kernel moves a useful amount.
int64_t fits_band_rows(int64_t row_bytes);

// Reads the next `rows` rows (fewer at the end) as raw items into `items`,
// which holds rows * row_bytes bytes. Returns the number of rows read.
int64_t fits_read_rows(FitsInput& input, uint8_t* items, int64_t rows);

// Reads `count` items of row `row` (from 0) of an opened image, from item
// `first` of the row on, as raw items into `items`, without reading the rest
// of the row and without moving the stream (next_row): a few pixels of many
// rows. The items must lie within the row. Items the file does not hold read
// as zero, as with fits_read_rows.
void fits_read_row_items(const FitsInput& input, int64_t row, int64_t first, int64_t count, uint8_t* items);

// Closes the file; also done when the record goes.
void fits_close_image(FitsInput& input);

// An image opened for its data together with its header chain, the file
// closed (and any lock on it released) and the chain freed when the record
// goes: what a program keeps for each image it works on.
struct FitsImage {
    FitsImage() = default;
    FitsImage(const FitsImage&) = delete;
    FitsImage& operator=(const FitsImage&) = delete;
    ~FitsImage() { fits_free_header(header); }

    FitsHeader header;
    FitsInput input;
};

// ---------------------------------------------------------------------------
// Writing an image as a stream of raw items

namespace fits_internal {
class FileReplacement;
}

// A file being written to replace another atomically and durably: nothing
// is visible under its name until fits_finish_image puts it in place.
struct FitsOutput {
    FitsOutput();
    FitsOutput(const FitsOutput&) = delete;
    FitsOutput& operator=(const FitsOutput&) = delete;
    ~FitsOutput();  // an unfinished file is removed

    std::unique_ptr<fits_internal::FileReplacement> file;
    int64_t data_offset = 0;   // where the data blocks begin in the new file
    int64_t data_bytes = 0;    // bytes of the data blocks
    int64_t written = 0;       // data bytes written so far
    int64_t tail_offset = -1;  // what to keep of the old file after its data, or -1
    int source_fd = -1;        // the file being rewritten (not owned), or -1
    bool cloned = false;       // the new file began as a clone of source_fd
    int64_t source_size = 0;   // bytes of the source when it was cloned
    int64_t clone_end = 0;     // end of what has been written into the clone
    std::string failure;       // the line that fits_finish_image prints, once one happened
};

// What follows the data: nothing, or the bytes that followed the data blocks
// of the file as read (from the record's data_end).
enum class FitsTail { none, keep };

// Starts writing `file_name`: writes the header chain, after which the data
// blocks that header.npixels and bytes_per_pixel ask for are written by
// fits_write_rows and fits_copy_rows. Prints nothing: a failure is kept and
// reported by fits_finish_image, and later writes do nothing.
void fits_create_image(const char* file_name, const FitsHeader& header, FitsOutput& out, FitsTail tail);

// How fits_create_rewrite makes the new file: written whole, or, where the
// file system can share a file's blocks (FICLONE: XFS, btrfs), as a clone
// of the old file into which only what differs is written, so that rows
// passed on by fits_copy_rows cost nothing. The file is the same, byte for
// byte, either way; where cloning is refused it is written whole.
enum class FitsRewrite { whole, changes };

// Starts replacing the file that `input` was opened from, under the name
// `file_name`, as fits_create_image with FitsTail::keep does: the header
// chain, the data, then the bytes that followed the old data blocks. A file
// opened with fits_open_image_to_rewrite whose lock failed is refused ("wf:
// Error opening file for writing"). `input` must stay open until
// fits_finish_image has put the new file in place.
void fits_create_rewrite(const char* file_name, const FitsHeader& header, FitsInput& input, FitsOutput& out,
                         FitsRewrite how);

// Appends raw items (big-endian) to the data; bytes beyond the data blocks
// are dropped.
void fits_write_rows(FitsOutput& out, const uint8_t* items, int64_t bytes);

// Appends the input's next `rows` rows unchanged, inside the kernel where
// the file holds them; missing items are written as zero.
void fits_copy_rows(FitsInput& input, FitsOutput& out, int64_t rows);

// Fills the data blocks up with zero bytes, appends the kept tail, flushes
// the file to stable storage and puts it in place, then flushes its folder,
// so that the file survives a crash once this returns FITS_OK; called once
// per file. Returns FITS_OK, or FITS_WRITE_FAILED after the line of the
// first failure ("wf: Error opening file for writing", "wf:  Error writing
// FITS file", or the refusal of a record without a chain or of an encoding).
int fits_finish_image(FitsOutput& out);

// Finishes several files at once, as fits_finish_image does, but prints
// nothing: their flushes to stable storage overlap, and each folder is
// flushed once for all its files. fits_report_image then prints each file's
// failure line, if it has one, and returns FITS_OK or FITS_WRITE_FAILED.
void fits_finish_images(FitsOutput outs[], int count);
int fits_report_image(const FitsOutput& out);

// ---------------------------------------------------------------------------
// Raw items and pixel values

// Pixel values of raw items of the type bytes_per_pixel chooses, and items
// made from values by the writer's rules: integers truncated toward zero,
// wrapped to 8 and 16 bits, saturated at 2147483647 for 32 bits (NaN and
// values below -2^31 give -2147483648); single precision rounded to
// nearest; double precision exact. The float forms keep single-precision
// items' bit patterns, NaN payloads included. False, doing nothing, when
// there is no such item type.
bool fits_items_to_floats(int bytes_per_pixel, const uint8_t* items, float* values, size_t n);
bool fits_floats_to_items(int bytes_per_pixel, const float* values, uint8_t* items, size_t n);
bool fits_items_to_doubles(int bytes_per_pixel, const uint8_t* items, double* values, size_t n);
bool fits_doubles_to_items(int bytes_per_pixel, const double* values, uint8_t* items, size_t n);

// ---------------------------------------------------------------------------
// Other files (pictures), replaced as the images are

// A file of any content written piece by piece, replacing an existing file
// of that name as the images replace theirs: nothing is visible under the
// name until fits_finish_file puts it in place.
struct FitsFileOutput {
    FitsFileOutput();
    FitsFileOutput(const FitsFileOutput&) = delete;
    FitsFileOutput& operator=(const FitsFileOutput&) = delete;
    ~FitsFileOutput();  // an unfinished file is removed

    std::unique_ptr<fits_internal::FileReplacement> file;
    bool open_failed = false;   // the file could not be created
    bool write_failed = false;  // some bytes could not be written
    int64_t written = 0;        // bytes written so far
};

// Starts writing `file_name`. Prints nothing: a failure is kept, later
// writes do nothing, and fits_finish_file reports it.
void fits_create_file(const char* file_name, FitsFileOutput& out);

// Appends bytes to the file.
void fits_write_bytes(FitsFileOutput& out, const void* bytes, std::size_t size);

// Puts the file in place. Returns FITS_OK, or FITS_WRITE_FAILED after the
// line "wf: Error opening file for writing" or `write_failed_line`, with the
// old file kept and no new one left behind.
int fits_finish_file(FitsFileOutput& out, const char* write_failed_line);

// Replaces file_name with `size` bytes at once, as the three calls above do.
int fits_replace_file(const char* file_name, const void* bytes, std::size_t size,
                      const char* write_failed_line);

// The text header of a grey binary PPM picture ("P6", maximum 255) of
// width x height pixels, which its rows follow as three equal bytes each.
std::string fits_ppm_header(int64_t width, int64_t height);

// ---------------------------------------------------------------------------
// Header cards

// Card lookup. Returns the card number (from 1 at the first card of
// first_block) of the first card bearing key_name, or -1. value_buf receives
// the card's value text: a quoted value whole with a terminator, an unquoted
// word bounded like strncpy by 85 (fits_find_key) or n (fits_find_key_n).
int32_t fits_find_key(const HeaderBlock* first_block, const char* key_name, char* value_buf);
int32_t fits_find_key_n(const HeaderBlock* first_block, const char* key_name, char* value_buf,
                        int32_t n);

// Prints one card without its trailing blanks / every card of a chain.
void fits_print_card(const char* card_pos);
void fits_print_header(const HeaderBlock* first_block);

// Card writers. Each stores one card at card_pos (a position in the block
// that `blocks` points to, whose number 1..36 card_slot must hold), counts
// card_slot on and returns the position for the next card. The card in
// position 36 chains a new, blank block after `blocks` (any blocks after it
// are freed: the new one ends the chain) and moves `blocks` and the
// returned position there; if that block cannot be allocated the process
// ends with "Error allocating memory!" and status 1. Keywords are cut to 8
// characters and every card to 80.
// fits_add_card: a value card from an already formatted value text; the
// only writer that raises ncards.
char* fits_add_card(char* card_pos, const char* key_name, const char* value, const char* comment,
                    FitsHeader& header);
// A quoted text of at most 58 characters, no comment.
char* fits_add_string_card(char* card_pos, const char* key_name, const char* text, FitsHeader& header);
// Free text of at most 70 characters after the keyword (COMMENT, HISTORY).
char* fits_add_comment_card(char* card_pos, const char* key_name, const char* text, FitsHeader& header);
// Blank cards from card_pos for positions card_slot + 1 through 36.
void fits_pad_header(char* card_pos, FitsHeader& header);
// Writes SIMPLE, BITPIX, NAXIS, NAXIS1, NAXIS2, BSCALE, BZERO and END into
// the first block (allocated when `blocks` is null, otherwise reused with any
// later blocks released) from bitpix, naxis1, naxis2, bscale and bzero.
// Returns position 9, or null when the first block cannot be allocated.
char* fits_make_header(FitsHeader& header);

// Header editing; `blocks` is the same on return.
// fits_set_card rewrites the first card bearing key_name from `blocks` on as
// a value card; fits_insert_card puts a value card where END stands and END
// after it, blanking the rest of END's block (opening a new block when END
// was its block's last card). They return the position after the rewritten
// card / after END, or null, changing nothing, when there is no such card.
char* fits_set_card(const char* key_name, const char* value, const char* comment, FitsHeader& header);
char* fits_insert_card(const char* key_name, const char* value, const char* comment, FitsHeader& header);

// ---------------------------------------------------------------------------
// The image plane: a whole image in memory, read and written through the
// streams

// Pixel (x, y) of an image is plane[x][y]: each column is contiguous.
using ImagePlane = float[MAX_AXIS][MAX_AXIS];

// The plane routines run in one of two configurations, chosen by the
// program at start. In the quadsplit configuration fits_read and fits_write
// also take BITPIX -64 (double items, held in the plane in single
// precision); the line for a short data block is worded differently in
// each. The streams take BITPIX -64 in either.
enum class FitsConfig { common, quadsplit };
void fits_set_config(FitsConfig config);
FitsConfig fits_config();

// Reads a two-axis FITS image into the plane, and its extremes into datamax
// and datamin. Results as fits_open_image's, which it opens the image with
// (BITPIX down to -32 only, outside the quadsplit configuration).
int fits_read(const char* file_name, FitsHeader& header, ImagePlane& plane);

// Writes header chain and data as a new FITS file (nothing after the data).
// An existing file of that name is replaced atomically. Returns FITS_OK or
// FITS_WRITE_FAILED.
int fits_write(const char* file_name, const FitsHeader& header, const ImagePlane& plane);

// Replaces a file that was read with fits_read into this same record: header
// chain, new data, then every byte that followed the old data blocks (from
// data_end of the file as read, whatever the chain has become since).
int fits_rewrite(const char* file_name, const FitsHeader& header, const ImagePlane& plane);

// Writes the image as a grey binary PPM picture ("P6", maximum 255): rows
// from y = naxis2 - 1 down to 0, each pixel's value cut toward zero to a
// 32-bit integer and kept modulo 256 (NaN and values beyond 32 bits give 0),
// as three equal bytes. No scaling is applied. An existing file is replaced
// atomically. Returns FITS_OK or FITS_WRITE_FAILED.
int fits_write_ppm(const char* file_name, const FitsHeader& header, const ImagePlane& plane);

// ---------------------------------------------------------------------------
// Byte order

// Reverse the bytes of each of `count` 2-, 4- or 8-byte items in place. The
// library's own conversions do their byte order as they convert; these are
// interface for callers that hold raw items and want them in the host's
// order (or back).
void swap_bytes2(uint8_t* buf, uint64_t count);
void swap_bytes4(uint8_t* buf, uint64_t count);
void swap_bytes8(uint8_t* buf, uint64_t count);
