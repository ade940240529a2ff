// A note left behind when the program dies of a fault (outside safe mode a plug-in's
// fault ends the program): the next start reads it and tells the user in the log what
// ended the previous run.
#pragma once

#include <string>

namespace vexa::log {

// Installs the fault handlers that write the note to path (created on a fault only),
// in front of whatever handled the faults before, which still runs afterwards. A
// second call only changes the path. The path is copied; at most 1023 bytes.
void installCrashNote(const std::string& path);
// Removes the handlers (tests; the program keeps them to its end).
void removeCrashNote();

// What the calling thread is doing, written into the note if it faults: the command
// and the library it runs. Null or empty clears it. Cut to 255 bytes; call outside
// signal handlers only.
void setCrashContext(const char* text);

// The note a previous run left at path, removed once read; empty when there is none.
std::string takeCrashNote(const std::string& path);

} // namespace vexa::log
