// Menus of the processing commands in the data windows, built from the command table
// (commandtable.h). Item identifiers are the command numbers that runProcessingCommand
// accepts.
#pragma once

#include "menus/menudesc.h"

#include <memory>
#include <string>

namespace vexa::processing {

// 2D image windows, under "Traitement 2D".
std::unique_ptr<menus::MenuNode> unaryOperatorsMenu2d(); // "Opérateurs Unaires"
// "Opérateurs Binaires", ending with its "Blending" sub-menu.
std::unique_ptr<menus::MenuNode> binaryOperatorsMenu2d();
std::unique_ptr<menus::MenuNode> transformationsMenu2d(); // "Transformations"

// 3D image windows, under "Traitement 3D".
std::unique_ptr<menus::MenuNode> unaryOperatorsMenu3d(); // "Opérateurs Unaires"
std::unique_ptr<menus::MenuNode> binaryOperatorsMenu3d(); // "Opérateurs Binaires"
std::unique_ptr<menus::MenuNode> naryOperatorsMenu3d(); // "Opérateurs N-aires"
std::unique_ptr<menus::MenuNode> transformationsMenu3d(); // "Transformations"

// Appends the menus above, in that order, to a "Traitement 2D" / "Traitement 3D" menu.
void appendProcessingMenus2d(menus::MenuNode& menu);
void appendProcessingMenus3d(menus::MenuNode& menu);

// Label of a command of the table, runnable or not; empty for another identifier.
std::string processingCommandLabel(int commandId);

} // namespace vexa::processing
