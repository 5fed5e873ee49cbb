// Memory for image planes. A plane is 256 MiB of zero-initialised static
// storage, and on this kind of virtual machine the first touch of fresh
// memory is the most expensive work of a run: page by page, a full frame
// takes 65536 faults and over a second. Backed by 2 MiB pages and populated
// by one call before it is written, the same memory is ready in a few tens
// of milliseconds. Only speed and the granularity of the memory taken
// change; where the system refuses, ordinary pages serve as before.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sys/mman.h>

#include "fits.hpp"

namespace {

#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23;  // Linux 5.14; older kernels refuse it
#endif
constexpr uintptr_t kPageBytes = 4096;

uintptr_t round_down(uintptr_t v, uintptr_t unit) { return v / unit * unit; }
uintptr_t round_up(uintptr_t v, uintptr_t unit) { return round_down(v + unit - 1, unit); }

void advise(uintptr_t first, uintptr_t last, int advice) {
    if (first >= last) return;
    const int refused = ::madvise(reinterpret_cast<void*>(first), last - first, advice);
    (void)refused;  // a refusal leaves ordinary faults, which work too
}

}  // namespace

void fits_prepare_plane(ImagePlane& plane, int32_t columns, int32_t rows) {
    if (columns <= 0 || rows <= 0) return;
    columns = std::min<int32_t>(columns, MAX_AXIS);
    rows = std::min<int32_t>(rows, MAX_AXIS);
    const auto begin = reinterpret_cast<uintptr_t>(&plane[0][0]);
    const uintptr_t plane_end = begin + sizeof(ImagePlane);
    const uintptr_t first_page = round_up(begin, kPageBytes);
    const uintptr_t last_page = round_down(plane_end, kPageBytes);
    if (rows < PREPARED_ROWS) {
        // A short image: only the pages its rows touch, column by column, on
        // ordinary pages, so that the memory taken stays what is used.
        for (int32_t x = 0; x < columns; ++x) {
            const auto column = reinterpret_cast<uintptr_t>(&plane[x][0]);
            const uintptr_t used_end = column + static_cast<uintptr_t>(rows) * sizeof(float);
            advise(std::max(round_down(column, kPageBytes), first_page),
                   std::min(round_up(used_end, kPageBytes), last_page), kPopulateWrite);
        }
        return;
    }
    const uintptr_t end = reinterpret_cast<uintptr_t>(&plane[columns - 1][0]) + sizeof plane[0];
    // Huge pages only over whole 2 MiB stretches of the plane; an aligned
    // plane is made of them, and the last stretch may reach past `end`.
    advise(round_up(begin, PLANE_ALIGNMENT), std::min(round_up(end, PLANE_ALIGNMENT), round_down(plane_end, PLANE_ALIGNMENT)),
           MADV_HUGEPAGE);
    advise(first_page, std::min(round_down(end, kPageBytes), last_page), kPopulateWrite);
}
