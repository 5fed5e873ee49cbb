// The lock that keeps two rewriters of one file from losing an update: each
// holds an exclusive advisory lock (flock) on the file it replaces from
// before it reads it until the new file is in place.
#pragma once

#include "posix_io.hpp"

namespace fits_internal {

enum class LockOutcome {
    held,    // the lock is held on the file that the name refers to
    none,    // no lock: not a regular file, or the file system has none
    failed,  // the lock could not be taken: the file must not be rewritten
};

// Opens `path` for reading and locks it, waiting for another holder (with
// one notice on standard error); if the name refers to another file once
// the lock is taken (the holder replaced the file), starts over on that one.
// An invalid descriptor when the file cannot be opened.
UniqueFd open_locked(const char* path, LockOutcome& outcome);

}  // namespace fits_internal
