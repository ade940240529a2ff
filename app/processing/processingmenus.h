// Menus of the processing commands in the data windows. Item identifiers are the
// command numbers that runProcessingCommand accepts (plus 91 and 92, the rubber-band
// extraction, which the image window handles itself).
#pragma once

#include "plugins/menudesc.h"

#include <memory>
#include <string>

namespace vexa::processing {

// 2D image windows, under "Traitement 2D".
std::unique_ptr<menus::MenuNode> unaryOperatorsMenu2d(); // "Opérateurs Unaires"
// "Opérateurs Binaires" without its "Blending" entries, which belong to the display.
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

// Label of a processing command in these menus; empty when it has none.
std::string processingCommandLabel(int commandId);

} // namespace vexa::processing
