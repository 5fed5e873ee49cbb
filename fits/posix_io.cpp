// File descriptors, whole-buffer reads and writes, copies and flushes.
#include "posix_io.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "tuning.hpp"

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

size_t pread_full(int fd, void* buf, size_t size, int64_t offset) {
    auto* p = static_cast<char*>(buf);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::pread(fd, p + done, size - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
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

bool pwritev_full(int fd, iovec* parts, int count, int64_t offset) {
    const auto drop_written = [&](size_t done) {
        for (; count > 0 && done >= parts[0].iov_len; ++parts, --count) done -= parts[0].iov_len;
        if (count == 0) return;
        parts[0].iov_base = static_cast<char*>(parts[0].iov_base) + done;
        parts[0].iov_len -= done;
    };
    drop_written(0);  // empty parts
    while (count > 0) {
        const ssize_t n = ::pwritev(fd, parts, count, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        offset += n;
        drop_written(static_cast<size_t>(n));
    }
    return true;
}

bool flush_to_disk(int fd) {
    int rc;
    do {
        rc = ::fsync(fd);
    } while (rc != 0 && errno == EINTR);
    return rc == 0 || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP;
}

void start_writeback(int fd, int64_t offset, int64_t size) {
    if (size > 0) ::sync_file_range(fd, offset, size, SYNC_FILE_RANGE_WRITE);
}

int64_t copy_bytes(int in_fd, int64_t offset, int out_fd, int64_t size) {
    int64_t done = 0;
    // copy_file_range moves page-cache pages without a trip through user
    // memory. Files it cannot pair (other file systems, a memfd) and any
    // failure fall through to the buffered copy, which reports a failed write.
    while (done < size) {
        loff_t from = offset + done;
        const ssize_t n = ::copy_file_range(in_fd, &from, out_fd, nullptr, static_cast<size_t>(size - done), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        if (n == 0) return done;  // the input ended
        done += n;
    }
    static char chunk[tuning::COPY_CHUNK];
    while (done < size) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(tuning::COPY_CHUNK, size - done));
        const size_t got = pread_full(in_fd, chunk, want, offset + done);
        if (!write_full(out_fd, chunk, got)) return -1;
        done += static_cast<int64_t>(got);
        if (got < want) break;
    }
    return done;
}

bool write_zeros(int fd, int64_t size) {
    static const char zeros[tuning::COPY_CHUNK] = {};
    while (size > 0) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(sizeof zeros, size));
        if (!write_full(fd, zeros, n)) return false;
        size -= static_cast<int64_t>(n);
    }
    return true;
}

}  // namespace fits_internal
