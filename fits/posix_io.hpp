// File descriptors with RAII, and whole-buffer reads and writes.
#pragma once

#include <cstddef>

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

// Writes all `size` bytes; false when any could not be written.
bool write_full(int fd, const void* buf, size_t size);

}  // namespace fits_internal
