// The previous actions: the commands the user last chose in the menus, built-in or
// added by a library, newest first and each once, for "Précédentes Actions" and
// "Dernière Action". Commands that only show or toggle something are left out by the
// caller. Used on the interface thread.
#pragma once

#include <string>
#include <vector>

namespace vexa::menus {

struct RecordedAction {
    int id = 0;
    std::string label; // as the menu showed it when chosen
};

// At most this many are kept.
constexpr std::size_t kActionHistorySize = 10;

// Puts the command first (moving it there when it was already listed).
void recordAction(int id, const std::string& label);
// Newest first.
std::vector<RecordedAction> recordedActions();
// Forgets a command that no longer exists (a library released).
void forgetAction(int id);
void clearActions();

} // namespace vexa::menus
