#include "processing/processingmenus.h"

#include <utility>
#include <vector>

namespace vexa::processing {

namespace {

using menus::MenuDescBuilder;
using menus::MenuNode;

struct Entry {
    const char* text; // null: separator
    int command;
};

// The unary operators in menu order, with their codes (command = base + code).
const std::vector<Entry>& unaryEntries()
{
    static const std::vector<Entry> entries = {
        { "Valeur Absolue", 1 },
        { "Inversion", 2 },
        { "Opposé", 3 },
        { nullptr, 0 },
        { "Carré", 4 },
        { "'Variance'", 5 },
        { "Racine Carrée", 6 },
        { nullptr, 0 },
        { "Exponentielle", 7 },
        { "Logarithme népérien", 8 },
        { "Puissance", 10 },
        { nullptr, 0 },
        { "Intégration verticale", 9 },
    };
    return entries;
}

const std::vector<Entry>& binaryEntries()
{
    static const std::vector<Entry> entries = {
        { "Addition", 1 },
        { "Soustraction", 2 },
        { "Multiplication", 3 },
        { "Division", 4 },
        { nullptr, 0 },
        { "Maximum", 5 },
        { "Minimum", 6 },
        { "Extremum", 7 },
    };
    return entries;
}

std::unique_ptr<MenuNode> build(
    const std::string& title, int base, const std::vector<Entry>& entries)
{
    MenuDescBuilder builder(base);
    for (const Entry& e : entries) {
        if (e.text)
            builder.add(e.text, e.command);
        else
            builder.separator();
    }
    return menus::buildFromDesc(builder.finish(), title);
}

} // namespace

std::unique_ptr<MenuNode> unaryOperatorsMenu2d()
{
    return build("Opérateurs Unaires", 1100, unaryEntries());
}

std::unique_ptr<MenuNode> binaryOperatorsMenu2d()
{
    std::vector<Entry> entries = binaryEntries();
    entries.push_back({ nullptr, 0 });
    entries.push_back({ "Soustraction angulaire (%PI)", 8 });
    return build("Opérateurs Binaires", 1120, entries);
}

std::unique_ptr<MenuNode> transformationsMenu2d()
{
    MenuDescBuilder builder(0);
    builder.add("Retournement Horizontal", 1141)
        .add("Retournement Vertical", 1142)
        .separator()
        .add("Rotation +90°", 1143)
        .add("Rotation +180°", 1144)
        .add("Rotation -90°", 1145)
        .add("Rotation libre", 1146)
        .separator()
        .add("Mise à l'échelle", 1147)
        .add("Recadrage", 1148)
        .open("Mosaïque")
        .add("Scission", 1152)
        .add("Fusion", 1153)
        .close()
        .add("Extraction", 91)
        .separator()
        .add("Transposition", 1150)
        .add("Largeur<->Hauteur", 1151);
    return menus::buildFromDesc(builder.finish(), "Transformations");
}

std::unique_ptr<MenuNode> unaryOperatorsMenu3d()
{
    return build("Opérateurs Unaires", 1170, unaryEntries());
}

std::unique_ptr<MenuNode> binaryOperatorsMenu3d()
{
    return build("Opérateurs Binaires", 1190, binaryEntries());
}

std::unique_ptr<MenuNode> naryOperatorsMenu3d()
{
    return build("Opérateurs N-aires", 1210,
        { { "Addition", 1 }, { "Multiplication", 3 }, { "Maximum", 5 }, { "Minimum", 6 },
            { "Extremum", 7 } });
}

std::unique_ptr<MenuNode> transformationsMenu3d()
{
    // Only the commands this program carries out; the rescaling, the smoothing and the
    // volume tile split and merge have no worked-out behaviour yet.
    MenuDescBuilder builder(0);
    builder.add("Retournement Horizontal", 1221)
        .add("Retournement Vertical", 1222)
        .add("Retournement Latéral", 1223)
        .add("Rotations", 1224)
        .add("Décimation", 1051)
        .add("Extraction", 92);
    return menus::buildFromDesc(builder.finish(), "Transformations");
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
}

std::string processingCommandLabel(int commandId)
{
    auto all = MenuNode::subMenu({});
    appendProcessingMenus2d(*all);
    appendProcessingMenus3d(*all);
    if (const MenuNode* item = all->findItem(commandId))
        return item->text;
    return {};
}

} // namespace vexa::processing
