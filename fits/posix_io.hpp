// File descriptors with RAII, whole-buffer reads and writes, copies between
// files, and flushes to stable storage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/uio.h>

namespace fits_internal {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    ~UniqueFd();

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release();
    // Closes now; false when close reports an error (data may not have been
    // stored).
    bool close();

private:
    int fd_ = -1;
};

// Opens an existing file for reading without blocking on a FIFO that has no
// writer (it then reads as empty).
UniqueFd open_for_reading(const char* path);

// Reads until `size` bytes arrived, the file ended or an error occurred;
// returns the number of bytes read.
size_t read_full(int fd, void* buf, size_t size);

// The same from a given offset, leaving the file offset alone.
size_t pread_full(int fd, void* buf, size_t size, int64_t offset);

// Writes all `size` bytes; false when any could not be written.
bool write_full(int fd, const void* buf, size_t size);

// Appends `size` bytes of in_fd, from `offset` on, to out_fd: inside the
// kernel where the two files allow it, otherwise through a buffer. Returns
// the number of bytes copied, fewer when in_fd ends first, or -1 when
// writing failed.
int64_t copy_bytes(int in_fd, int64_t offset, int out_fd, int64_t size);

// Appends `size` zero bytes to fd; false when writing failed.
bool write_zeros(int fd, int64_t size);

// Writes the `count` parts one after another at `offset`, in as few calls
// as the kernel allows; false when any byte could not be written. The parts
// may be changed (what is left of them).
bool pwritev_full(int fd, iovec* parts, int count, int64_t offset);

// Waits until what was written to fd is on stable storage (fsync). True
// when it is, or when the file system offers no way to ask (EINVAL, ENOSYS,
// EOPNOTSUPP); false when the flush failed (EIO, ENOSPC, ...).
bool flush_to_disk(int fd);

// Starts the write-back of `size` bytes of fd from `offset` without waiting
// for it.
void start_writeback(int fd, int64_t offset, int64_t size);

}  // namespace fits_internal
