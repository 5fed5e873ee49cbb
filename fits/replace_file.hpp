// Writing a file so that an existing file of that name is never damaged.
//
// The new content goes to a temporary file beside the target, named
// ".<target name>.<pid>.tmp" (the process id, then a counter if needed), and
// is renamed over the target only once it is complete and closed. A failure
// removes the temporary file and leaves the target as it was. So does
// SIGINT, SIGTERM or SIGHUP: the temporary files of the writes in progress
// are removed and the process ends with status 128 + the signal's number.
// Only a process killed by another signal (SIGKILL) leaves its temporary
// file behind under that name.
//
// The new file keeps the permission bits (and, where allowed, the owner) of
// the file it replaces; a new file gets 0666 less the umask. A symbolic link
// is followed: the file it points to is replaced and the link stays. A
// regular file is never written in place: where no temporary file can be
// made beside it (a folder the user may not write), where it may not be
// renamed over (another user's file in a sticky folder such as /tmp) or
// where the user may not write it, the write is refused. Targets that are
// not regular files (a FIFO, a device) are written directly.
#pragma once

#include <string>

#include "posix_io.hpp"

namespace fits_internal {

class FileReplacement {
public:
    FileReplacement() = default;
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;
    ~FileReplacement();  // an uncommitted temporary file is removed

    // Prepares to write `target`. With keep_existing_bytes, a target that is
    // written directly is not emptied first. False when the target cannot
    // be written.
    bool open(const char* target, bool keep_existing_bytes);

    int fd() const { return fd_.get(); }

    // True when the target itself is being written (no temporary file).
    bool in_place() const { return fd_ && temp_path_.empty(); }

    // The file that is being replaced (the target, links followed).
    const std::string& target_path() const { return target_path_; }

    // Closes the new file and puts it in place; false on failure, which
    // leaves the target as it was unless it is written directly.
    bool commit();

    // Gives up: closes and removes the temporary file at once.
    void abandon();

private:
    bool open_in_place(bool keep_existing_bytes);

    std::string target_path_;
    std::string temp_path_;
    UniqueFd fd_;
    int cleanup_slot_ = -1;  // where the signal handler finds temp_path_
};

}  // namespace fits_internal
