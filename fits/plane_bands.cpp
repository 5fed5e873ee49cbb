#include "plane_bands.hpp"

#include <cstring>

namespace fits_internal {

namespace {

// Four floats in one vector register (SSE on x86-64, NEON on Arm); the
// compiler's generic vectors keep this free of target intrinsics.
typedef float Vec4 __attribute__((vector_size(16)));
constexpr int64_t kTile = 4;

inline Vec4 load4(const float* p) {
    Vec4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store4(float* p, Vec4 v) { std::memcpy(p, &v, sizeof v); }

// Transposes the 4x4 tile whose rows are r0..r3, in place.
inline void transpose4(Vec4& r0, Vec4& r1, Vec4& r2, Vec4& r3) {
    const Vec4 t0 = __builtin_shufflevector(r0, r1, 0, 4, 1, 5);
    const Vec4 t1 = __builtin_shufflevector(r0, r1, 2, 6, 3, 7);
    const Vec4 t2 = __builtin_shufflevector(r2, r3, 0, 4, 1, 5);
    const Vec4 t3 = __builtin_shufflevector(r2, r3, 2, 6, 3, 7);
    r0 = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
    r1 = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
    r2 = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    r3 = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

// Row-major tile at `rows` (row stride `width`) to four column runs at
// `columns` (column stride MAX_AXIS), or back.
inline void tile_to_columns(const float* rows, int64_t width, float* columns) {
    Vec4 a = load4(rows), b = load4(rows + width), c = load4(rows + 2 * width), d = load4(rows + 3 * width);
    transpose4(a, b, c, d);
    store4(columns, a);
    store4(columns + MAX_AXIS, b);
    store4(columns + 2 * MAX_AXIS, c);
    store4(columns + 3 * MAX_AXIS, d);
}

inline void tile_to_rows(const float* columns, int64_t width, float* rows) {
    Vec4 a = load4(columns), b = load4(columns + MAX_AXIS), c = load4(columns + 2 * MAX_AXIS),
         d = load4(columns + 3 * MAX_AXIS);
    transpose4(a, b, c, d);
    store4(rows, a);
    store4(rows + width, b);
    store4(rows + 2 * width, c);
    store4(rows + 3 * width, d);
}

// Visits every pixel of a band: whole 4x4 tiles through `tile`, the rest
// (the last columns and rows that make no whole tile, and a partial last
// row) one by one through `pixel`. Both get the band index and the plane
// column x and row offset r.
template <typename Tile, typename Pixel>
void walk_band(int64_t count, int64_t width, Tile tile, Pixel pixel) {
    const int64_t full_rows = count / width;
    const int64_t tiled_rows = full_rows / kTile * kTile;
    const int64_t tiled_columns = width / kTile * kTile;
    for (int64_t x = 0; x < tiled_columns; x += kTile)
        for (int64_t r = 0; r < tiled_rows; r += kTile) tile(r * width + x, x, r);
    for (int64_t x = tiled_columns; x < width; ++x)
        for (int64_t r = 0; r < tiled_rows; ++r) pixel(r * width + x, x, r);
    for (int64_t r = tiled_rows; r < full_rows; ++r)
        for (int64_t x = 0; x < width; ++x) pixel(r * width + x, x, r);
    for (int64_t x = 0; x < count - full_rows * width; ++x) pixel(full_rows * width + x, x, full_rows);
}

}  // namespace

void scatter_band(const float* values, int64_t count, int64_t width, int64_t y0, ImagePlane& plane) {
    walk_band(
        count, width, [&](int64_t i, int64_t x, int64_t r) { tile_to_columns(values + i, width, &plane[x][y0 + r]); },
        [&](int64_t i, int64_t x, int64_t r) { plane[x][y0 + r] = values[i]; });
}

void gather_band(const ImagePlane& plane, int64_t count, int64_t width, int64_t y0, float* values) {
    walk_band(
        count, width, [&](int64_t i, int64_t x, int64_t r) { tile_to_rows(&plane[x][y0 + r], width, values + i); },
        [&](int64_t i, int64_t x, int64_t r) { values[i] = plane[x][y0 + r]; });
}

void widen_range(const float* values, int64_t n, float& max, float& min) {
    Vec4 hi = {max, max, max, max};
    Vec4 lo = {min, min, min, min};
    int64_t i = 0;
    for (; i + kTile <= n; i += kTile) {
        const Vec4 v = load4(values + i);
        hi = v > hi ? v : hi;  // a NaN compares false and is passed over
        lo = v < lo ? v : lo;
    }
    for (int l = 0; l < kTile; ++l) {
        max = hi[l] > max ? hi[l] : max;
        min = lo[l] < min ? lo[l] : min;
    }
    for (; i < n; ++i) {
        max = values[i] > max ? values[i] : max;
        min = values[i] < min ? values[i] : min;
    }
}

}  // namespace fits_internal
