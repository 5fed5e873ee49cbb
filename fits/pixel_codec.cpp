#include "pixel_codec.hpp"

#include <algorithm>
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
    for (const ItemEncoding& enc : kEncodings)
        if (enc.bytes_per_pixel == bytes_per_pixel) return &enc;
    return nullptr;
}

const ItemEncoding* find_plane_encoding(int bytes_per_pixel) {
    const ItemEncoding* enc = find_encoding(bytes_per_pixel);
    return enc != nullptr && enc->type == ItemType::f64 && !double_items_enabled() ? nullptr : enc;
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

void decode_items(const ItemEncoding& enc, const uint8_t* items, double* values, size_t n) {
    switch (enc.type) {
    case ItemType::u8:
        for (size_t i = 0; i < n; ++i) values[i] = items[i];
        break;
    case ItemType::i16:
        for (size_t i = 0; i < n; ++i)
            values[i] = static_cast<int16_t>(__builtin_bswap16(load<uint16_t>(items + 2 * i)));
        break;
    case ItemType::i32:
        for (size_t i = 0; i < n; ++i)
            values[i] = static_cast<int32_t>(__builtin_bswap32(load<uint32_t>(items + 4 * i)));
        break;
    case ItemType::f32:
        for (size_t i = 0; i < n; ++i) {
            float v;
            const uint32_t bits = __builtin_bswap32(load<uint32_t>(items + 4 * i));
            std::memcpy(&v, &bits, sizeof v);
            values[i] = v;
        }
        break;
    case ItemType::f64:
        for (size_t i = 0; i < n; ++i) {
            const uint64_t bits = __builtin_bswap64(load<uint64_t>(items + 8 * i));
            std::memcpy(&values[i], &bits, sizeof bits);
        }
        break;
    }
}

void encode_items(const ItemEncoding& enc, const double* values, uint8_t* items, size_t n) {
    switch (enc.type) {
    case ItemType::u8:
        for (size_t i = 0; i < n; ++i) items[i] = static_cast<uint8_t>(to_item_integer(values[i]));
        break;
    case ItemType::i16:
        for (size_t i = 0; i < n; ++i)
            store(items + 2 * i, __builtin_bswap16(static_cast<uint16_t>(to_item_integer(values[i]))));
        break;
    case ItemType::i32:
        for (size_t i = 0; i < n; ++i)
            store(items + 4 * i, __builtin_bswap32(static_cast<uint32_t>(to_item_int32(values[i]))));
        break;
    case ItemType::f32:
        for (size_t i = 0; i < n; ++i) {
            const float v = static_cast<float>(values[i]);
            uint32_t bits;
            std::memcpy(&bits, &v, sizeof bits);
            store(items + 4 * i, __builtin_bswap32(bits));
        }
        break;
    case ItemType::f64:
        for (size_t i = 0; i < n; ++i) {
            uint64_t bits;
            std::memcpy(&bits, &values[i], sizeof bits);
            store(items + 8 * i, __builtin_bswap64(bits));
        }
        break;
    }
}

}  // namespace fits_internal

using namespace fits_internal;

bool fits_items_to_floats(int bytes_per_pixel, const uint8_t* items, float* values, size_t n) {
    const ItemEncoding* enc = find_encoding(bytes_per_pixel);
    if (enc == nullptr) return false;
    // The items are reversed in place on the way, so a copy is worked on.
    uint8_t chunk[FITS_BLOCK];
    const size_t per_chunk = static_cast<size_t>(items_per_block(*enc));
    for (size_t done = 0; done < n; done += per_chunk) {
        const size_t count = std::min(per_chunk, n - done);
        std::memcpy(chunk, items + done * enc->item_size, count * enc->item_size);
        decode_items(*enc, chunk, values + done, count);
    }
    return true;
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
