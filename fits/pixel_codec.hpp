// The pixel encoding of data blocks: the one table that the reader and the
// writer share. Items are chosen by bytes_per_pixel (BITPIX / 8), not by
// BITPIX itself, and are big-endian in the file. BSCALE and BZERO are never
// applied: the plane holds the raw item values.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fits.hpp"

namespace fits_internal {

enum class ItemType { u8, i16, i32, f32, f64 };

struct ItemEncoding {
    int bytes_per_pixel;
    ItemType type;
    int item_size;  // bytes of one item in the file
};

// The encoding for bytes_per_pixel, or null when there is none (0, 3, -1,
// -2, -3, -5, -6, -7 and anything beyond).
const ItemEncoding* find_encoding(int bytes_per_pixel);

// The same for an image plane, whose single-precision values hold double
// items (-8) only in the quadsplit configuration.
const ItemEncoding* find_plane_encoding(int bytes_per_pixel);


// Pixel values from n file items (big-endian): integers exact, single-
// precision items exact (as floats with their bit patterns, NaN payloads
// included), double items exact as doubles and rounded to nearest as floats.
void decode_items(const ItemEncoding& enc, const uint8_t* items, float* values, size_t n);
void decode_items(const ItemEncoding& enc, const uint8_t* items, double* values, size_t n);

// Makes n file items (big-endian) from pixel values. Integer items take the
// value truncated toward zero to 32 bits (NaN and values out of range give
// -2147483648) and keep its low 8, 16 or 32 bits: values wrap, never clamp,
// except that 32-bit items take 2147483647 for 2^31 and above. Single-
// precision items take doubles rounded to nearest and floats as they are;
// double items are exact.
void encode_items(const ItemEncoding& enc, const float* values, uint8_t* items, size_t n);
void encode_items(const ItemEncoding& enc, const double* values, uint8_t* items, size_t n);

}  // namespace fits_internal
