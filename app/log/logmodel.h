// The message log: three channels of text lines kept in rings of 1000, one channel
// shown in the log window, and an optional copy of channel 0 in $TMPDIR/vexa/log.txt.
//
// Channel 0 takes the lines other threads send (dozMsg and the like), channel 1 the
// program's own messages, channel 2 the task lines written when a command starts.
// The model belongs to the interface thread; worker threads post() lines, which the
// interface thread applies with drainPosted() when notified. The state is also
// guarded internally, so a stray call from another thread cannot corrupt it.
#pragma once

#include <cstdarg>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vexa::log {

constexpr int kChannelCount = 3;
constexpr int kChannelCapacity = 1000;

// Log window commands (button and scroll identifiers of the window).
enum LogCommand {
    kCommandClear = 10, // "Effacer"
    kCommandToggleEnabled = 11, // "Msg"
    kCommandToggleFile = 12, // "Log"
    kScrollLineUp = 1001,
    kScrollLineDown = 1002,
    kScrollPageUp = 1003,
    kScrollPageDown = 1004,
    kScrollTrack = 1009,
    kScrollPosition = 1010,
};

class MessageLog {
public:
    MessageLog();
    ~MessageLog();
    MessageLog(const MessageLog&) = delete;
    MessageLog& operator=(const MessageLog&) = delete;

    // Adds a copy of text to a channel. Dropped when text is null, the channel number
    // is out of range or the channel is disabled.
    void add(int channel, const char* text);
    // Formats printf-style into channel 1. Long results are kept whole.
    void addFormatted(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void addFormattedV(const char* format, va_list args);

    // Queues a copy of text for channel 0 (or another channel) from any thread; the
    // line is applied by the next drainPosted(). Calls the post notifier afterwards,
    // on the posting thread.
    void post(const char* text, int channel = 0);
    // Applies every queued line in posting order; returns how many were taken.
    int drainPosted();
    int postedCount() const;

    // Called (on the posting thread) after each post: the GUI queues a drain.
    void setPostNotifier(std::function<void()> notifier);
    // Called whenever the window must redraw (a line added to the channel shown, a
    // clear, a scroll, a channel switch, a button state change). Called without any
    // lock held, on the thread that changed the model.
    void setChangeListener(std::function<void()> listener);

    // Window commands: kCommand* and kScroll*; position is used by 1009 and 1010.
    void command(int code, int position = 0);
    // "Effacer": empties channel 0 whatever channel is shown.
    void clearChannel0();
    // "Msg": toggles the enabled flag of the channel shown.
    void toggleShownEnabled();
    // "Log": toggles the copy of channel 0 to the file.
    void toggleFileCopy();
    void setFileCopy(bool on);
    void show(int channel);

    // Window size: lines that fit = (clientHeight - 10) / (3 * lineHeight / 2).
    void resize(int clientHeight, int lineHeight);
    void setLinesThatFit(int lines);

    int shownChannel() const;
    bool enabled(int channel) const;
    void setEnabled(int channel, bool on);
    bool fileCopy() const;
    int linesThatFit() const;
    int count(int channel) const;
    int firstShown(int channel) const;
    // Line i of a channel in age order (0 = oldest kept), empty when out of range.
    std::string line(int channel, int i) const;
    // The lines of the channel shown from its first shown line, at most linesThatFit.
    std::vector<std::string> visibleLines() const;

    // $TMPDIR/vexa/log.txt ($TMPDIR defaulting to /tmp).
    static std::string filePath();

private:
    struct Channel {
        bool enabled = true;
        std::vector<std::string> lines; // reserved on first use
        int count = 0;
        int next = 0;
        int firstShown = 0;
    };
    struct Posted {
        int channel;
        std::string text;
    };

    // Returns true when the window must redraw.
    bool addLocked(int channel, const char* text, bool* toFile);
    void notifyChange();
    static void appendToFile(const char* text);

    mutable std::mutex mutex_;
    Channel channels_[kChannelCount];
    int shown_ = 0;
    bool fileCopy_ = false;
    int linesThatFit_ = 0;

    mutable std::mutex postMutex_;
    std::deque<Posted> posted_;

    std::mutex listenerMutex_;
    std::function<void()> postNotifier_;
    std::function<void()> changeListener_;
};

// The program's log. Posted lines are drained through the installed host's post()
// (at once when there is no host) and changes call the host's refreshLog() on the
// interface thread.
MessageLog& messageLog();

// Shorthands on the program's log, for the interface thread.
void logLine(int channel, const char* text);
void logMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
// From any thread: a line for channel 0, applied on the interface thread.
void logPost(const char* text);

} // namespace vexa::log
