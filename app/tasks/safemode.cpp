#include "tasks/safemode.h"

#include <algorithm>
#include <csetjmp>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <unistd.h>

namespace vexa {

namespace {

constexpr int kSignals[] = { SIGSEGV, SIGBUS, SIGFPE, SIGILL };
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

// What handled the signals before the guard; restored when the last guarded call
// ends. Written only while no handler of ours is installed.
struct sigaction gPrevious[kSignalCount];
int gActiveCalls = 0;

std::mutex& installMutex()
{
    static auto* mutex = new std::mutex;
    return *mutex;
}

struct Guard {
    sigjmp_buf jump;
    volatile sig_atomic_t signal = 0;
};

// The innermost guarded call of this thread; null outside any.
thread_local Guard* tGuard = nullptr;

void passToPrevious(int sig, siginfo_t* info, void* context)
{
    int index = 0;
    while (index < kSignalCount && kSignals[index] != sig)
        ++index;
    if (index < kSignalCount) {
        const struct sigaction& previous = gPrevious[index];
        if (previous.sa_flags & SA_SIGINFO) {
            if (previous.sa_sigaction) {
                previous.sa_sigaction(sig, info, context);
                return;
            }
        } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
            previous.sa_handler(sig);
            return;
        }
    }
    // Default handling: the signal is re-raised once this handler returns (a fault
    // would also simply happen again), and this time it ends the process.
    std::signal(sig, SIG_DFL);
    raise(sig);
}

void onFault(int sig, siginfo_t* info, void* context)
{
    Guard* guard = tGuard;
    if (!guard) {
        passToPrevious(sig, info, context);
        return;
    }
    guard->signal = sig;
    siglongjmp(guard->jump, 1);
}

void acquireHandlers()
{
    std::lock_guard lock(installMutex());
    if (gActiveCalls++ > 0)
        return;
    struct sigaction action { };
    action.sa_sigaction = onFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i)
        sigaction(kSignals[i], &action, &gPrevious[i]);
}

void releaseHandlers()
{
    std::lock_guard lock(installMutex());
    if (--gActiveCalls > 0)
        return;
    for (int i = 0; i < kSignalCount; ++i)
        sigaction(kSignals[i], &gPrevious[i], nullptr);
}

// An alternate signal stack for the duration of one guarded call; the thread's
// previous one (a sanitizer runtime may own it) is put back afterwards.
class AltStack {
public:
    AltStack()
    {
        long minimum = sysconf(_SC_SIGSTKSZ);
        size_ = std::max<std::size_t>(minimum > 0 ? std::size_t(minimum) : 0, 64 * 1024);
        memory_ = std::malloc(size_);
        if (!memory_)
            return;
        stack_t mine {};
        mine.ss_sp = memory_;
        mine.ss_size = size_;
        installed_ = sigaltstack(&mine, &previous_) == 0;
    }
    ~AltStack()
    {
        if (installed_) {
            if (previous_.ss_flags & SS_DISABLE) {
                stack_t off {};
                off.ss_flags = SS_DISABLE;
                sigaltstack(&off, nullptr);
            } else {
                previous_.ss_flags = 0;
                sigaltstack(&previous_, nullptr);
            }
        }
        std::free(memory_);
    }
    AltStack(const AltStack&) = delete;
    AltStack& operator=(const AltStack&) = delete;

private:
    void* memory_ = nullptr;
    std::size_t size_ = 0;
    stack_t previous_ {};
    bool installed_ = false;
};

} // namespace

int safeModeCall(void (*fn)(void*), void* arg) noexcept
{
    if (!fn)
        return 0;
    AltStack stack;
    acquireHandlers();
    Guard guard;
    Guard* const outer = tGuard;
    if (sigsetjmp(guard.jump, 1) == 0) {
        tGuard = &guard;
        fn(arg);
    }
    tGuard = outer;
    releaseHandlers();
    return guard.signal;
}

bool safeModeActive()
{
    return tGuard != nullptr;
}

} // namespace vexa
