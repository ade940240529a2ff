// Callbacks of the plug-in interface that this version does not offer yet: meshes, 3D
// views and objects, video streams and files, dialog windows, and a few 2D queries.
// Their names stay in the callback table so that a plug-in asking for them still
// loads; each group of aliases gets its own stand-in, which says once in the message
// log that the function is missing and returns 0.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace vexa::plugins {

// A callback name usable as a template argument.
template <std::size_t N> struct CallbackName {
    consteval CallbackName(const char (&s)[N]) { std::copy_n(s, N, text); }
    char text[N];
};

// Posts "Fonction <name> non disponible dans cette version" to the message log the
// first time a name is reported in the run; later reports of that name do nothing.
// Returns true when the line was posted. Any thread; never throws.
bool reportNotAvailable(const char* name) noexcept;

// The stand-in of a missing callback. A plug-in calls it with the arguments of the
// real operation; it ignores them (the caller removes them) and returns 0 in a whole
// register, so that a caller expecting an int reads 0 and one expecting a pointer
// reads null.
template <CallbackName Name> std::intptr_t notAvailable() noexcept
{
    reportNotAvailable(Name.text);
    return 0;
}

} // namespace vexa::plugins
