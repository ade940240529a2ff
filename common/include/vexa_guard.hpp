// Shell for C exports: C callers must never see an exception. A failure inside
// (bad_alloc on a 40 GB volume, a logic error) turns into the failure value.
#pragma once

#include <utility>

namespace vexa {

template <typename F, typename R = decltype(std::declval<F>()())>
R guarded(F&& f, R onFailure = R {}) noexcept
{
    try {
        return std::forward<F>(f)();
    } catch (...) {
        return onFailure;
    }
}

template <typename F> void guardedVoid(F&& f) noexcept
{
    try {
        std::forward<F>(f)();
    } catch (...) {
    }
}

} // namespace vexa
