#include "menus/actionhistory.h"

#include <algorithm>
#include <mutex>

namespace vexa::menus {

namespace {

std::mutex& historyMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::vector<RecordedAction>& history()
{
    static std::vector<RecordedAction> list;
    return list;
}

} // namespace

void recordAction(int id, const std::string& label)
{
    std::lock_guard lock(historyMutex());
    auto& list = history();
    std::erase_if(list, [id](const RecordedAction& a) { return a.id == id; });
    list.insert(list.begin(), { id, label });
    if (list.size() > kActionHistorySize)
        list.resize(kActionHistorySize);
}

std::vector<RecordedAction> recordedActions()
{
    std::lock_guard lock(historyMutex());
    return history();
}

void forgetAction(int id)
{
    std::lock_guard lock(historyMutex());
    std::erase_if(history(), [id](const RecordedAction& a) { return a.id == id; });
}

void clearActions()
{
    std::lock_guard lock(historyMutex());
    history().clear();
}

} // namespace vexa::menus
