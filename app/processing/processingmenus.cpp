#include "processing/processingmenus.h"

#include "processing/commandtable.h"

namespace vexa::processing {

namespace {

using menus::MenuNode;

// Titles the image and the volume windows share.
const char* const kUnaryTitle = "Opérateurs Unaires";
const char* const kBinaryTitle = "Opérateurs Binaires";
const char* const kTransformationsTitle = "Transformations";

// Appends the entries of one menu in table order, with their separators and
// sub-menus.
void appendEntries(ProcessingMenu which, MenuNode& menu)
{
    std::unique_ptr<MenuNode> sub;
    auto closeSub = [&] {
        if (sub)
            menu.addSubMenu(std::move(sub));
    };
    for (const ProcessingCommand& entry : processingCommandTable()) {
        if (entry.menu != which)
            continue;
        if (sub && (!entry.subMenu || sub->text != entry.subMenu))
            closeSub();
        if (entry.separatorBefore)
            (sub ? *sub : menu).addSeparator();
        if (entry.subMenu && !sub)
            sub = MenuNode::subMenu(entry.subMenu);
        (sub ? *sub : menu).addItem(entry.label, entry.id);
    }
    closeSub();
}

std::unique_ptr<MenuNode> buildMenu(ProcessingMenu which, const std::string& title)
{
    auto menu = MenuNode::subMenu(title);
    appendEntries(which, *menu);
    return menu;
}

} // namespace

std::unique_ptr<MenuNode> unaryOperatorsMenu2d()
{
    return buildMenu(ProcessingMenu::Unary2d, kUnaryTitle);
}

std::unique_ptr<MenuNode> binaryOperatorsMenu2d()
{
    return buildMenu(ProcessingMenu::Binary2d, kBinaryTitle);
}

std::unique_ptr<MenuNode> transformationsMenu2d()
{
    return buildMenu(ProcessingMenu::Transformations2d, kTransformationsTitle);
}

std::unique_ptr<MenuNode> unaryOperatorsMenu3d()
{
    return buildMenu(ProcessingMenu::Unary3d, kUnaryTitle);
}

std::unique_ptr<MenuNode> binaryOperatorsMenu3d()
{
    return buildMenu(ProcessingMenu::Binary3d, kBinaryTitle);
}

std::unique_ptr<MenuNode> naryOperatorsMenu3d()
{
    return buildMenu(ProcessingMenu::Nary3d, "Opérateurs N-aires");
}

std::unique_ptr<MenuNode> transformationsMenu3d()
{
    return buildMenu(ProcessingMenu::Transformations3d, kTransformationsTitle);
}

void appendProcessingMenus2d(MenuNode& menu)
{
    menu.addSubMenu(unaryOperatorsMenu2d());
    menu.addSubMenu(binaryOperatorsMenu2d());
    menu.addSubMenu(transformationsMenu2d());
}

void appendProcessingMenus3d(MenuNode& menu)
{
    menu.addSubMenu(unaryOperatorsMenu3d());
    menu.addSubMenu(binaryOperatorsMenu3d());
    menu.addSubMenu(naryOperatorsMenu3d());
    menu.addSubMenu(transformationsMenu3d());
    appendEntries(ProcessingMenu::Volume3d, menu);
}

std::string processingCommandLabel(int commandId)
{
    const ProcessingCommand* entry = findProcessingEntry(commandId);
    return entry ? entry->label : std::string();
}

} // namespace vexa::processing
