// The core's only way to the interface. The core never includes Qt: the program
// installs a Qt host, tests a scripted fake (tests/support), the headless runner a host
// that answers dialogs from given values.
//
// Threads. One thread is the interface thread: the one that installed the host (and
// runs its loop). Windows, records and dialogs are made there only. A worker that
// needs window work sends a request: synchronous requests block the worker until the
// interface thread has run them, asynchronous ones (a log line) are posted.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ParamBox; // the parameter library's box (app/params); forwarded untouched

namespace vexa::menus {
struct MenuNode;
}

namespace vexa {

struct DataRecord;

// A window owned by the host; the core only stores and compares it.
using WindowHandle = void*;

// Request codes of the interface thread (historically private window messages
// numbered 31768 + code). The numbers never change.
enum class GuiRequest : int {
    CommandLine = 1,
    OpenWindow = 12, // generic opener (capture and other windows)
    OpenImage = 13,
    OpenGraph = 14,
    OpenAudio = 15,
    OpenView3d = 16,
    OpenAvi = 17,
    OpenMview = 18,
    MessageBox = 20,
    MessageBoxYesNoCancel = 21,
    ChooseFile = 22,
    ChooseFromList = 23,
    ParamDialog = 24,
    AnimateBegin = 25,
    AnimateEnd = 26,
    PluginDialog = 27, // a plug-in's dialog shown, refreshed or ended
    LogLine = 35,
};

constexpr int kGuiRequestBase = 31768;

// True for the codes that block the sender until the interface thread is done.
bool isSynchronousRequest(GuiRequest code);

enum class MessageButtons { Ok, YesNoCancel };

// Answers of messageBox: Ok for an OK box; Yes/No/Cancel for the other.
enum class MessageAnswer : int { Ok = 1, Yes = 6, No = 7, Cancel = 2 };

struct FileChoice {
    bool save = false; // save dialog (ask before overwriting) rather than open
    std::string title; // caption
    std::string filter; // e.g. "Images (*.gdr *.inr)"
    std::string initialPath; // directory or file to start from
};

class Host {
public:
    virtual ~Host() = default;

    // Runs fn on the interface thread later (from the host's loop). Must be callable
    // from any thread. This is the carrier of every request from a worker.
    virtual void post(std::function<void()> fn) = 0;

    // Builds the window of a record (code OpenImage ... OpenMview, or OpenWindow) and
    // returns its handle; null when no window could be made.
    virtual WindowHandle createWindow(DataRecord& record, GuiRequest code) = 0;
    // Closes a window. The host calls dataDelete for its record once the window is gone.
    virtual void closeWindow(WindowHandle window) = 0;
    // Top-level ancestor of a window (a view inside a frame climbs to the frame).
    virtual WindowHandle topLevelOf(WindowHandle window) { return window; }
    virtual void setWindowTitle(WindowHandle window, const std::string& title) = 0;
    // Repaints what shows the record: image views rebuild their display buffer,
    // graph windows and 3D scenes redraw.
    virtual void redraw(DataRecord& record) = 0;
    // Menus follow the kind of the active record (kind -1: no record active).
    virtual void refreshMenus(int kind) = 0;
    // An image record became the active image: the image tool windows follow it.
    virtual void imageActivated(DataRecord& record) { (void)record; }
    // The log window shows new lines.
    virtual void refreshLog() = 0;

    virtual MessageAnswer messageBox(
        const std::string& caption, const std::string& text, MessageButtons buttons)
        = 0;
    // Runs the parameter dialog of a box; returns what the dialog returns (1 accepted,
    // 0 cancelled).
    virtual int paramDialog(ParamBox* box) = 0;
    // The chosen path, or false when cancelled.
    virtual bool chooseFile(const FileChoice& choice, std::string& path) = 0;
    // Index of the chosen entry, -1 when cancelled.
    virtual int chooseFromList(const std::string& title, const std::vector<std::string>& entries)
        = 0;
    virtual void animateBegin(DataRecord* record) { (void)record; }
    virtual void animateEnd(DataRecord* record) { (void)record; }
    // Runs a command line (request 1).
    virtual void commandLine(const std::string& line) { (void)line; }
    // Shows menu as a context menu over window at screen point (x, y) and returns the
    // chosen command identifier, 0 when nothing was chosen.
    virtual int popupMenu(WindowHandle window, int x, int y, const menus::MenuNode& menu)
    {
        (void)window, (void)x, (void)y, (void)menu;
        return 0;
    }
    // Renders the scene of a View 3D record offscreen into width x height RGBA pixels,
    // first row at the top. Called on the interface thread; false when it cannot render
    // (no OpenGL, no such view).
    virtual bool snapshotView3d(
        DataRecord& record, int width, int height, std::vector<std::uint8_t>& rgba)
    {
        (void)record, (void)width, (void)height, (void)rgba;
        return false;
    }

    // Plug-in dialogs. Their items live in the core (app/plugins/dialogapi.h), which
    // names each dialog by a window identifier; the host shows them. showDialog makes
    // the dialog's window (a modal one returns once the dialog ended); false when no
    // dialog can be shown.
    virtual bool showDialog(std::uint32_t dialog, bool modal)
    {
        (void)dialog, (void)modal;
        return false;
    }
    // Items of a shown dialog changed (values, states, enabled): the widgets follow.
    virtual void dialogChanged(std::uint32_t dialog) { (void)dialog; }
    // The dialog ended: its window goes, and a modal showDialog returns.
    virtual void closeDialog(std::uint32_t dialog) { (void)dialog; }
    // Maps a screen point to pixels of the image area of the record's window; false
    // when the record shows no image window.
    virtual bool screenToImageArea(DataRecord& record, int& x, int& y)
    {
        (void)record, (void)x, (void)y;
        return false;
    }
};

// Installs the host (null uninstalls). The calling thread becomes the interface thread.
void installHost(Host* host);
// The installed host, or null (headless library use: window work is skipped).
Host* host();

// Makes the calling thread the interface thread without changing the host (the Qt
// program calls it from the thread that runs the event loop, tests from theirs).
void setInterfaceThread();
// True on the interface thread, and on any thread while no interface thread is set.
bool isInterfaceThread();

// Runs fn on the interface thread and waits for it: at once on that thread (or when
// no host is installed), else through Host::post. An exception thrown by fn is
// rethrown in the caller.
void runOnInterfaceThread(GuiRequest code, const std::function<void()>& fn);
// Runs fn on the interface thread without waiting: at once on that thread, else posted.
void postToInterfaceThread(GuiRequest code, std::function<void()> fn);

// Convenience requests used across the core. Without a host they do nothing and
// give the "cancelled" answer.
MessageAnswer hostMessageBox(const std::string& caption, const std::string& text,
    MessageButtons buttons = MessageButtons::Ok);
int hostParamDialog(ParamBox* box);
bool hostChooseFile(const FileChoice& choice, std::string& path);
int hostChooseFromList(const std::string& title, const std::vector<std::string>& entries);
// Posts a log refresh (request 35); lines themselves live in the log model.
void hostPostLogRefresh();
void hostAnimateBegin(DataRecord* record);
void hostAnimateEnd(DataRecord* record);
void hostCommandLine(const std::string& line);

} // namespace vexa
