#include "plugins/messageapi.h"

#include "host/host.h"
#include "log/logmodel.h"

#include "vexa_guard.hpp"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

constexpr std::size_t kFormatBufferBytes = VEXA_MSG_FORMAT_MAX_CHARS + 1;

std::string orEmpty(const char* text)
{
    return text ? std::string(text) : std::string();
}

} // namespace

extern "C" {

int dozMsg(const char* text)
{
    return vexa::guarded([&] {
        vexa::log::logPost(text ? text : "");
        return 1;
    });
}

int dozMsgFormat(const char* format, ...)
{
    if (!format)
        return 0;
    // vsnprintf never writes past the buffer: a longer result is cut, not overflowed.
    char buffer[kFormatBufferBytes];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length <= 0)
        return 0;
    return dozMsg(buffer);
}

int dozMsgBox(const char* caption, const char* text)
{
    return vexa::guarded(
        [&] {
            return static_cast<int>(
                vexa::hostMessageBox(orEmpty(caption), orEmpty(text), vexa::MessageButtons::Ok));
        },
        static_cast<int>(vexa::MessageAnswer::Cancel));
}

int dozMsgBoxYNC(const char* caption, const char* text)
{
    return vexa::guarded(
        [&] {
            switch (vexa::hostMessageBox(
                orEmpty(caption), orEmpty(text), vexa::MessageButtons::YesNoCancel)) {
            case vexa::MessageAnswer::Yes:
                return 0;
            case vexa::MessageAnswer::No:
                return 1;
            default:
                return 2;
            }
        },
        2);
}

} // extern "C"
