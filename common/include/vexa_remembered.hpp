// Dialog values a command remembers while the program runs. Several tasks may run the
// same command at once, each on its worker, so nobody binds a dialog to the stored
// values: a task asks on a copy and writes back only what its validated dialog set.
#pragma once

#include <mutex>

namespace vexa {

template <typename Settings> class Remembered {
public:
    Settings copy() const
    {
        std::lock_guard lock(mutex_);
        return value_;
    }

    void replace(const Settings& value)
    {
        std::lock_guard lock(mutex_);
        value_ = value;
    }

    // Runs change on the stored values under the lock: a validated dialog stores the
    // fields it asked for and leaves those another task may have just stored.
    template <typename Change> void update(Change change)
    {
        std::lock_guard lock(mutex_);
        change(value_);
    }

    void reset() { replace(Settings {}); }

private:
    mutable std::mutex mutex_;
    Settings value_ {};
};

} // namespace vexa
