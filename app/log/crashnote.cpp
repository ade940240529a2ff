#include "log/crashnote.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace vexa::log {

namespace {

constexpr int kSignals[] = { SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT };
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

// Read by the handler: fixed buffers only, nothing it would have to allocate.
char gPath[1024];
struct sigaction gPrevious[kSignalCount];
bool gInstalled = false;
thread_local char tContext[256];

const char* signalName(int sig)
{
    switch (sig) {
    case SIGSEGV:
        return "accès mémoire invalide (SIGSEGV)";
    case SIGBUS:
        return "erreur de bus (SIGBUS)";
    case SIGFPE:
        return "erreur arithmétique (SIGFPE)";
    case SIGILL:
        return "instruction illégale (SIGILL)";
    case SIGABRT:
        return "arrêt demandé (SIGABRT)";
    default:
        return "signal";
    }
}

void append(char* out, std::size_t size, const char* text)
{
    const std::size_t used = std::strlen(out);
    if (used + 1 >= size)
        return;
    std::size_t n = std::strlen(text);
    n = std::min(n, size - used - 1);
    std::memcpy(out + used, text, n);
    out[used + n] = '\0';
}

void onFault(int sig, siginfo_t* info, void* context)
{
    // Only async-signal-safe calls from here on.
    const int fd = ::open(gPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        char text[512] = "";
        append(text, sizeof text, signalName(sig));
        if (tContext[0]) {
            append(text, sizeof text, " pendant ");
            append(text, sizeof text, tContext);
        }
        append(text, sizeof text, "\n");
        ssize_t written = ::write(fd, text, std::strlen(text));
        (void)written;
        ::close(fd);
    }
    int index = 0;
    while (index < kSignalCount && kSignals[index] != sig)
        ++index;
    const struct sigaction& previous = gPrevious[index < kSignalCount ? index : 0];
    if ((previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction) {
        previous.sa_sigaction(sig, info, context);
        return;
    }
    if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler != SIG_DFL
        && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(sig);
        return;
    }
    // The default action ends the process when the signal comes again on return.
    std::signal(sig, SIG_DFL);
    raise(sig);
}

} // namespace

void installCrashNote(const std::string& path)
{
    std::snprintf(gPath, sizeof gPath, "%s", path.c_str());
    if (gInstalled)
        return;
    struct sigaction action { };
    action.sa_sigaction = onFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i)
        sigaction(kSignals[i], &action, &gPrevious[i]);
    gInstalled = true;
}

void removeCrashNote()
{
    if (!gInstalled)
        return;
    for (int i = 0; i < kSignalCount; ++i)
        sigaction(kSignals[i], &gPrevious[i], nullptr);
    gInstalled = false;
}

void setCrashContext(const char* text)
{
    std::snprintf(tContext, sizeof tContext, "%s", text ? text : "");
}

std::string takeCrashNote(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    in.close();
    ::unlink(path.c_str());
    std::string note = text.str().substr(0, 1024);
    while (!note.empty() && (note.back() == '\n' || note.back() == '\r'))
        note.pop_back();
    return note;
}

} // namespace vexa::log
