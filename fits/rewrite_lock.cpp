#include "rewrite_lock.hpp"

#include <cerrno>
#include <cstdio>
#include <sys/file.h>
#include <sys/stat.h>

#include "interrupt_cleanup.hpp"
#include "messages.hpp"

namespace fits_internal {

namespace {

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Where locks cannot be had at all, the file is rewritten without one.
bool no_locks_here(int error) { return error == ENOLCK || error == EOPNOTSUPP || error == ENOSYS; }

int lock_waiting(int fd) {
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

}  // namespace

UniqueFd open_locked(const char* path, LockOutcome& outcome) {
    bool told = false;
    for (;;) {
        UniqueFd fd = open_for_reading(path);
        struct stat opened {};
        if (!fd || ::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
            outcome = LockOutcome::none;
            return fd;
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK) {
                outcome = no_locks_here(errno) ? LockOutcome::none : LockOutcome::failed;
                return fd;
            }
            if (!told) {
                std::fprintf(stderr, messages::WAITING_FOR_REWRITER, program_invocation_short_name, path);
                told = true;
            }
            // A signal while waiting ends the program as during a write.
            install_cleanup_handler();
            if (lock_waiting(fd.get()) != 0) {
                outcome = no_locks_here(errno) ? LockOutcome::none : LockOutcome::failed;
                return fd;
            }
        }
        struct stat named {};
        if (::stat(path, &named) == 0 && same_file(named, opened)) {
            outcome = LockOutcome::held;
            return fd;
        }
        // The holder put a new file in place (or removed it): start over.
    }
}

}  // namespace fits_internal
