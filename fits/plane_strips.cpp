// Moving strips of rows between a row-major buffer and the column-major
// plane, in 4 x 4 tiles transposed in vector registers.
#include "plane_strips.hpp"

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// A store that bypasses the cache, for 16-byte aligned `p`: the plane is far
// larger than the cache and is written once per strip, a whole cache line per
// column, so reading each line in before overwriting it would be wasted.
inline void stream4(float* p, Vec4 v) {
#if defined(__SSE2__)
    _mm_stream_ps(p, v);
#else
    store4(p, v);
#endif
}

inline void stream_fence() {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

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

// The extremes of the values seen, four lanes at a time; NaN changes
// neither, as a comparison with NaN is false.
struct RangeLanes {
    Vec4 hi, lo;
    RangeLanes(float max, float min) : hi{max, max, max, max}, lo{min, min, min, min} {}
    void add(Vec4 v) {
        hi = v > hi ? v : hi;
        lo = v < lo ? v : lo;
    }
    void fold_into(float& max, float& min) const {
        for (int l = 0; l < kTile; ++l) {
            max = hi[l] > max ? hi[l] : max;
            min = lo[l] < min ? lo[l] : min;
        }
    }
};

inline void add_to_range(float v, float& max, float& min) {
    max = v > max ? v : max;
    min = v < min ? v : min;
}

// Row-major tile at `rows` (row stride `pitch`) to four column runs at
// `columns` (column stride MAX_AXIS), or back.
template <void (*Store)(float*, Vec4)>
inline void tile_to_columns(const float* rows, int64_t pitch, float* columns, RangeLanes& range) {
    Vec4 a = load4(rows), b = load4(rows + pitch), c = load4(rows + 2 * pitch), d = load4(rows + 3 * pitch);
    range.add(a);
    range.add(b);
    range.add(c);
    range.add(d);
    transpose4(a, b, c, d);
    Store(columns, a);
    Store(columns + MAX_AXIS, b);
    Store(columns + 2 * MAX_AXIS, c);
    Store(columns + 3 * MAX_AXIS, d);
}

inline void tile_to_rows(const float* columns, int64_t pitch, float* rows) {
    Vec4 a = load4(columns), b = load4(columns + MAX_AXIS), c = load4(columns + 2 * MAX_AXIS),
         d = load4(columns + 3 * MAX_AXIS);
    transpose4(a, b, c, d);
    store4(rows, a);
    store4(rows + pitch, b);
    store4(rows + 2 * pitch, c);
    store4(rows + 3 * pitch, d);
}

// Visits every pixel of a strip: whole 4x4 tiles through `tile`, the rest
// (the last columns and rows that make no whole tile, and a partial last
// row) one by one through `pixel`. Both get the index in the strip buffer
// (rows `pitch` apart) and the plane column x and row offset r.
template <typename Tile, typename Pixel>
void walk_strip(int64_t count, int64_t width, int64_t pitch, Tile tile, Pixel pixel) {
    const int64_t full_rows = count / width;
    const int64_t tiled_rows = full_rows / kTile * kTile;
    const int64_t tiled_columns = width / kTile * kTile;
    for (int64_t x = 0; x < tiled_columns; x += kTile)
        for (int64_t r = 0; r < tiled_rows; r += kTile) tile(r * pitch + x, x, r);
    for (int64_t x = tiled_columns; x < width; ++x)
        for (int64_t r = 0; r < tiled_rows; ++r) pixel(r * pitch + x, x, r);
    for (int64_t r = tiled_rows; r < full_rows; ++r)
        for (int64_t x = 0; x < width; ++x) pixel(r * pitch + x, x, r);
    for (int64_t x = 0; x < count - full_rows * width; ++x) pixel(full_rows * pitch + x, x, full_rows);
}

}  // namespace

void scatter_strip(const float* values, int64_t count, int64_t width, int64_t y0, ImagePlane& plane, float& max,
                  float& min) {
    const int64_t pitch = strip_pitch(width);
    RangeLanes range(max, min);
    const auto pixel = [&](int64_t i, int64_t x, int64_t r) {
        plane[x][y0 + r] = values[i];
        add_to_range(values[i], max, min);
    };
    // Every tile of the strip starts a row that is a multiple of 4 after y0.
    if (reinterpret_cast<uintptr_t>(&plane[0][y0]) % sizeof(Vec4) == 0) {
        walk_strip(
            count, width, pitch,
            [&](int64_t i, int64_t x, int64_t r) {
                tile_to_columns<stream4>(values + i, pitch, &plane[x][y0 + r], range);
            },
            pixel);
        stream_fence();
    } else {
        walk_strip(
            count, width, pitch,
            [&](int64_t i, int64_t x, int64_t r) {
                tile_to_columns<store4>(values + i, pitch, &plane[x][y0 + r], range);
            },
            pixel);
    }
    range.fold_into(max, min);
}

void gather_strip(const ImagePlane& plane, int64_t count, int64_t width, int64_t y0, float* values) {
    const int64_t pitch = strip_pitch(width);
    // Each column is read a cache line or so per strip, 32 KiB away from the
    // next column: too far apart for the hardware to guess, so the lines of
    // the next strip are asked for while this one is moved.
    const int64_t next = y0 + count / width;
    walk_strip(
        count, width, pitch,
        [&](int64_t i, int64_t x, int64_t r) {
            if (r == 0 && next < MAX_AXIS)
                for (int64_t c = 0; c < kTile; ++c) __builtin_prefetch(&plane[x + c][next]);
            tile_to_rows(&plane[x][y0 + r], pitch, values + i);
        },
        [&](int64_t i, int64_t x, int64_t r) { values[i] = plane[x][y0 + r]; });
}

}  // namespace fits_internal
