// swap_bytes2/4/8: big-endian items of the data blocks turned into the
// host's order (little-endian) or back, for callers that hold raw items; the
// library's own conversions swap as they convert. Each item's bytes are
// reversed in place, 16 bytes at a time in a vector register (the
// compiler's generic vectors: shifts and ors that every SIMD target has, so
// no byte-shuffle instruction beyond the x86-64 baseline is needed), the
// last few items one by one.
#include "fits.hpp"

#include <cstring>

namespace {

typedef uint16_t U16x8 __attribute__((vector_size(16)));
typedef uint32_t U32x4 __attribute__((vector_size(16)));
typedef uint64_t U64x2 __attribute__((vector_size(16)));

// A wider item is reversed by swapping its halves, then reversing each half.
inline U16x8 reverse_lanes(U16x8 v) { return (v << 8) | (v >> 8); }

inline U32x4 reverse_lanes(U32x4 v) {
    const U32x4 halves_swapped = (v << 16) | (v >> 16);
    return reinterpret_cast<U32x4>(reverse_lanes(reinterpret_cast<U16x8>(halves_swapped)));
}

inline U64x2 reverse_lanes(U64x2 v) {
    const U64x2 halves_swapped = (v << 32) | (v >> 32);
    return reinterpret_cast<U64x2>(reverse_lanes(reinterpret_cast<U32x4>(halves_swapped)));
}

inline uint16_t reverse(uint16_t w) { return __builtin_bswap16(w); }
inline uint32_t reverse(uint32_t w) { return __builtin_bswap32(w); }
inline uint64_t reverse(uint64_t w) { return __builtin_bswap64(w); }

template <typename Vec, typename Word>
void swap_items(uint8_t* buf, uint64_t count) {
    constexpr uint64_t kPerVec = sizeof(Vec) / sizeof(Word);
    uint64_t i = 0;
    for (; i + kPerVec <= count; i += kPerVec) {
        Vec v;
        std::memcpy(&v, buf + i * sizeof(Word), sizeof v);
        v = reverse_lanes(v);
        std::memcpy(buf + i * sizeof(Word), &v, sizeof v);
    }
    for (; i < count; ++i) {
        Word w;
        std::memcpy(&w, buf + i * sizeof(Word), sizeof w);
        w = reverse(w);
        std::memcpy(buf + i * sizeof(Word), &w, sizeof w);
    }
}

}  // namespace

void swap_bytes2(uint8_t* buf, uint64_t count) { swap_items<U16x8, uint16_t>(buf, count); }
void swap_bytes4(uint8_t* buf, uint64_t count) { swap_items<U32x4, uint32_t>(buf, count); }
void swap_bytes8(uint8_t* buf, uint64_t count) { swap_items<U64x2, uint64_t>(buf, count); }
