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
    {-4, ItemType::f32, 4},  // BITPIX -32 (-39..-32 in quadsplit): IEEE single
    {-8, ItemType::f64, 8},  // BITPIX -64, quadsplit only: IEEE double
};

// The writer's integer rule.
inline int32_t to_item_integer(float v) {
    if (v >= -2147483648.0f && v < 2147483648.0f) return static_cast<int32_t>(v);
    return INT32_MIN;  // out of range, or NaN
}

// 32-bit items: 2^31 and above give the largest item, not -2^31. Items from
// 2147483584 up are read as 2^31, their nearest single-precision value, and
// must not come back with their sign flipped (an unsigned 32-bit image's
// brightest pixels, stored with BZERO 2^31, would become its darkest).
inline int32_t to_item_int32(float v) { return v >= 2147483648.0f ? INT32_MAX : to_item_integer(v); }

template <typename T>
inline T load(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
inline void store(uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

}  // namespace

const ItemEncoding* find_encoding(int bytes_per_pixel) {
    for (const ItemEncoding& enc : kEncodings) {
        if (enc.bytes_per_pixel != bytes_per_pixel) continue;
        if (enc.type == ItemType::f64 && !double_items_enabled()) return nullptr;
        return &enc;
    }
    return nullptr;
}

void decode_items(const ItemEncoding& enc, uint8_t* items, float* values, size_t n) {
    switch (enc.type) {
    case ItemType::u8:
        for (size_t i = 0; i < n; ++i) values[i] = items[i];
        break;
    case ItemType::i16:
        swap_bytes2(items, n);
        for (size_t i = 0; i < n; ++i) values[i] = load<int16_t>(items + 2 * i);
        break;
    case ItemType::i32:
        swap_bytes4(items, n);
        for (size_t i = 0; i < n; ++i) values[i] = static_cast<float>(load<int32_t>(items + 4 * i));
        break;
    case ItemType::f32:  // the bit pattern, NaN payloads included
        swap_bytes4(items, n);
        std::memcpy(values, items, 4 * n);
        break;
    case ItemType::f64:
        swap_bytes8(items, n);
        for (size_t i = 0; i < n; ++i) values[i] = static_cast<float>(load<double>(items + 8 * i));
        break;
    }
}

void encode_items(const ItemEncoding& enc, const float* values, uint8_t* items, size_t n) {
    switch (enc.type) {
    case ItemType::u8:
        for (size_t i = 0; i < n; ++i) items[i] = static_cast<uint8_t>(to_item_integer(values[i]));
        break;
    case ItemType::i16:
        for (size_t i = 0; i < n; ++i)
            store(items + 2 * i, static_cast<uint16_t>(to_item_integer(values[i])));
        swap_bytes2(items, n);
        break;
    case ItemType::i32:
        for (size_t i = 0; i < n; ++i) store(items + 4 * i, to_item_int32(values[i]));
        swap_bytes4(items, n);
        break;
    case ItemType::f32:
        std::memcpy(items, values, 4 * n);
        swap_bytes4(items, n);
        break;
    case ItemType::f64:
        for (size_t i = 0; i < n; ++i) store(items + 8 * i, static_cast<double>(values[i]));
        swap_bytes8(items, n);
        break;
    }
}

}  // namespace fits_internal
