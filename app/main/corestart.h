// Start and stop of the workstation's core, without any window: the configuration
// path and "-config", the palette list and the palette tables of the samples, the host
// and the interface thread's task context, the delivery of lines posted to the log and
// of frame timer ticks, and the configured plug-in libraries. The window layer (or a
// test) supplies what needs an interface through CoreStart and CoreStop.
#pragma once

#include "host/host.h"

#include <chrono>
#include <functional>
#include <string>

namespace vexa {

struct CoreStart {
    // Directory of the program: "vexa.xml", the colormaps, "Charger Répertoire".
    std::string programDir;
    // The text after the program name.
    std::string commandLine;
    // Called once the configuration and palettes are ready: builds the interface (the
    // main window) and returns its host, which must live until coreStop. Null, or a
    // null answer, starts without a host.
    std::function<Host*()> createInterface;
    // Libraries changed the menus they insert: the window layer rebuilds its menu bars.
    std::function<void()> menusChanged;
};

// Runs the core's start-up on the calling thread, which becomes the interface thread.
// Returns the command line as "-config" leaves it, to be handed over as request 1.
// A second call before coreStop changes nothing and returns commandLine unchanged.
std::string coreStart(const CoreStart& start);

struct CoreStop {
    // Runs the requests workers send to the interface thread while they finish.
    std::function<void()> pump;
    std::chrono::milliseconds timeout { std::chrono::seconds(30) };
    // Closes the windows: after the libraries are unloaded, before the data go.
    std::function<void()> closeWindows;
};

// Undoes coreStart in reverse: waits for the workers, unloads the libraries, closes
// the windows, uninstalls the host, ends the task contexts, releases every datum,
// removes the log and timer delivery and the palette tables, releases the palettes.
// Returns false when workers were still running at the timeout: their contexts and
// the data they may hold are then left alone, the rest is undone. Does nothing (true)
// when the core is not started.
bool coreStop(const CoreStop& stop);

// True between coreStart and coreStop.
bool coreStarted();

} // namespace vexa
