// FileReplacement: a new file written beside its target and put in place by
// a rename once it is on stable storage.
#include "file_replacement.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "interrupt_cleanup.hpp"
#include "tuning.hpp"

namespace fits_internal {

namespace {

// Keeps temporary names within the file system's name limit.
constexpr size_t kMaxBaseInTempName = 200;
constexpr int kTempNameAttempts = 100;

// The folder part of a path with its final slash ("" for a bare name), so
// that folder + name is a path beside the given one.
std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string temp_name_for(const std::string& target, int attempt) {
    const std::string dir = folder_of(target);
    const std::string base = target.substr(dir.size());
    std::string name = dir + "." + base.substr(0, kMaxBaseInTempName) + "." + std::to_string(getpid());
    if (attempt > 0) name += "." + std::to_string(attempt);
    return name + ".tmp";
}

// Owner first: changing it may clear set-id bits that the mode restores.
// Only a privileged user may give a file away; for anyone else the new file
// stays theirs, which is what the old one was to them anyway.
void keep_owner_and_mode(int fd, const struct stat& old) {
    const bool owner_kept = ::fchown(fd, old.st_uid, old.st_gid) == 0;
    (void)owner_kept;
    ::fchmod(fd, old.st_mode & 07777);
}

// Follows a chain of symbolic links whose last one names no file yet, to the
// path that writing through the link would create. Empty when it cannot.
std::string follow_links(std::string path) {
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
        if (n < 0) return "";
        const std::string link(buf, static_cast<size_t>(n));
        const bool absolute = !link.empty() && link[0] == '/';
        path = absolute ? link : folder_of(path) + link;
    }
    return "";
}

// In a sticky folder (such as /tmp) only the owner of a file, of the folder,
// or root may rename over it.
bool rename_forbidden(const std::string& target, const struct stat& file) {
    const uid_t me = ::geteuid();
    if (me == 0 || file.st_uid == me) return false;
    const std::string dir = folder_of(target) + ".";
    struct stat folder {};
    return ::stat(dir.c_str(), &folder) == 0 && (folder.st_mode & S_ISVTX) != 0 && folder.st_uid != me;
}

// A name longer than its folder allows can never be created; found out
// before anything is written rather than when the finished file is renamed.
bool name_too_long(const std::string& path) {
    const std::string dir = folder_of(path);
    long limit = ::pathconf(dir.empty() ? "." : dir.c_str(), _PC_NAME_MAX);
    if (limit < 0) limit = NAME_MAX;
    return path.size() - dir.size() > static_cast<size_t>(limit);
}

}  // namespace

FileReplacement::~FileReplacement() { abandon(); }

void FileReplacement::abandon() {
    fd_.close();
    if (temp_path_.empty()) return;
    CleanupSignalsBlocked blocked;
    ::unlink(temp_path_.c_str());
    unregister_temp_file(cleanup_slot_);
    cleanup_slot_ = -1;
    temp_path_.clear();
}

bool FileReplacement::open(const char* target, bool keep_existing_bytes) {
    target_path_ = target;
    direct_ = false;
    struct stat st {};
    if (::lstat(target, &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* resolved = ::realpath(target, nullptr)) {
            target_path_ = resolved;
            std::free(resolved);
        } else {
            target_path_ = follow_links(target);  // the link names no file yet
            if (target_path_.empty()) return false;
        }
    }

    const bool exists = ::stat(target_path_.c_str(), &st) == 0;
    if (!exists && name_too_long(target_path_)) return false;
    if (exists) {
        if (!S_ISREG(st.st_mode)) return open_in_place(keep_existing_bytes);
        if (::access(target_path_.c_str(), W_OK) != 0) return false;
        if (rename_forbidden(target_path_, st)) return false;
    }

    CleanupSignalsBlocked blocked;
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        std::string name = temp_name_for(target_path_, attempt);
        fd_ = UniqueFd(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd_) {
            temp_path_ = std::move(name);
            cleanup_slot_ = register_temp_file(temp_path_.c_str());
            break;
        }
        if (errno != EEXIST) return false;
    }
    if (!fd_) return false;

    if (exists) keep_owner_and_mode(fd_.get(), st);
    return true;
}

bool FileReplacement::open_in_place(bool keep_existing_bytes) {
    const int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | (keep_existing_bytes ? 0 : O_TRUNC);
    fd_ = UniqueFd(::open(target_path_.c_str(), flags, 0666));
    if (!fd_) return false;
    direct_ = true;
    const int current = fcntl(fd_.get(), F_GETFL);
    if (current >= 0) fcntl(fd_.get(), F_SETFL, current & ~O_NONBLOCK);
    return true;
}

bool FileReplacement::clone_from(int source_fd) {
    if (!fd_ || temp_path_.empty()) return false;
    if (::ioctl(fd_.get(), FICLONE, source_fd) == 0) return true;
    // A clone that failed part way (no space left) may have left some
    // blocks: the file starts empty again for the copy.
    const bool emptied = ::ftruncate(fd_.get(), 0) == 0;
    (void)emptied;
    return false;
}

void FileReplacement::written_up_to(int64_t end) {
    if (!fd_ || temp_path_.empty() || end - writeback_from_ < tuning::WRITEBACK_BATCH) return;
    start_writeback(fd_.get(), writeback_from_, end - writeback_from_);
    writeback_from_ = end;
}

bool FileReplacement::commit() {
    if (temp_path_.empty()) return fd_.close();
    return finish_flush() && place() && flush_folder();
}

void FileReplacement::start_flush(int64_t end) {
    if (!fd_ || temp_path_.empty()) return;
    if (end < 0) end = ::lseek(fd_.get(), 0, SEEK_END);
    if (end <= writeback_from_) return;
    start_writeback(fd_.get(), writeback_from_, end - writeback_from_);
    writeback_from_ = end;
}

bool FileReplacement::finish_flush() {
    const bool stored = temp_path_.empty() || flush_to_disk(fd_.get());
    const bool closed = fd_.close();
    if (!stored || !closed) abandon();
    return stored && closed;
}

bool FileReplacement::place() {
    if (temp_path_.empty()) return true;
    if (::rename(temp_path_.c_str(), target_path_.c_str()) != 0) {
        abandon();
        return false;
    }
    unregister_temp_file(cleanup_slot_);
    cleanup_slot_ = -1;
    temp_path_.clear();
    return true;
}

std::string FileReplacement::folder() const { return folder_of(target_path_); }

// A folder the user may not read cannot be flushed itself; the renamed file
// is flushed again instead, which records the rename on the journalling file
// systems.
bool FileReplacement::flush_folder() const {
    if (direct_) return true;
    const std::string dir_path = folder();
    UniqueFd dir(::open(dir_path.empty() ? "." : dir_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) dir = open_for_reading(target_path_.c_str());
    return dir && flush_to_disk(dir.get());
}

}  // namespace fits_internal
