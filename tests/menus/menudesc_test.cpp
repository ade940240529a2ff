#include "main/mainmenus.h"
#include "menus/actionhistory.h"
#include "menus/menudesc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

using namespace vexa::menus;

namespace {

std::vector<std::string> labels(const MenuNode& node)
{
    std::vector<std::string> out;
    for (const auto& child : node.children)
        out.push_back(child->kind == MenuNode::Kind::Separator ? "-" : child->text);
    return out;
}

} // namespace

TEST(MenuDesc, ItemsTakeBasePlusCodeAndSubMenusNest)
{
    MenuDescBuilder desc(1250);
    desc.add("Un", 3)
        .open("Sous")
        .add("Deux", 4)
        .separator()
        .add("Trois", 5)
        .close()
        .add("Quatre", 7);
    auto root = buildFromDesc(desc.finish());
    ASSERT_EQ(labels(*root), (std::vector<std::string> { "Un", "Sous", "Quatre" }));
    EXPECT_EQ(root->children[0]->id, 1253);
    EXPECT_EQ(root->children[2]->id, 1257);
    const MenuNode& sub = *root->children[1];
    EXPECT_EQ(sub.kind, MenuNode::Kind::SubMenu);
    EXPECT_EQ(labels(sub), (std::vector<std::string> { "Deux", "-", "Trois" }));
    EXPECT_EQ(root->findItem(1255)->text, "Trois");
}

TEST(MenuDesc, ClosingCodeMinusSevenAndStrayClosings)
{
    MenuDescBuilder desc(0);
    desc.add("", kClose).open("A").add("x", 1).add({}, kCloseAlt).add("", kClose).add("y", 2);
    auto root = buildFromDesc(desc.finish());
    EXPECT_EQ(labels(*root), (std::vector<std::string> { "A", "y" }));
}

TEST(MenuDesc, OpeningsBeyondTenLevelsGoToTheCurrentMenu)
{
    MenuDescBuilder desc(0);
    for (int level = 0; level < 12; ++level)
        desc.open("L" + std::to_string(level));
    desc.add("deep", 9);
    for (int level = 0; level < 12; ++level)
        desc.close();
    auto root = buildFromDesc(desc.finish());
    const MenuNode* node = root.get();
    int depth = 0;
    while (!node->children.empty() && node->children[0]->kind == MenuNode::Kind::SubMenu) {
        node = node->children[0].get();
        ++depth;
    }
    EXPECT_EQ(depth, kMaxDepth);
    ASSERT_EQ(node->children.size(), 1u);
    EXPECT_EQ(node->children[0]->text, "deep");
}

TEST(MenuDesc, UnclosedSubMenusAreKept)
{
    MenuDescBuilder desc(0);
    desc.open("A").open("B").add("x", 1);
    auto root = buildFromDesc(desc.finish());
    ASSERT_EQ(labels(*root), (std::vector<std::string> { "A" }));
    EXPECT_NE(root->findItem(1), nullptr);
}

TEST(MenuDesc, LabelWithoutTerminatorIsCutAt200Bytes)
{
    std::vector<unsigned char> raw(4 + 2 * sizeof(MenuDescEntry), 0);
    MenuDescEntry entry {};
    std::memset(entry.text, 'a', sizeof entry.text);
    entry.code = 1;
    std::memcpy(raw.data() + 4, &entry, sizeof entry);
    MenuDescEntry end {};
    end.code = kEnd;
    std::memcpy(raw.data() + 4 + sizeof entry, &end, sizeof end);
    auto root = buildFromDesc(reinterpret_cast<const MenuDesc*>(raw.data()));
    ASSERT_EQ(root->children.size(), 1u);
    EXPECT_EQ(root->children[0]->text, std::string(200, 'a'));
}

TEST(MenuDesc, ItemsWhoseIdentifierLeavesTheIntRangeAreLeftOut)
{
    MenuDescBuilder high(std::numeric_limits<int>::max() - 1);
    high.add("a", 1).add("b", 2).add("c", -3);
    auto root = buildFromDesc(high.finish());
    EXPECT_EQ(labels(*root), (std::vector<std::string> { "a", "c" }));
    EXPECT_EQ(root->children[0]->id, std::numeric_limits<int>::max());
    MenuDescBuilder low(std::numeric_limits<int>::min());
    low.add("d", -2).add("e", 2);
    EXPECT_EQ(labels(*buildFromDesc(low.finish())), (std::vector<std::string> { "e" }));
}

TEST(MenuDesc, IdentifierCountIsLargerOfEntriesAndLargestCode)
{
    MenuDescBuilder few(0);
    few.add("a", 40).add("b", 2);
    EXPECT_EQ(countIdsInDesc(few.finish()), 40);
    MenuDescBuilder many(0);
    many.add("a", 1).separator().separator().add("b", 2);
    EXPECT_EQ(countIdsInDesc(many.finish()), 4);
    EXPECT_EQ(countIdsInDesc(nullptr), 0);
}

TEST(WorkstationMenus, MainBarHasTheFourMenusInOrder)
{
    auto bar = mainMenuBar(true, false);
    EXPECT_EQ(labels(*bar),
        (std::vector<std::string> { "Importation", "Traitements", "Librairies", "Fenêtres" }));
    MenuNode* lib = bar->findSubMenu("Librairies");
    EXPECT_EQ(labels(*lib),
        (std::vector<std::string> { "Charger", "Charger Répertoire", "Libérer", "Tout Libérer", "-",
            "Libérer la dernière chargée\tAlt+L", "Recharger la dernière libérée\tAlt+R", "-",
            "Précédentes Actions\tF11", "Dernière Action\tF12", "-", "Multitâche",
            "Mode 'Safe'" }));
    EXPECT_TRUE(lib->findItem(kCmdMultitask)->checked);
    EXPECT_FALSE(lib->findItem(kCmdSafeMode)->checked);
    MenuNode* import = bar->findSubMenu("Importation");
    EXPECT_NE(import->findSubMenu("Nouvelle donnée ..."), nullptr);
    EXPECT_EQ(import->findItem(kCmdImageSeries)->text, "Série d'images\t -> Image 3D");
}

TEST(WorkstationMenus, VolumeWindowsAlsoOfferThe3dMenu)
{
    EXPECT_EQ(
        labels(*dataMenuBar(false)), (std::vector<std::string> { "Exportation", "Traitement 2D" }));
    EXPECT_EQ(labels(*dataMenuBar(true)),
        (std::vector<std::string> { "Exportation", "Traitement 2D", "Traitement 3D" }));
}

TEST(WorkstationMenus, AcceleratorTablesCarryTheirCommands)
{
    auto find = [](const std::vector<Accelerator>& table, int command) -> std::string {
        for (const Accelerator& a : table)
            if (a.command == command)
                return a.key;
        return {};
    };
    EXPECT_EQ(mainAccelerators().size(), 9u);
    EXPECT_EQ(find(mainAccelerators(), kCmdOpenData), "Alt+O");
    EXPECT_EQ(find(mainAccelerators(), kCmdLibUnloadLast), "Alt+L");
    EXPECT_EQ(find(mainAccelerators(), kCmdLastAction), "F12");
    EXPECT_EQ(find(imageAccelerators(), 1012), "Ctrl+D");
    EXPECT_EQ(imageAccelerators().size(), 11u);
    EXPECT_EQ(find(view3dAccelerators(), 42), "F5");
}

TEST(ActionHistory, NewestFirstEachOnceAndAtMostTen)
{
    clearActions();
    for (int id = 1; id <= 12; ++id)
        recordAction(id, "Commande " + std::to_string(id));
    recordAction(5, "Cinq");
    std::vector<RecordedAction> actions = recordedActions();
    ASSERT_EQ(actions.size(), kActionHistorySize);
    EXPECT_EQ(actions[0].id, 5);
    EXPECT_EQ(actions[0].label, "Cinq");
    EXPECT_EQ(actions[1].id, 12);
    EXPECT_EQ(actions.back().id, 3); // 1 and 2 fell off; 5 is listed once
    forgetAction(12);
    EXPECT_EQ(recordedActions()[1].id, 11);
    clearActions();
    EXPECT_TRUE(recordedActions().empty());
}
