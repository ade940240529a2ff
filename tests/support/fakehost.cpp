#include "support/fakehost.h"

#include "menus/menudesc.h"

namespace vexa {

void FakeHost::queueMessageAnswer(MessageAnswer answer)
{
    std::lock_guard lock(mutex_);
    messageAnswers_.push_back(answer);
}

void FakeHost::queueFileAnswer(bool chosen, const std::string& path)
{
    std::lock_guard lock(mutex_);
    fileAnswers_.emplace_back(chosen, path);
}

void FakeHost::queuePopupAnswer(const std::string& itemText)
{
    std::lock_guard lock(mutex_);
    popupAnswers_.push_back(itemText);
}

namespace {

int findItemId(const menus::MenuNode& node, const std::string& text)
{
    for (const auto& child : node.children) {
        if (child->kind == menus::MenuNode::Kind::Item && child->text == text)
            return child->id;
        if (int id = findItemId(*child, text))
            return id;
    }
    return 0;
}

} // namespace

int FakeHost::popupMenu(WindowHandle window, int x, int y, const menus::MenuNode& menu)
{
    record({ GuiRequest::OpenWindow, "popup " + std::to_string(x) + "," + std::to_string(y),
        nullptr, window });
    std::string wanted;
    {
        std::lock_guard lock(mutex_);
        if (popupAnswers_.empty())
            return 0;
        wanted = popupAnswers_.front();
        popupAnswers_.pop_front();
    }
    return findItemId(menu, wanted);
}

void FakeHost::queueListAnswer(int index)
{
    std::lock_guard lock(mutex_);
    listAnswers_.push_back(index);
}

void FakeHost::queueParamAnswer(int result)
{
    std::lock_guard lock(mutex_);
    paramAnswers_.push_back(result);
}

std::vector<FakeHost::Request> FakeHost::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

int FakeHost::count(GuiRequest code) const
{
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const Request& r : requests_)
        n += r.code == code;
    return n;
}

void FakeHost::clearRequests()
{
    std::lock_guard lock(mutex_);
    requests_.clear();
}

std::string FakeHost::titleOf(WindowHandle window) const
{
    std::lock_guard lock(mutex_);
    auto it = titles_.find(window);
    return it == titles_.end() ? std::string() : it->second;
}

int FakeHost::redrawCount(const DataRecord* rec) const
{
    std::lock_guard lock(mutex_);
    auto it = redraws_.find(rec);
    return it == redraws_.end() ? 0 : it->second;
}

int FakeHost::processPending()
{
    int ran = 0;
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty())
                return ran;
            fn = std::move(queue_.front());
            queue_.pop_front();
        }
        fn();
        ++ran;
    }
}

bool FakeHost::runUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        processPending();
        if (pred())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        // The predicate may turn true without anything being posted: wake up often.
        std::unique_lock lock(mutex_);
        posted_.wait_for(lock, std::chrono::milliseconds(2), [&] { return !queue_.empty(); });
    }
}

void FakeHost::post(std::function<void()> fn)
{
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(fn));
    posted_.notify_all();
}

void FakeHost::record(Request request)
{
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
}

WindowHandle FakeHost::createWindow(DataRecord& rec, GuiRequest code)
{
    WindowHandle window = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (windowsSucceed)
            window = reinterpret_cast<WindowHandle>(nextWindow_ += 0x10);
    }
    record({ code, {}, &rec, window });
    return window;
}

void FakeHost::closeWindow(WindowHandle window)
{
    record({ GuiRequest::OpenWindow, "close", nullptr, window });
    if (onClose)
        onClose(window);
}

void FakeHost::setWindowTitle(WindowHandle window, const std::string& title)
{
    std::lock_guard lock(mutex_);
    titles_[window] = title;
}

void FakeHost::redraw(DataRecord& rec)
{
    std::lock_guard lock(mutex_);
    ++redraws_[&rec];
}

void FakeHost::refreshMenus(int kind)
{
    (void)kind;
}

void FakeHost::refreshLog()
{
    record({ GuiRequest::LogLine, {}, nullptr, nullptr });
}

MessageAnswer FakeHost::messageBox(
    const std::string& caption, const std::string& text, MessageButtons buttons)
{
    record({ buttons == MessageButtons::Ok ? GuiRequest::MessageBox
                                           : GuiRequest::MessageBoxYesNoCancel,
        caption + "|" + text, nullptr, nullptr });
    std::lock_guard lock(mutex_);
    if (messageAnswers_.empty())
        return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
    MessageAnswer a = messageAnswers_.front();
    messageAnswers_.pop_front();
    return a;
}

int FakeHost::paramDialog(ParamBox* box)
{
    (void)box;
    record({ GuiRequest::ParamDialog, {}, nullptr, nullptr });
    std::lock_guard lock(mutex_);
    if (paramAnswers_.empty())
        return 0;
    int a = paramAnswers_.front();
    paramAnswers_.pop_front();
    return a;
}

bool FakeHost::chooseFile(const FileChoice& choice, std::string& path)
{
    record({ GuiRequest::ChooseFile, choice.title, nullptr, nullptr });
    std::lock_guard lock(mutex_);
    if (fileAnswers_.empty())
        return false;
    auto a = fileAnswers_.front();
    fileAnswers_.pop_front();
    if (a.first)
        path = a.second;
    return a.first;
}

int FakeHost::chooseFromList(const std::string& title, const std::vector<std::string>& entries)
{
    (void)entries;
    record({ GuiRequest::ChooseFromList, title, nullptr, nullptr });
    std::lock_guard lock(mutex_);
    if (listAnswers_.empty())
        return -1;
    int a = listAnswers_.front();
    listAnswers_.pop_front();
    return a;
}

void FakeHost::animateBegin(DataRecord* rec)
{
    record({ GuiRequest::AnimateBegin, {}, rec, nullptr });
}

void FakeHost::animateEnd(DataRecord* rec)
{
    record({ GuiRequest::AnimateEnd, {}, rec, nullptr });
}

void FakeHost::commandLine(const std::string& line)
{
    record({ GuiRequest::CommandLine, line, nullptr, nullptr });
}

} // namespace vexa
