#include "posix_io.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace fits_internal {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

UniqueFd::~UniqueFd() { close(); }

int UniqueFd::release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

bool UniqueFd::close() {
    if (fd_ < 0) return true;
    int rc = ::close(release());
    return rc == 0;
}

UniqueFd open_for_reading(const char* path) {
    UniqueFd fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd) {
        int flags = fcntl(fd.get(), F_GETFL);
        if (flags >= 0) fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    }
    return fd;
}

size_t read_full(int fd, void* buf, size_t size) {
    auto* p = static_cast<char*>(buf);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::read(fd, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

bool write_full(int fd, const void* buf, size_t size) {
    const auto* p = static_cast<const char*>(buf);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace fits_internal
