// The channel file names, and rows of items dealt out to the channels and
// put back, item by item as raw words of the item size.
#include <cstdio>
#include <cstring>

#include "channels.hpp"

namespace channels {

bool name_usable(const std::string& image_name) {
    if (image_name.size() >= NAME_CUT) return true;
    std::printf("Error - %s has fewer than %zu characters: no channel file names can be formed from it\n",
                image_name.c_str(), NAME_CUT);
    return false;
}

std::string file_name(const std::string& image_name, int channel) {
    std::string name = image_name.substr(0, image_name.size() - NAME_CUT);
    name += '.';
    name += LETTERS[channel];
    name += ".fits";
    return name;
}

namespace {

// Items are moved as unsigned words of their size, whatever they hold.
template <typename Word>
Word load(const uint8_t* p) {
    Word w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

template <typename Word>
void store(uint8_t* p, Word w) {
    std::memcpy(p, &w, sizeof w);
}

template <typename Word>
void split_words(const uint8_t* image_row, int32_t channel_width, uint8_t* const channel_rows[COUNT]) {
    constexpr size_t size = sizeof(Word);
    uint8_t* const a = channel_rows[0];
    uint8_t* const b = channel_rows[1];
    uint8_t* const c = channel_rows[2];
    uint8_t* const d = channel_rows[3];
    for (int32_t k = 0; k < channel_width; ++k) {
        const uint8_t* in = image_row + COUNT * size * k;
        store(a + size * k, load<Word>(in));
        store(b + size * k, load<Word>(in + size));
        store(c + size * k, load<Word>(in + 2 * size));
        store(d + size * k, load<Word>(in + 3 * size));
    }
}

template <typename Word>
void merge_words(const uint8_t* channel_row, int channel, int32_t count, uint8_t* image_row) {
    constexpr size_t size = sizeof(Word);
    uint8_t* out = image_row + size * channel;
    for (int32_t k = 0; k < count; ++k) store(out + COUNT * size * k, load<Word>(channel_row + size * k));
}

}  // namespace

void split_row(const uint8_t* image_row, int item_size, int32_t channel_width, uint8_t* const channel_rows[COUNT]) {
    switch (item_size) {
    case 1: return split_words<uint8_t>(image_row, channel_width, channel_rows);
    case 2: return split_words<uint16_t>(image_row, channel_width, channel_rows);
    case 4: return split_words<uint32_t>(image_row, channel_width, channel_rows);
    case 8: return split_words<uint64_t>(image_row, channel_width, channel_rows);
    }
}

void merge_row(const uint8_t* channel_row, int channel, int item_size, int32_t count, uint8_t* image_row) {
    switch (item_size) {
    case 1: return merge_words<uint8_t>(channel_row, channel, count, image_row);
    case 2: return merge_words<uint16_t>(channel_row, channel, count, image_row);
    case 4: return merge_words<uint32_t>(channel_row, channel, count, image_row);
    case 8: return merge_words<uint64_t>(channel_row, channel, count, image_row);
    }
}

}  // namespace channels
