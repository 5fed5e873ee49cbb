// Writing a file so that an existing file of that name is never damaged.
//
// The new content goes to a temporary file beside the target, named
// ".<target name>.<pid>.tmp" (the process id, then a counter if needed), and
// is renamed over the target only once it is complete and on stable storage;
// the folder is flushed after the rename. So after a crash or a power cut at
// any moment the target is the old file or the new one, whole, and once
// commit has returned true it is the new one. A failure removes the
// temporary file and leaves the target as it was. So does SIGINT, SIGTERM or
// SIGHUP: the temporary files of the writes in progress are removed and the
// process ends with status 128 + the signal's number. Only a process killed
// by another signal (SIGKILL) leaves its temporary file behind under that
// name.
//
// The new file keeps the permission bits (and, where allowed, the owner) of
// the file it replaces; a new file gets 0666 less the umask. A symbolic link
// is followed: the file it points to is replaced and the link stays. A
// regular file is never written in place: where no temporary file can be
// made beside it (a folder the user may not write), where it may not be
// renamed over (another user's file in a sticky folder such as /tmp) or
// where the user may not write it, the write is refused. Targets that are
// not regular files (a FIFO, a device) are written directly, unflushed.
#pragma once

#include <cstdint>
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

    // Makes the new, still empty file a clone of `source_fd` (FICLONE): it
    // shares the source's blocks, and only what is written afterwards takes
    // new ones. False, with the file still empty, where the file system
    // cannot (ext4, tmpfs, another file system: EOPNOTSUPP, EXDEV, EINVAL).
    bool clone_from(int source_fd);

    // Tells that the new file's bytes up to `end` are written. Their
    // write-back is started once enough have gathered, while the rest is
    // written, so that the flush of commit finds little left to do.
    void written_up_to(int64_t end);

    // The file that is being replaced (the target, links followed).
    const std::string& target_path() const { return target_path_; }

    // Flushes the new file to stable storage, closes it, puts it in place
    // and flushes the folder. False on failure, which leaves the target as
    // it was unless it is written directly, or unless the rename was done
    // and only the folder could not be flushed (the disk failing under it).
    // The same as the three steps below, which let several files overlap
    // their flushes.
    bool commit();

    // Starts the write-back of what is not on its way to the disk yet, up to
    // `end` (-1: the end of the file).
    void start_flush(int64_t end = -1);

    // Waits until the new file is on stable storage and closes it. False on
    // failure, with the target as it was.
    bool finish_flush();

    // Puts the flushed file in place; its folder is not flushed yet. False
    // on failure, with the target as it was.
    bool place();

    // Flushes the folder of the placed file, which makes the rename durable.
    bool flush_folder() const;

    // The folder of the target, with its final slash ("" for a bare name).
    std::string folder() const;

    // Gives up: closes and removes the temporary file at once.
    void abandon();

private:
    bool open_in_place(bool keep_existing_bytes);

    std::string target_path_;
    std::string temp_path_;
    UniqueFd fd_;
    bool direct_ = false;    // the target itself is written (not a regular file)
    int cleanup_slot_ = -1;  // where the signal handler finds temp_path_
    int64_t writeback_from_ = 0;  // the first byte whose write-back was not started
};

}  // namespace fits_internal
