// A scripted host for the tests: every request is recorded, answers come from queues
// filled by the test, and posted work runs when the test pumps the fake interface loop
// on its own thread (runUntil / processPending).
#pragma once

#include "host/host.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace vexa {

class FakeHost : public Host {
public:
    struct Request {
        GuiRequest code;
        std::string text; // caption + "|" + text, title, list title, command line
        DataRecord* record = nullptr;
        WindowHandle window = nullptr;
    };

    // Answers, consumed in order; an empty queue answers "cancelled" (Cancel, -1,
    // false, 0).
    void queueMessageAnswer(MessageAnswer answer);
    void queueFileAnswer(bool chosen, const std::string& path = {});
    void queueListAnswer(int index);
    void queueParamAnswer(int result);
    // The next context menu chooses the first item labelled text (nothing when absent).
    void queuePopupAnswer(const std::string& itemText);

    // Called for closeWindow after it is recorded; the test usually deletes the record.
    std::function<void(WindowHandle)> onClose;
    // When false, createWindow fails (returns null).
    bool windowsSucceed = true;

    std::vector<Request> requests() const;
    int count(GuiRequest code) const;
    void clearRequests();
    std::string titleOf(WindowHandle window) const;
    int redrawCount(const DataRecord* record) const;

    // Runs what was posted so far, on the calling thread. Returns how many ran.
    int processPending();
    // Pumps posted work until pred() is true or the timeout passes; returns pred().
    bool runUntil(const std::function<bool()>& pred,
        std::chrono::milliseconds timeout = std::chrono::seconds(10));

    void post(std::function<void()> fn) override;
    WindowHandle createWindow(DataRecord& record, GuiRequest code) override;
    void closeWindow(WindowHandle window) override;
    void setWindowTitle(WindowHandle window, const std::string& title) override;
    void redraw(DataRecord& record) override;
    void refreshMenus(int kind) override;
    void refreshLog() override;
    MessageAnswer messageBox(
        const std::string& caption, const std::string& text, MessageButtons buttons) override;
    int paramDialog(ParamBox* box) override;
    bool chooseFile(const FileChoice& choice, std::string& path) override;
    int chooseFromList(const std::string& title, const std::vector<std::string>& entries) override;
    void animateBegin(DataRecord* record) override;
    void animateEnd(DataRecord* record) override;
    void commandLine(const std::string& line) override;
    // Recorded as OpenWindow with the text "popup x,y".
    int popupMenu(WindowHandle window, int x, int y, const menus::MenuNode& menu) override;

private:
    void record(Request request);

    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> queue_;
    std::vector<Request> requests_;
    std::deque<MessageAnswer> messageAnswers_;
    std::deque<std::pair<bool, std::string>> fileAnswers_;
    std::deque<int> listAnswers_;
    std::deque<int> paramAnswers_;
    std::deque<std::string> popupAnswers_;
    std::map<WindowHandle, std::string> titles_;
    std::map<const DataRecord*, int> redraws_;
    std::uintptr_t nextWindow_ = 0x1000;
};

} // namespace vexa
