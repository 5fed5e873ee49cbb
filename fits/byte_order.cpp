// Big-endian items in the data blocks; the host is little-endian. Each item's
// bytes are reversed in place. Written as plain loops over whole items so the
// compiler can turn them into vector shuffles.
#include "fits.hpp"

#include <cstring>

namespace {

template <typename Word, Word (*Swap)(Word)>
void swap_items(uint8_t* buf, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
        Word w;
        std::memcpy(&w, buf + i * sizeof(Word), sizeof(Word));
        w = Swap(w);
        std::memcpy(buf + i * sizeof(Word), &w, sizeof(Word));
    }
}

uint16_t swap16(uint16_t w) { return __builtin_bswap16(w); }
uint32_t swap32(uint32_t w) { return __builtin_bswap32(w); }
uint64_t swap64(uint64_t w) { return __builtin_bswap64(w); }

}  // namespace

void swap_bytes2(uint8_t* buf, uint64_t count) { swap_items<uint16_t, swap16>(buf, count); }
void swap_bytes4(uint8_t* buf, uint64_t count) { swap_items<uint32_t, swap32>(buf, count); }
void swap_bytes8(uint8_t* buf, uint64_t count) { swap_items<uint64_t, swap64>(buf, count); }
