// The processing menus: labels, order, separators and command identifiers.
#include "processing/commandtable.h"
#include "processing/processing.h"
#include "processing/processingmenus.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>

using namespace vexa::menus;
using namespace vexa::processing;

namespace {

// "label=id" for items, "-" for separators, "[label ...]" for sub-menus.
std::string outline(const MenuNode& menu)
{
    std::string text;
    for (const auto& child : menu.children) {
        if (!text.empty())
            text += ' ';
        switch (child->kind) {
        case MenuNode::Kind::Separator:
            text += "-";
            break;
        case MenuNode::Kind::Item:
            text += child->text + "=" + std::to_string(child->id);
            break;
        case MenuNode::Kind::SubMenu:
            text += "[" + child->text + " " + outline(*child) + "]";
            break;
        }
    }
    return text;
}

void forEachItem(const MenuNode& menu, const std::function<void(const MenuNode&)>& fn)
{
    for (const auto& child : menu.children) {
        if (child->kind == MenuNode::Kind::Item)
            fn(*child);
        else if (child->kind == MenuNode::Kind::SubMenu)
            forEachItem(*child, fn);
    }
}

} // namespace

TEST(ProcessingMenus, ImageOperators)
{
    auto unary = unaryOperatorsMenu2d();
    EXPECT_EQ(unary->text, "Opérateurs Unaires");
    EXPECT_EQ(outline(*unary),
        "Valeur Absolue=1101 Inversion=1102 Opposé=1103 - Carré=1104 'Variance'=1105 "
        "Racine Carrée=1106 - Exponentielle=1107 Logarithme népérien=1108 Puissance=1110 - "
        "Intégration verticale=1109");
    auto binary = binaryOperatorsMenu2d();
    EXPECT_EQ(binary->text, "Opérateurs Binaires");
    EXPECT_EQ(outline(*binary),
        "Addition=1121 Soustraction=1122 Multiplication=1123 Division=1124 - Maximum=1125 "
        "Minimum=1126 Extremum=1127 - Soustraction angulaire (%PI)=1128 - [Blending "
        "Statique=1013 Dynamique=1014 Dynamique vectoriel=1015]");
}

TEST(ProcessingMenus, ImageTransformations)
{
    auto menu = transformationsMenu2d();
    EXPECT_EQ(menu->text, "Transformations");
    EXPECT_EQ(outline(*menu),
        "Retournement Horizontal=1141 Retournement Vertical=1142 - Rotation +90°=1143 "
        "Rotation +180°=1144 Rotation -90°=1145 Rotation libre=1146 - Mise à l'échelle=1147 "
        "Recadrage=1148 [Mosaïque Scission=1152 Fusion=1153] Extraction=91 - Transposition=1150 "
        "Largeur<->Hauteur=1151");
}

TEST(ProcessingMenus, VolumeMenus)
{
    auto unary = unaryOperatorsMenu3d();
    EXPECT_EQ(unary->findItem(1176)->text, "Racine Carrée");
    EXPECT_EQ(unary->findItem(1180)->text, "Puissance");
    EXPECT_EQ(unary->findItem(1179)->text, "Intégration verticale");
    EXPECT_EQ(outline(*binaryOperatorsMenu3d()),
        "Addition=1191 Soustraction=1192 Multiplication=1193 Division=1194 - Maximum=1195 "
        "Minimum=1196 Extremum=1197");
    auto nary = naryOperatorsMenu3d();
    EXPECT_EQ(nary->text, "Opérateurs N-aires");
    EXPECT_EQ(outline(*nary),
        "Addition=1211 Multiplication=1213 Maximum=1215 Minimum=1216 Extremum=1217");
    EXPECT_EQ(outline(*transformationsMenu3d()),
        "Retournement Horizontal=1221 Retournement Vertical=1222 Retournement Latéral=1223 "
        "Rotations=1224 Décimation=1051 Mise à l'échelle=1052 [Mosaïque Scission=1232 "
        "Fusion=1233] Extraction=92 Lissage=1053");
}

TEST(ProcessingMenus, EveryItemIsACommandWithItsLabel)
{
    auto all = MenuNode::subMenu("Traitement");
    appendProcessingMenus2d(*all);
    appendProcessingMenus3d(*all);
    // The seven sub-menus, then the separator, the surface extraction, the volume
    // rendering and the companion files of "Traitement 3D".
    ASSERT_EQ(all->children.size(), 11u);
    EXPECT_EQ(all->children[8]->text, "Extraction de surface de niveau");
    EXPECT_EQ(all->children[9]->text, "Rendu volumique");
    EXPECT_EQ(all->children[10]->text, "Création des fichiers compagnons");
    int items = 0;
    forEachItem(*all, [&](const MenuNode& item) {
        ++items;
        EXPECT_TRUE(isProcessingCommand(item.id)) << item.id;
        EXPECT_FALSE(processingCommandLabel(item.id).empty());
    });
    EXPECT_EQ(items, 10 + 11 + 13 + 10 + 7 + 5 + 10 + 3);
    EXPECT_EQ(processingCommandLabel(1106), "Racine Carrée");
    EXPECT_EQ(processingCommandLabel(1224), "Rotations");
    EXPECT_EQ(processingCommandLabel(4242), "");
}

TEST(ProcessingCommandTable, EachEntryIsInItsMenuOnceAndRunsWhenItHasWork)
{
    auto all = MenuNode::subMenu("Traitement");
    appendProcessingMenus2d(*all);
    appendProcessingMenus3d(*all);
    std::map<int, int> shown;
    std::map<int, std::string> shownLabel;
    forEachItem(*all, [&](const MenuNode& item) {
        ++shown[item.id];
        shownLabel[item.id] = item.text;
    });

    std::set<int> ids;
    std::size_t inMenus = 0;
    for (const ProcessingCommand& entry : processingCommandTable()) {
        EXPECT_TRUE(ids.insert(entry.id).second) << "identifier twice: " << entry.id;
        EXPECT_FALSE(std::string(entry.label).empty()) << entry.id;
        EXPECT_EQ(processingCommandLabel(entry.id), entry.label);
        EXPECT_EQ(isProcessingCommand(entry.id), entry.runner != nullptr) << entry.id;
        if (entry.menu == ProcessingMenu::None) {
            EXPECT_EQ(shown.count(entry.id), 0u) << entry.id;
            continue;
        }
        ++inMenus;
        EXPECT_EQ(shown[entry.id], 1) << entry.id;
        EXPECT_EQ(shownLabel[entry.id], entry.label) << entry.id;
    }
    EXPECT_EQ(shown.size(), inMenus) << "a menu item outside the table";

    // The n-ary operators the menu leaves out are accepted under their operator's label.
    EXPECT_TRUE(isProcessingCommand(1212));
    EXPECT_EQ(processingCommandLabel(1212), "Soustraction");
    EXPECT_EQ(findProcessingEntry(4242), nullptr);
}
