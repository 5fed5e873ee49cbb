#include "interrupt_cleanup.hpp"

#include <atomic>
#include <unistd.h>

namespace fits_internal {

namespace {

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSlots = 16;  // quadsplit writes four files at once

std::atomic<const char*> temp_files[kSlots];
static_assert(std::atomic<const char*>::is_always_lock_free, "the signal handler reads the slots");

extern "C" void remove_temp_files_and_exit(int signal_number) {
    for (std::atomic<const char*>& slot : temp_files)
        if (const char* path = slot.load()) ::unlink(path);
    ::_exit(128 + signal_number);
}

void install_handler_once() {
    static const bool installed = [] {
        for (int s : kCleanupSignals) {
            struct sigaction current {};
            if (::sigaction(s, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
            struct sigaction ours {};
            ours.sa_handler = remove_temp_files_and_exit;
            sigemptyset(&ours.sa_mask);
            for (int other : kCleanupSignals) sigaddset(&ours.sa_mask, other);
            ::sigaction(s, &ours, nullptr);
        }
        return true;
    }();
    (void)installed;
}

sigset_t cleanup_signal_set() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kCleanupSignals) sigaddset(&set, s);
    return set;
}

}  // namespace

void install_cleanup_handler() { install_handler_once(); }

int register_temp_file(const char* path) {
    install_handler_once();
    for (int i = 0; i < kSlots; ++i) {
        const char* empty = nullptr;
        if (temp_files[i].compare_exchange_strong(empty, path)) return i;
    }
    return -1;
}

void unregister_temp_file(int slot) {
    if (slot >= 0 && slot < kSlots) temp_files[slot].store(nullptr);
}

CleanupSignalsBlocked::CleanupSignalsBlocked() {
    const sigset_t set = cleanup_signal_set();
    ::sigprocmask(SIG_BLOCK, &set, &saved_);
}

CleanupSignalsBlocked::~CleanupSignalsBlocked() { ::sigprocmask(SIG_SETMASK, &saved_, nullptr); }

}  // namespace fits_internal
