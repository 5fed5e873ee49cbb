// The item encoding table, and raw items converted to and from pixel values.
#include "pixel_codec.hpp"

#include <cstring>

#include "config.hpp"
#include "fits.hpp"

namespace fits_internal {

namespace {

constexpr ItemEncoding kEncodings[] = {
    {1, ItemType::u8, 1},    // BITPIX 8..15: unsigned bytes
    {2, ItemType::i16, 2},   // BITPIX 16..23: two's-complement 16-bit
    {4, ItemType::i32, 4},   // BITPIX 32: two's-complement 32-bit
    {-4, ItemType::f32, 4},  // BITPIX -32 (-39..-32 where -64 is taken): IEEE single
    {-8, ItemType::f64, 8},  // BITPIX -64: IEEE double (an image plane takes it
                             // only in the quadsplit configuration)
};

// The writer's integer rule. Every float is a double, so one rule in
// double precision serves both.
inline int32_t to_item_integer(double v) {
    if (v >= -2147483648.0 && v < 2147483648.0) return static_cast<int32_t>(v);
    return INT32_MIN;  // out of range, or NaN
}

// 32-bit items: 2^31 and above give the largest item, not -2^31. Items from
// 2147483584 up are read as 2^31, their nearest single-precision value, and
// must not come back with their sign flipped (an unsigned 32-bit image's
// brightest pixels, stored with BZERO 2^31, would become its darkest).
inline int32_t to_item_int32(double v) { return v >= 2147483648.0 ? INT32_MAX : to_item_integer(v); }

// Big-endian words of the file, as the host's.
inline uint16_t from_file(uint16_t w) { return __builtin_bswap16(w); }
inline uint32_t from_file(uint32_t w) { return __builtin_bswap32(w); }
inline uint64_t from_file(uint64_t w) { return __builtin_bswap64(w); }

// Item i as its Item type (an integer or a floating-point type of the
// item's size), its bits unchanged.
template <typename Item, typename Word>
inline Item load_item(const uint8_t* items, size_t i) {
    Word w;
    std::memcpy(&w, items + sizeof w * i, sizeof w);
    w = from_file(w);
    Item v;
    std::memcpy(&v, &w, sizeof v);
    return v;
}

template <typename Word, typename Item>
inline void store_item(uint8_t* items, size_t i, Item v) {
    Word w;
    std::memcpy(&w, &v, sizeof w);
    w = from_file(w);
    std::memcpy(items + sizeof w * i, &w, sizeof w);
}

// Values of type V (float or double) from items: exact, except double
// items in single precision (rounded to nearest). A single-precision item
// read as a float keeps its bits, NaN payloads included.
template <typename V>
void decode(const ItemEncoding& enc, const uint8_t* items, V* values, size_t n) {
    switch (enc.type) {
    case ItemType::u8:
        for (size_t i = 0; i < n; ++i) values[i] = static_cast<V>(items[i]);
        break;
    case ItemType::i16:
        for (size_t i = 0; i < n; ++i) values[i] = static_cast<V>(load_item<int16_t, uint16_t>(items, i));
        break;
    case ItemType::i32:
        for (size_t i = 0; i < n; ++i) values[i] = static_cast<V>(load_item<int32_t, uint32_t>(items, i));
        break;
    case ItemType::f32:
        for (size_t i = 0; i < n; ++i) values[i] = static_cast<V>(load_item<float, uint32_t>(items, i));
        break;
    case ItemType::f64:
        for (size_t i = 0; i < n; ++i) values[i] = static_cast<V>(load_item<double, uint64_t>(items, i));
        break;
    }
}

// Items from values of type V by the writer's rules.
template <typename V>
void encode(const ItemEncoding& enc, const V* values, uint8_t* items, size_t n) {
    switch (enc.type) {
    case ItemType::u8:
        for (size_t i = 0; i < n; ++i) items[i] = static_cast<uint8_t>(to_item_integer(values[i]));
        break;
    case ItemType::i16:
        for (size_t i = 0; i < n; ++i)
            store_item<uint16_t>(items, i, static_cast<uint16_t>(to_item_integer(values[i])));
        break;
    case ItemType::i32:
        for (size_t i = 0; i < n; ++i) store_item<uint32_t>(items, i, to_item_int32(values[i]));
        break;
    case ItemType::f32:
        for (size_t i = 0; i < n; ++i) store_item<uint32_t>(items, i, static_cast<float>(values[i]));
        break;
    case ItemType::f64:
        for (size_t i = 0; i < n; ++i) store_item<uint64_t>(items, i, static_cast<double>(values[i]));
        break;
    }
}

}  // namespace

const ItemEncoding* find_encoding(int bytes_per_pixel) {
    for (const ItemEncoding& enc : kEncodings)
        if (enc.bytes_per_pixel == bytes_per_pixel) return &enc;
    return nullptr;
}

const ItemEncoding* find_plane_encoding(int bytes_per_pixel) {
    const ItemEncoding* enc = find_encoding(bytes_per_pixel);
    return enc != nullptr && enc->type == ItemType::f64 && !double_items_enabled() ? nullptr : enc;
}

void decode_items(const ItemEncoding& enc, const uint8_t* items, float* values, size_t n) {
    decode(enc, items, values, n);
}
void decode_items(const ItemEncoding& enc, const uint8_t* items, double* values, size_t n) {
    decode(enc, items, values, n);
}
void encode_items(const ItemEncoding& enc, const float* values, uint8_t* items, size_t n) {
    encode(enc, values, items, n);
}
void encode_items(const ItemEncoding& enc, const double* values, uint8_t* items, size_t n) {
    encode(enc, values, items, n);
}

}  // namespace fits_internal

using namespace fits_internal;

bool fits_items_to_floats(int bytes_per_pixel, const uint8_t* items, float* values, size_t n) {
    const ItemEncoding* enc = find_encoding(bytes_per_pixel);
    if (enc != nullptr) decode_items(*enc, items, values, n);
    return enc != nullptr;
}

bool fits_floats_to_items(int bytes_per_pixel, const float* values, uint8_t* items, size_t n) {
    const ItemEncoding* enc = find_encoding(bytes_per_pixel);
    if (enc != nullptr) encode_items(*enc, values, items, n);
    return enc != nullptr;
}

bool fits_items_to_doubles(int bytes_per_pixel, const uint8_t* items, double* values, size_t n) {
    const ItemEncoding* enc = find_encoding(bytes_per_pixel);
    if (enc != nullptr) decode_items(*enc, items, values, n);
    return enc != nullptr;
}

bool fits_doubles_to_items(int bytes_per_pixel, const double* values, uint8_t* items, size_t n) {
    const ItemEncoding* enc = find_encoding(bytes_per_pixel);
    if (enc != nullptr) encode_items(*enc, values, items, n);
    return enc != nullptr;
}
