// Writing a file so that an existing file of that name is never damaged.
//
// The new content goes to a temporary file beside the target, named
// ".<target name>.<pid>.tmp" (the process id, then a counter if needed), and
// is renamed over the target only once it is complete and closed. A failure
// removes the temporary file and leaves the target as it was. A process
// killed meanwhile leaves its temporary file behind under that name.
//
// The new file keeps the permission bits (and, where allowed, the owner) of
// the file it replaces; a new file gets 0666 less the umask. A symbolic link
// is followed: the file it points to is replaced and the link stays. A target
// that exists but is not writable by the user is refused. Where no temporary
// file can be made (a directory we may not write), where the file may be
// written but not renamed over (another user's file in a sticky folder such
// as /tmp), and for targets that are not regular files, the target itself is
// written.
#pragma once

#include <string>

#include "posix_io.hpp"

namespace fits_internal {

class FileReplacement {
public:
    FileReplacement() = default;
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;
    ~FileReplacement();

    // Prepares to write `target`. With keep_existing_bytes, a target written
    // in place is not emptied first. False when the target cannot be written.
    bool open(const char* target, bool keep_existing_bytes);

    int fd() const { return fd_.get(); }

    // True when the target itself is being written (no temporary file).
    bool in_place() const { return fd_ && temp_path_.empty(); }

    // The file that is being replaced (the target, links followed).
    const std::string& target_path() const { return target_path_; }

    // Closes the new file and puts it in place; false on failure, which
    // leaves the target as it was unless it was written in place.
    bool commit();

private:
    bool open_in_place(bool keep_existing_bytes);

    std::string target_path_;
    std::string temp_path_;
    UniqueFd fd_;
};

}  // namespace fits_internal
