// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileMapping.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace vesk::platform {
namespace {

// The guarded ranges, read by the signal handler: plain atomics in a fixed
// table, since the handler may neither lock nor allocate.
struct Guard {
    std::atomic<bool> taken{false};
    std::atomic<std::uintptr_t> begin{0}, end{0};
    std::atomic<bool> shrank{false};
};
Guard guards[FileMapping::kMaxGuarded];
std::uintptr_t pageSize = 4096;
struct sigaction previousAction {};

void onBusError(int signal, siginfo_t* info, void* context) {
    const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (Guard& g : guards) {
        const std::uintptr_t begin = g.begin.load(std::memory_order_acquire);
        const std::uintptr_t end = g.end.load(std::memory_order_acquire);
        if (begin == 0 || at < begin || at >= end) continue;
        // The file is shorter than the mapping from this page on: zeros stand
        // in for the rest, so the touch runs again and reads them.
        const std::uintptr_t page = at & ~(pageSize - 1);
        void* zeros = ::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (zeros != MAP_FAILED) {
            g.shrank.store(true, std::memory_order_relaxed);
            return;
        }
        break;
    }
    // Not ours: whatever was there before us decides.
    if ((previousAction.sa_flags & SA_SIGINFO) && previousAction.sa_sigaction) {
        previousAction.sa_sigaction(signal, info, context);
        return;
    }
    if (!(previousAction.sa_flags & SA_SIGINFO) && previousAction.sa_handler != SIG_DFL &&
        previousAction.sa_handler != SIG_IGN) {
        previousAction.sa_handler(signal);
        return;
    }
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(SIGBUS, &fallback, nullptr);
    // A fault comes again when the instruction runs again; a signal that was
    // sent is sent again, to the default action this time.
    if (info->si_code <= 0) ::raise(SIGBUS);
}

void installHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (const long size = ::sysconf(_SC_PAGESIZE); size > 0) pageSize = static_cast<std::uintptr_t>(size);
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &previousAction);
    });
}

}  // namespace

FileMapping::FileMapping(int fd, std::size_t size, bool writable) : size_(size) {
    if (size == 0) return;
    installHandler();
    for (int i = 0; i < kMaxGuarded; ++i)
        if (!guards[i].taken.exchange(true, std::memory_order_acq_rel)) {
            slot_ = i;
            break;
        }
    if (slot_ < 0) return;
    void* p = ::mmap(nullptr, size, PROT_READ | (writable ? PROT_WRITE : 0), MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) return;
    data_ = static_cast<std::uint8_t*>(p);
    Guard& g = guards[slot_];
    g.shrank.store(false, std::memory_order_relaxed);
    g.end.store(reinterpret_cast<std::uintptr_t>(data_) + size, std::memory_order_release);
    g.begin.store(reinterpret_cast<std::uintptr_t>(data_), std::memory_order_release);
}

FileMapping::~FileMapping() {
    if (slot_ < 0) return;
    Guard& g = guards[slot_];
    // Unguarded before it goes, so no later mapping at these addresses is taken for it.
    g.begin.store(0, std::memory_order_release);
    g.end.store(0, std::memory_order_release);
    if (data_) ::munmap(data_, size_);
    g.taken.store(false, std::memory_order_release);
}

bool FileMapping::shrank() const {
    return slot_ >= 0 && guards[slot_].shrank.load(std::memory_order_relaxed);
}

}  // namespace vesk::platform
