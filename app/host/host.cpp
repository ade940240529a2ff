#include "host/host.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace vexa {

namespace {

std::atomic<Host*> gHost { nullptr };
std::atomic<std::thread::id> gInterfaceThread { std::thread::id {} };

// State shared between a waiting worker and the interface thread that serves it.
// Held by shared_ptr: a host that drops a posted function must not leave the
// worker reading a dead stack frame.
struct PendingCall {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::exception_ptr error;
};

} // namespace

bool isSynchronousRequest(GuiRequest code)
{
    return code != GuiRequest::LogLine;
}

void installHost(Host* h)
{
    gHost.store(h);
    gInterfaceThread.store(h ? std::this_thread::get_id() : std::thread::id {});
}

Host* host()
{
    return gHost.load();
}

void setInterfaceThread()
{
    gInterfaceThread.store(std::this_thread::get_id());
}

bool isInterfaceThread()
{
    std::thread::id id = gInterfaceThread.load();
    return id == std::thread::id {} || id == std::this_thread::get_id();
}

void runOnInterfaceThread(GuiRequest code, const std::function<void()>& fn)
{
    (void)code;
    Host* h = host();
    if (!h || isInterfaceThread()) {
        fn();
        return;
    }
    auto call = std::make_shared<PendingCall>();
    h->post([call, &fn] {
        try {
            fn();
        } catch (...) {
            call->error = std::current_exception();
        }
        std::lock_guard lock(call->mutex);
        call->finished = true;
        call->done.notify_all();
    });
    std::unique_lock lock(call->mutex);
    call->done.wait(lock, [&] { return call->finished; });
    if (call->error)
        std::rethrow_exception(call->error);
}

void postToInterfaceThread(GuiRequest code, std::function<void()> fn)
{
    (void)code;
    Host* h = host();
    if (!h || isInterfaceThread()) {
        fn();
        return;
    }
    h->post(std::move(fn));
}

MessageAnswer hostMessageBox(
    const std::string& caption, const std::string& text, MessageButtons buttons)
{
    MessageAnswer answer = MessageAnswer::Cancel;
    GuiRequest code = buttons == MessageButtons::Ok ? GuiRequest::MessageBox
                                                    : GuiRequest::MessageBoxYesNoCancel;
    runOnInterfaceThread(code, [&] {
        if (Host* h = host())
            answer = h->messageBox(caption, text, buttons);
    });
    return answer;
}

int hostParamDialog(ParamBox* box)
{
    int result = 0;
    runOnInterfaceThread(GuiRequest::ParamDialog, [&] {
        if (Host* h = host())
            result = h->paramDialog(box);
    });
    return result;
}

bool hostChooseFile(const FileChoice& choice, std::string& path)
{
    bool chosen = false;
    runOnInterfaceThread(GuiRequest::ChooseFile, [&] {
        if (Host* h = host())
            chosen = h->chooseFile(choice, path);
    });
    return chosen;
}

int hostChooseFromList(const std::string& title, const std::vector<std::string>& entries)
{
    int index = -1;
    runOnInterfaceThread(GuiRequest::ChooseFromList, [&] {
        if (Host* h = host())
            index = h->chooseFromList(title, entries);
    });
    return index;
}

void hostPostLogRefresh()
{
    postToInterfaceThread(GuiRequest::LogLine, [] {
        if (Host* h = host())
            h->refreshLog();
    });
}

void hostAnimateBegin(DataRecord* record)
{
    runOnInterfaceThread(GuiRequest::AnimateBegin, [record] {
        if (Host* h = host())
            h->animateBegin(record);
    });
}

void hostAnimateEnd(DataRecord* record)
{
    runOnInterfaceThread(GuiRequest::AnimateEnd, [record] {
        if (Host* h = host())
            h->animateEnd(record);
    });
}

void hostCommandLine(const std::string& line)
{
    runOnInterfaceThread(GuiRequest::CommandLine, [&line] {
        if (Host* h = host())
            h->commandLine(line);
    });
}

} // namespace vexa
