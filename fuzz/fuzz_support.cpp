#include "fuzz_support.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace fuzz {

ImagePlane& plane() {
    // Mapped rather than static, so that the leak checker does not scan
    // 256 MiB of globals.
    static ImagePlane* mapped = [] {
        void* p = ::mmap(nullptr, sizeof(ImagePlane), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) broken("cannot map an image plane");
        return static_cast<ImagePlane*>(p);
    }();
    return *mapped;
}

void plane_row(int32_t y, size_t width, float* values) {
    const ImagePlane& p = plane();
    for (size_t x = 0; x < width; ++x) std::memcpy(&values[x], &p[x][y], sizeof(float));
}

const char* file_holding(const uint8_t* data, size_t size) {
    static const int fd = ::memfd_create("fuzz-input", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0) broken("cannot make an in-memory file");
    // Written over the last input and then cut, so that its pages are reused.
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) broken("cannot fill the in-memory file");
        done += static_cast<size_t>(n);
    }
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) broken("cannot cut the in-memory file");
    return path.c_str();
}

void broken(const char* what) {
    std::fprintf(stderr, "fuzz: property broken: %s\n", what);
    std::abort();
}

}  // namespace fuzz
