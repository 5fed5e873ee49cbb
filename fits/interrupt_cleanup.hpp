// Temporary files that SIGINT, SIGTERM or SIGHUP must not leave behind. The
// library's handler for those signals removes every registered file and
// ends the process with status 128 + the signal's number. A signal that the
// process ignores (as under nohup) stays ignored.
#pragma once

#include <csignal>

namespace fits_internal {

// Installs the handler (registering a file does it too), for a program that
// is about to wait: a signal then ends it with status 128 + the signal.
void install_cleanup_handler();

// Registers `path`, which must stay valid and unchanged until it is
// unregistered. Returns the slot to unregister, or -1 when every slot is
// taken (the file is then not removed on a signal).
int register_temp_file(const char* path);
void unregister_temp_file(int slot);

// Holds the three signals back while it lives, so that a file is never
// created without being registered.
class CleanupSignalsBlocked {
public:
    CleanupSignalsBlocked();
    ~CleanupSignalsBlocked();
    CleanupSignalsBlocked(const CleanupSignalsBlocked&) = delete;
    CleanupSignalsBlocked& operator=(const CleanupSignalsBlocked&) = delete;

private:
    sigset_t saved_;
};

}  // namespace fits_internal
