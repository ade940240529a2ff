#include "log/logmodel.h"

#include "host/host.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace vexa::log {

MessageLog::MessageLog() = default;
MessageLog::~MessageLog() = default;

bool MessageLog::addLocked(int channel, const char* text, bool* toFile)
{
    if (channel < 0 || channel >= kChannelCount)
        return false;
    Channel& c = channels_[channel];
    if (!c.enabled)
        return false;
    if (c.lines.empty())
        c.lines.resize(kChannelCapacity);
    if (c.count < kChannelCapacity) {
        c.lines[c.count] = text;
        ++c.count;
    } else {
        c.lines[c.next] = text;
        c.next = (c.next + 1) % kChannelCapacity;
    }
    c.firstShown = std::max(0, c.count - std::max(linesThatFit_, 1));
    *toFile = fileCopy_ && channel == 0;
    return channel == shown_;
}

void MessageLog::add(int channel, const char* text)
{
    if (!text)
        return;
    bool redraw;
    {
        std::lock_guard lock(mutex_);
        bool toFile = false;
        redraw = addLocked(channel, text, &toFile);
        // Written under the lock so that the file keeps the order of the lines.
        if (toFile)
            appendToFile(text);
    }
    if (redraw)
        notifyChange();
}

void MessageLog::addFormattedV(const char* format, va_list args)
{
    if (!format)
        return;
    va_list copy;
    va_copy(copy, args);
    char small[1024];
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
        return;
    if (static_cast<size_t>(n) < sizeof small) {
        add(1, small);
        return;
    }
    // Longer than the usual message: format again into a buffer of the exact size
    // rather than cutting the line or writing past a fixed buffer.
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), format, args);
    big.resize(static_cast<size_t>(n));
    add(1, big.c_str());
}

void MessageLog::addFormatted(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    addFormattedV(format, args);
    va_end(args);
}

void MessageLog::post(const char* text, int channel)
{
    if (!text)
        return;
    {
        std::lock_guard lock(postMutex_);
        posted_.push_back({ channel, text });
    }
    std::function<void()> notifier;
    {
        std::lock_guard lock(listenerMutex_);
        notifier = postNotifier_;
    }
    if (notifier)
        notifier();
}

int MessageLog::drainPosted()
{
    std::deque<Posted> batch;
    {
        std::lock_guard lock(postMutex_);
        batch.swap(posted_);
    }
    for (const Posted& p : batch)
        add(p.channel, p.text.c_str());
    return static_cast<int>(batch.size());
}

int MessageLog::postedCount() const
{
    std::lock_guard lock(postMutex_);
    return static_cast<int>(posted_.size());
}

void MessageLog::setPostNotifier(std::function<void()> notifier)
{
    std::lock_guard lock(listenerMutex_);
    postNotifier_ = std::move(notifier);
}

void MessageLog::setChangeListener(std::function<void()> listener)
{
    std::lock_guard lock(listenerMutex_);
    changeListener_ = std::move(listener);
}

void MessageLog::notifyChange()
{
    std::function<void()> listener;
    {
        std::lock_guard lock(listenerMutex_);
        listener = changeListener_;
    }
    if (listener)
        listener();
}

void MessageLog::command(int code, int position)
{
    switch (code) {
    case kCommandClear:
        clearChannel0();
        return;
    case kCommandToggleEnabled:
        toggleShownEnabled();
        return;
    case kCommandToggleFile:
        toggleFileCopy();
        return;
    default:
        break;
    }
    {
        std::lock_guard lock(mutex_);
        Channel& c = channels_[shown_];
        int first = c.firstShown;
        switch (code) {
        case kScrollLineUp:
            first -= 1;
            break;
        case kScrollLineDown:
            first += 1;
            break;
        case kScrollPageUp:
            first -= 10;
            break;
        case kScrollPageDown:
            first += 10;
            break;
        case kScrollTrack:
        case kScrollPosition:
            first = position;
            break;
        default:
            return;
        }
        c.firstShown = std::clamp(first, 0, std::max(0, c.count - 1));
    }
    notifyChange();
}

void MessageLog::clearChannel0()
{
    {
        std::lock_guard lock(mutex_);
        Channel& c = channels_[0];
        c.lines.clear();
        c.lines.shrink_to_fit();
        c.count = c.next = c.firstShown = 0;
    }
    notifyChange();
}

void MessageLog::toggleShownEnabled()
{
    {
        std::lock_guard lock(mutex_);
        channels_[shown_].enabled = !channels_[shown_].enabled;
    }
    notifyChange();
}

void MessageLog::toggleFileCopy()
{
    {
        std::lock_guard lock(mutex_);
        fileCopy_ = !fileCopy_;
    }
    notifyChange();
}

void MessageLog::setFileCopy(bool on)
{
    {
        std::lock_guard lock(mutex_);
        fileCopy_ = on;
    }
    notifyChange();
}

void MessageLog::show(int channel)
{
    if (channel < 0 || channel >= kChannelCount)
        return;
    {
        std::lock_guard lock(mutex_);
        shown_ = channel;
    }
    notifyChange();
}

void MessageLog::resize(int clientHeight, int lineHeight)
{
    int step = 3 * lineHeight / 2;
    if (step <= 0)
        return;
    setLinesThatFit(std::max(0, (clientHeight - 10) / step));
}

void MessageLog::setLinesThatFit(int lines)
{
    {
        std::lock_guard lock(mutex_);
        linesThatFit_ = std::max(0, lines);
        // Keep the last page filled: a taller window shows more of the older lines.
        for (Channel& c : channels_)
            c.firstShown = std::min(c.firstShown, std::max(0, c.count - linesThatFit_));
    }
    notifyChange();
}

int MessageLog::shownChannel() const
{
    std::lock_guard lock(mutex_);
    return shown_;
}

bool MessageLog::enabled(int channel) const
{
    if (channel < 0 || channel >= kChannelCount)
        return false;
    std::lock_guard lock(mutex_);
    return channels_[channel].enabled;
}

void MessageLog::setEnabled(int channel, bool on)
{
    if (channel < 0 || channel >= kChannelCount)
        return;
    {
        std::lock_guard lock(mutex_);
        channels_[channel].enabled = on;
    }
    notifyChange();
}

bool MessageLog::fileCopy() const
{
    std::lock_guard lock(mutex_);
    return fileCopy_;
}

int MessageLog::linesThatFit() const
{
    std::lock_guard lock(mutex_);
    return linesThatFit_;
}

int MessageLog::count(int channel) const
{
    if (channel < 0 || channel >= kChannelCount)
        return 0;
    std::lock_guard lock(mutex_);
    return channels_[channel].count;
}

int MessageLog::firstShown(int channel) const
{
    if (channel < 0 || channel >= kChannelCount)
        return 0;
    std::lock_guard lock(mutex_);
    return channels_[channel].firstShown;
}

std::string MessageLog::line(int channel, int i) const
{
    if (channel < 0 || channel >= kChannelCount)
        return {};
    std::lock_guard lock(mutex_);
    const Channel& c = channels_[channel];
    if (i < 0 || i >= c.count)
        return {};
    // Until the ring is full `next` is 0, so this is also the plain index.
    return c.lines[(c.next + i) % kChannelCapacity];
}

std::vector<std::string> MessageLog::visibleLines() const
{
    std::lock_guard lock(mutex_);
    const Channel& c = channels_[shown_];
    std::vector<std::string> out;
    for (int i = c.firstShown; i < c.count && static_cast<int>(out.size()) < linesThatFit_; ++i)
        out.push_back(c.lines[(c.next + i) % kChannelCapacity]);
    return out;
}

std::string MessageLog::filePath()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = (tmp && *tmp) ? tmp : "/tmp";
    if (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir + "/vexa/log.txt";
}

void MessageLog::appendToFile(const char* text)
{
    std::string path = filePath();
    std::string dir = path.substr(0, path.rfind('/'));
    if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
        return;
    // Opened and closed per line, so the file is complete whenever the program stops.
    std::FILE* f = std::fopen(path.c_str(), "a");
    if (!f)
        return;
    std::fputs(text, f);
    std::fputc('\n', f);
    std::fclose(f);
}

namespace {

// Lines posted by workers are applied on the interface thread; without a host
// (headless use) there is no such loop, and the poster applies them itself.
void drainThroughHost()
{
    if (Host* h = host())
        h->post([] { messageLog().drainPosted(); });
    else
        messageLog().drainPosted();
}

void refreshLogWindow()
{
    Host* h = host();
    if (!h)
        return;
    if (isInterfaceThread())
        h->refreshLog();
    else
        h->post([] {
            if (Host* again = host())
                again->refreshLog();
        });
}

} // namespace

MessageLog& messageLog()
{
    static MessageLog* log = [] {
        // Never destroyed: threads may still log while the program exits.
        auto* l = new MessageLog;
        l->setPostNotifier(drainThroughHost);
        l->setChangeListener(refreshLogWindow);
        return l;
    }();
    return *log;
}

void logLine(int channel, const char* text)
{
    messageLog().add(channel, text);
}

void logMessage(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    messageLog().addFormattedV(format, args);
    va_end(args);
}

void logPost(const char* text)
{
    messageLog().post(text, 0);
}

} // namespace vexa::log
