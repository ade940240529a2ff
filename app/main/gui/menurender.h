// Renders core menu trees as Qt menus. Every item triggers the given handler with its
// command identifier; the core decides what the identifier means.
#pragma once

#include "menus/menudesc.h"

#include <QMenu>
#include <QMenuBar>

#include <functional>

namespace vexa::gui {

using CommandHandler = std::function<void(int id)>;

void fillMenu(QMenu* menu, const menus::MenuNode& node, const CommandHandler& handler);
void fillMenuBar(QMenuBar* bar, const menus::MenuNode& root, const CommandHandler& handler);

} // namespace vexa::gui
