// Fault guard of "Mode 'Safe'": a plug-in call that faults (SIGSEGV, SIGBUS, SIGFPE,
// SIGILL, stack overflow included) returns to the caller with the signal number
// instead of killing the program.
//
// The guard is per thread: a fault on a thread that is not inside a guarded call is
// handed to whatever handled the signal before (default handling: the process dies).
// The handlers are installed only while at least one guarded call runs, so outside
// safe mode nothing is caught. Each guarded call runs with its own alternate signal
// stack so that a stack overflow can still be reported.
//
// What the interrupted code was doing is abandoned: its destructors do not run and
// what it allocated leaks. The task that made the call then ends normally.
#pragma once

namespace vexa {

// Runs fn(arg) under the guard. Returns 0 when fn returned, else the number of the
// signal that interrupted it.
int safeModeCall(void (*fn)(void*), void* arg) noexcept;

// Result of safeModeRun when the callable threw a C++ exception.
constexpr int kSafeModeException = -1;

// The same for any callable; an exception it throws is caught and reported as
// kSafeModeException. The callable should not own resources that must be released:
// a fault skips its destructors.
template <typename F> int safeModeRun(F& f) noexcept
{
    struct Call {
        F* f;
        bool threw;
    } call { &f, false };
    int signal = safeModeCall(
        [](void* p) {
            auto* c = static_cast<Call*>(p);
            try {
                (*c->f)();
            } catch (...) {
                c->threw = true;
            }
        },
        &call);
    return signal ? signal : (call.threw ? kSafeModeException : 0);
}

// True while the calling thread is inside a guarded call.
bool safeModeActive();

} // namespace vexa
