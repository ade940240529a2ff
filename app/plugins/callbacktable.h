// The callback lookup handed to plug-ins: every workstation function a plug-in may
// call, found by its name. The table carries the older "vexa" names and the newer
// "doz" names (some in French) side by side; aliases share one function.
#pragma once

#include "plugins/libraryapi.h"

#include "vexa_export.h"

#include <cstddef>
#include <span>

// The function named name (compared byte for byte, case-sensitive); never null. An
// unknown or null name shows the box "Fonction Inconnue !" and gives a function that
// does nothing, so that a plug-in made for a newer table still loads. The withdrawn
// names "dozExec" and "dozLibraryAddFunction" show the box "Fonction Classée Top
// Secret et Déclassée" and give that function too. Any thread: from a worker the box
// is shown by the interface thread while the caller waits; without a host there is
// no box.
extern "C" VEXA_API VexaCallback vexaCallbackLookup(const char* name);

namespace vexa::plugins {

struct CallbackEntry {
    const char* name;
    VexaCallback fn;
};

// Longest name of the table, without its NUL.
constexpr std::size_t kMaxCallbackNameChars = 199;

// The table in lookup order.
std::span<const CallbackEntry> callbackTable();
// The function that does nothing: bound to the withdrawn names and to
// vexaView3dGetDisplay / vexaView3dSetDisplay, and what unknown names give.
VexaCallback noOpCallback();

} // namespace vexa::plugins
