// Loading the fixture plug-ins the way the workstation does: version levels, refusals
// and their messages, identifiers, menu insertion, running commands at each level,
// unloading.
#include "data/registry.h"
#include "log/logmodel.h"
#include "plugins/libraries.h"
#include "plugins/libraryapi.h"
#include "support/fakehost.h"
#include "tasks/taskcontext.h"
#include "tasks/workerthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <dlfcn.h>
#include <thread>

using namespace vexa;
using namespace vexa::plugins;

namespace {

std::string fixture(const char* name)
{
    return std::string(VEXA_TEST_PLUGIN_DIR) + "/fixture_" + name + ".so";
}

// A symbol of a loaded fixture, found through a second handle on the same library.
template <typename T> T* symbol(const std::string& path, const char* name)
{
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!module)
        return nullptr;
    auto* p = static_cast<T*>(dlsym(module, name));
    dlclose(module);
    return p;
}

std::vector<std::string> labels(const menus::MenuNode& node)
{
    std::vector<std::string> out;
    for (const auto& child : node.children)
        out.push_back(child->kind == menus::MenuNode::Kind::Separator ? "-" : child->text);
    return out;
}

class Libraries : public ::testing::Test {
protected:
    void SetUp() override
    {
        installHost(&host);
        taskSetMultitask(false);
    }
    void TearDown() override
    {
        unloadAllLibraries();
        taskSetMultitask(true);
        installHost(nullptr);
    }
    std::vector<std::string> boxes()
    {
        std::vector<std::string> out;
        for (const auto& request : host.requests())
            if (request.code == GuiRequest::MessageBox)
                out.push_back(request.text);
        return out;
    }
    FakeHost host;
};

} // namespace

TEST(LibraryVersions, LevelsFromTheVersionText)
{
    EXPECT_EQ(versionLevel(nullptr), 0);
    EXPECT_EQ(versionLevel("1.0.2"), 0);
    EXPECT_EQ(versionLevel("0.9.99"), 0);
    EXPECT_EQ(versionLevel("1.0.3"), 1);
    EXPECT_EQ(versionLevel("1.0.4"), 1);
    EXPECT_EQ(versionLevel("1.0.5"), 2);
    EXPECT_EQ(versionLevel("1.0.11"), 2);
    EXPECT_EQ(versionLevel("1.0.12"), 2);
    EXPECT_EQ(versionLevel("2.0.0"), 2);
    // Not three numbers: equal to every reference.
    EXPECT_EQ(versionLevel("version"), 2);
    EXPECT_EQ(versionLevel(""), 2);
}

TEST_F(Libraries, RefusalsShowTheirMessageAndLeaveNothing)
{
    EXPECT_EQ(loadLibrary(fixture("absent"), true), kLoadFailed);
    EXPECT_EQ(loadLibrary(fixture("nocallback"), true), kLoadFailed);
    EXPECT_EQ(loadLibrary(fixture("nomenus"), true), kLoadFailed);
    EXPECT_EQ(boxes(),
        (std::vector<std::string> { "Erreur de chargement|Librairie non valide !",
            "Erreur de chargement|Pas de fonction de rappel !",
            "Erreur de chargement|Pas de fonction d'ajout de menus !" }));
    EXPECT_TRUE(loadedLibraries().empty());
    EXPECT_EQ(reservedIdentifierCount(), 0);
    // Without messages the same failures are silent.
    host.clearRequests();
    EXPECT_EQ(loadLibrary(fixture("nocallback"), false), kLoadFailed);
    EXPECT_TRUE(boxes().empty());
    EXPECT_EQ(unloadLibrary(fixture("level2"), true), 0);
    EXPECT_EQ(
        boxes(), (std::vector<std::string> { "Erreur de libération|Librairie non chargée !" }));
}

TEST_F(Libraries, CurrentLibraryInsertsItsTreeAndRunsItsItems)
{
    const std::string path = fixture("level2");
    ASSERT_EQ(loadLibrary(path, true), kLoaded) << (boxes().empty() ? "" : boxes().front());
    EXPECT_EQ(libraryLevel(path), 2);
    EXPECT_EQ(loadLibrary(path, true), kAlreadyLoaded);
    EXPECT_EQ(
        boxes(), (std::vector<std::string> { "Erreur de chargement|Librairie déjà chargée !" }));

    // "MENU_2DXYZ" matches MENU_2D by prefix; the pop-up takes the root's text.
    auto menu = menus::MenuNode::subMenu("Traitement 2D");
    appendInsertedMenus(*menu, MenuLocation::Menu2d);
    ASSERT_EQ(labels(*menu), (std::vector<std::string> { "Exemple" }));
    const menus::MenuNode& popup = *menu->children[0];
    EXPECT_EQ(labels(popup), (std::vector<std::string> { "Compter", "Sept", "-", "Sous" }));
    // Depth first, from the first free identifier.
    EXPECT_EQ(popup.children[0]->id, kFirstLibraryId);
    EXPECT_EQ(popup.children[1]->id, kFirstLibraryId + 1);
    EXPECT_EQ(popup.children[3]->children[0]->id, kFirstLibraryId + 2);
    EXPECT_EQ(commandArgument(kFirstLibraryId), -2);
    EXPECT_EQ(commandArgument(kFirstLibraryId + 1), 7);
    EXPECT_EQ(commandText(kFirstLibraryId + 1), "Sept");
    auto other = menus::MenuNode::subMenu("Traitements");
    appendInsertedMenus(*other, MenuLocation::Processing);
    EXPECT_TRUE(other->children.empty());

    // Level 2 runs procedure(0); the item learns which one it is from its task.
    int* calls = symbol<int>(path, "fixtureCalls");
    int* menuId = symbol<int>(path, "fixtureLastMenuId");
    ASSERT_TRUE(calls && menuId);
    EXPECT_TRUE(runLibraryCommand(kFirstLibraryId + 1));
    EXPECT_EQ(*calls, 1);
    EXPECT_EQ(*menuId, 7);
    EXPECT_TRUE(runLibraryCommand(kFirstLibraryId + 2));
    EXPECT_EQ(*menuId, -2);
    EXPECT_FALSE(runLibraryCommand(kFirstLibraryId + 3));
    EXPECT_EQ(previousActions(), (std::vector<int> { kFirstLibraryId + 2, kFirstLibraryId + 1 }));
    runLastAction();
    EXPECT_EQ(*calls, 3);

    EXPECT_EQ(unloadLibrary(path, true), 1);
    EXPECT_EQ(reservedIdentifierCount(), 0);
    EXPECT_FALSE(isLibraryCommand(kFirstLibraryId));
    EXPECT_TRUE(previousActions().empty());
    auto after = menus::MenuNode::subMenu("Traitement 2D");
    appendInsertedMenus(*after, MenuLocation::Menu2d);
    EXPECT_TRUE(after->children.empty());
}

TEST_F(Libraries, MiddleGenerationGetsArgumentAndIdentifier)
{
    const std::string path = fixture("level1");
    ASSERT_EQ(loadLibrary(path, true), kLoaded);
    EXPECT_EQ(libraryLevel(path), 1);
    auto menu = menus::MenuNode::subMenu("Traitements");
    appendInsertedMenus(*menu, MenuLocation::Processing);
    ASSERT_EQ(labels(*menu), (std::vector<std::string> { "Moyen" }));
    const int id = menu->children[0]->children[0]->id;
    // The item of the unknown location reserved its identifier but shows nowhere.
    for (MenuLocation where :
        { MenuLocation::Menu2d, MenuLocation::Menu3d, MenuLocation::Capture }) {
        auto none = menus::MenuNode::subMenu("x");
        appendInsertedMenus(*none, where);
        EXPECT_TRUE(none->children.empty());
    }
    runLibraryCommand(id);
    EXPECT_EQ(*symbol<intptr_t>(path, "fixtureArgument"), 42);
    EXPECT_EQ(*symbol<int>(path, "fixtureIdentifier"), id);
}

TEST_F(Libraries, OldLibraryReservesARunAndUsesItsDispatcher)
{
    const std::string path = fixture("level0");
    ASSERT_EQ(loadLibrary(path, true), kLoaded);
    EXPECT_EQ(libraryLevel(path), 0);
    EXPECT_EQ(*symbol<int>(path, "fixtureFirst"), kFirstLibraryId);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(commandArgument(kFirstLibraryId + k), k);
    auto menu = menus::MenuNode::subMenu("Traitement 3D");
    appendInsertedMenus(*menu, MenuLocation::Menu3d);
    ASSERT_EQ(labels(*menu), (std::vector<std::string> { "Ancien" }));
    EXPECT_EQ(labels(*menu->children[0]), (std::vector<std::string> { "Un", "Deux", "Trois" }));
    EXPECT_EQ(menu->children[0]->children[2]->id, kFirstLibraryId + 2);
    runLibraryCommand(kFirstLibraryId + 2);
    EXPECT_EQ(*symbol<intptr_t>(path, "fixtureArgument"), 2);
    EXPECT_EQ(*symbol<int>(path, "fixtureIdentifier"), 0);

    // Identifiers are reused from the bottom once freed.
    ASSERT_EQ(unloadLibrary(path, false), 1);
    ASSERT_EQ(loadLibrary(fixture("level1"), false), kLoaded);
    EXPECT_TRUE(isLibraryCommand(kFirstLibraryId));
    EXPECT_EQ(commandArgument(kFirstLibraryId), 42);
    // The old library's command is no longer a previous action of the new one.
    EXPECT_TRUE(previousActions().empty());
}

TEST_F(Libraries, ListsMostRecentFirstAndUnloadsAllInThatOrder)
{
    ASSERT_EQ(loadLibrary(fixture("level1"), false), kLoaded);
    ASSERT_EQ(loadLibrary(fixture("level2"), false), kLoaded);
    EXPECT_EQ(
        loadedLibraries(), (std::vector<std::string> { fixture("level2"), fixture("level1") }));
    unloadLastCommand();
    EXPECT_EQ(rememberedLibrary(), fixture("level2"));
    EXPECT_EQ(loadedLibraries(), (std::vector<std::string> { fixture("level1") }));
    reloadLastCommand();
    EXPECT_EQ(loadedLibraries().front(), fixture("level2"));
    unloadAllCommand();
    EXPECT_TRUE(loadedLibraries().empty());
    EXPECT_EQ(reservedIdentifierCount(), 0);
}

TEST_F(Libraries, ALibraryStaysWhileOneOfItsCommandsRuns)
{
    const std::string path = fixture("level2");
    ASSERT_EQ(loadLibrary(path, false), kLoaded);
    // The fixture's C11 atomic_int flags, shared with the worker that runs the command.
    static_assert(sizeof(std::atomic<int>) == sizeof(int) && std::atomic<int>::is_always_lock_free);
    std::atomic<int>* hold = symbol<std::atomic<int>>(path, "fixtureHold");
    std::atomic<int>* inside = symbol<std::atomic<int>>(path, "fixtureInside");
    ASSERT_TRUE(hold && inside);
    hold->store(1);
    taskSetMultitask(true);
    ASSERT_TRUE(runLibraryCommand(kFirstLibraryId));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!inside->load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!inside->load())
        hold->store(0); // let a late worker finish instead of spinning through teardown
    ASSERT_TRUE(inside->load());
    EXPECT_EQ(unloadLibrary(path, true), 0);
    EXPECT_EQ(loadedLibraries().size(), 1u);
    hold->store(0);
    EXPECT_TRUE(taskWaitForWorkers([this] { host.processPending(); }, std::chrono::seconds(10)));
    EXPECT_EQ(unloadLibrary(path, true), 1);
}

TEST_F(Libraries, ContextMenusReserveTheirItemsAndRunTheChosenOne)
{
    const std::string path = fixture("level2");
    ASSERT_EQ(loadLibrary(path, false), kLoaded);
    void* library = *symbol<void*>(path, "fixtureLibrary");
    ASSERT_TRUE(library);
    auto object = std::make_unique<ImageObject>();
    object->image->width = object->image->height = 2;
    object->image->samples.allocate(4);
    DataRecord* record = dataCreateImage(std::move(object), kFreshId, kFreshId);
    int windowStandIn = 0;
    record->window = &windowStandIn;
    const int reservedBefore = reservedIdentifierCount();

    void* menu = dozMenuCreate("Contexte");
    dozMenuAddItem(menu, 5, "Cinq");
    dozMenuAddItem(menu, 6, "Six");
    host.queuePopupAnswer("Six");
    // Items of a context menu carry no dispatcher: choosing one runs nothing, but its
    // identifiers stay reserved for the library.
    EXPECT_EQ(vexaLibraryAddMenuPopup(library, record->imageId, 30, 40, menu), 1);
    EXPECT_EQ(reservedIdentifierCount(), reservedBefore + 2);
    EXPECT_EQ(previousActions().size(), 1u);
    auto requests = host.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().text, "popup 30,40");
    EXPECT_EQ(requests.back().window, &windowStandIn);
    // The tree was consumed; a datum without a window shows nothing.
    EXPECT_EQ(dozMenuAddItem(menu, 7, "Sept"), 0);
    record->window = nullptr;
    void* other = dozMenuCreate("Autre");
    EXPECT_EQ(vexaLibraryAddMenuPopup(library, record->imageId, 0, 0, other), 0);
    EXPECT_EQ(vexaLibraryAddMenuPopup(nullptr, record->imageId, 0, 0, dozMenuCreate("x")), 0);
    dataResetRegistry();
}

TEST_F(Libraries, MenuHandlesAreCheckedBeforeUse)
{
    int notANode = 0;
    EXPECT_EQ(dozMenuAddItem(&notANode, 1, "x"), 0);
    EXPECT_EQ(dozMenuAddSeparator(nullptr), 0);
    void* a = dozMenuCreate("A");
    void* b = dozMenuCreate("B");
    EXPECT_EQ(dozMenuAddSubMenu(a, b), 1);
    // A node has one parent, and a tree cannot contain itself.
    EXPECT_EQ(dozMenuAddSubMenu(a, b), 0);
    EXPECT_EQ(dozMenuAddSubMenu(b, a), 0);
    EXPECT_EQ(dozMenuAddSubMenu(a, a), 0);
    // Without a loaded library nothing is inserted.
    EXPECT_EQ(dozLibraryAddMenu(&notANode, "MENU_2D", a, nullptr), nullptr);
    EXPECT_EQ(dozMenuCreateFromDESC(nullptr), nullptr);
    EXPECT_EQ(dozMenuComputeNumberIdFromDESC(nullptr), 0);
}
