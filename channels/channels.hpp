// The detector's four readout channels: which image columns each holds and
// how its files are named. quadsplit and quadmerge split and merge images by
// this layout, and fitsframe makes its frames by it.
//
// Image column x belongs to channel x mod 4 (letters a to d) and is column
// x div 4 of that channel's image. The channel files of an image are named
// after the image name less its last five characters (".fits" as a rule):
// frame.fits has frame.a.fits, frame.b.fits, frame.c.fits and frame.d.fits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace channels {

constexpr int COUNT = 4;
constexpr char LETTERS[COUNT + 1] = "abcd";
constexpr size_t NAME_CUT = 5;  // characters dropped from the image name

// Image column of column k of channel c.
constexpr int32_t image_column(int channel, int32_t k) { return COUNT * k + channel; }

// Columns of an image `width` wide that belong to channel c.
constexpr int32_t columns_of(int channel, int32_t width) {
    return width > channel ? (width - channel + COUNT - 1) / COUNT : 0;
}

// Whether channel file names can be formed from image_name; when they
// cannot, prints the line saying so.
bool name_usable(const std::string& image_name);

// The file name of channel c (0 to 3) of an image whose name is usable.
std::string file_name(const std::string& image_name, int channel);

// Rows of raw items (item_size bytes each, copied as they are).
// Deals an image row's items out to the four channel rows: item k of
// channel c is image item 4k + c, for k below channel_width.
void split_row(const uint8_t* image_row, int item_size, int32_t channel_width, uint8_t* const channel_rows[COUNT]);

// Puts items 0..count-1 of a channel row back at image items 4k + c.
void merge_row(const uint8_t* channel_row, int channel, int item_size, int32_t count, uint8_t* image_row);

}  // namespace channels
