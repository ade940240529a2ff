#include "arbor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

// Payloads are small integers stored in the pointer; the delete function records them.
void* item(std::intptr_t v)
{
    return reinterpret_cast<void*>(v);
}
std::intptr_t value(void* p)
{
    return reinterpret_cast<std::intptr_t>(p);
}

void recordDelete(void* payload, void* context)
{
    static_cast<std::vector<std::intptr_t>*>(context)->push_back(value(payload));
}

std::vector<std::pair<std::intptr_t, int>> preorder(const arbor::Tree& tree)
{
    std::vector<std::pair<std::intptr_t, int>> out;
    tree.walk([&](arbor::Node* n, int depth) {
        out.emplace_back(value(n->payload()), depth);
        return true;
    });
    return out;
}

using Walk = std::vector<std::pair<std::intptr_t, int>>;

TEST(ArborTree, KeepsChildrenInInsertionOrderAndWalksPreorder)
{
    arbor::Tree tree;
    arbor::Node* a = tree.insert(nullptr, item(1));
    arbor::Node* b = tree.insert(nullptr, item(2));
    tree.insert(a, item(11));
    tree.insert(a, item(12));
    tree.insert(b, item(21));
    EXPECT_EQ(tree.size(), 5u);
    EXPECT_EQ(preorder(tree), (Walk { { 1, 1 }, { 11, 2 }, { 12, 2 }, { 2, 1 }, { 21, 2 } }));
    EXPECT_EQ(a->childCount(), 2u);
    EXPECT_EQ(a->parent(), tree.root());
}

TEST(ArborTree, InsertsBeforeAGivenSibling)
{
    arbor::Tree tree;
    arbor::Node* a = tree.insert(nullptr, item(1));
    arbor::Node* c = tree.insert(nullptr, item(3));
    tree.insert(nullptr, item(0), a);
    tree.insert(nullptr, item(2), c);
    EXPECT_EQ(preorder(tree), (Walk { { 0, 1 }, { 1, 1 }, { 2, 1 }, { 3, 1 } }));
    EXPECT_EQ(tree.root()->firstChild()->payload(), item(0));
    EXPECT_EQ(tree.root()->lastChild(), c);
}

TEST(ArborTree, RefusesNodesOfAnotherTreeOrAWrongSibling)
{
    arbor::Tree tree;
    arbor::Tree other;
    arbor::Node* foreign = other.insert(nullptr, item(9));
    arbor::Node* a = tree.insert(nullptr, item(1));
    arbor::Node* a1 = tree.insert(a, item(2));
    EXPECT_EQ(tree.insert(foreign, item(3)), nullptr);
    EXPECT_EQ(tree.insert(nullptr, item(3), a1), nullptr); // a1 is not a child of the root
    EXPECT_FALSE(tree.remove(foreign));
    EXPECT_EQ(other.size(), 1u);
    EXPECT_EQ(tree.size(), 2u);
}

TEST(ArborTree, RemovingANodeReleasesItsWholeSubtreeChildrenFirst)
{
    std::vector<std::intptr_t> released;
    arbor::Tree tree(recordDelete, &released);
    arbor::Node* a = tree.insert(nullptr, item(1));
    arbor::Node* a1 = tree.insert(a, item(11));
    tree.insert(a1, item(111));
    tree.insert(a, item(12));
    tree.insert(nullptr, item(2));

    EXPECT_TRUE(tree.remove(a));
    ASSERT_EQ(released.size(), 4u);
    EXPECT_EQ(released.back(), 1); // the parent goes last
    auto pos = [&](std::intptr_t v) { return std::find(released.begin(), released.end(), v); };
    EXPECT_LT(pos(111), pos(11));
    EXPECT_EQ(tree.size(), 1u);
    EXPECT_EQ(preorder(tree), (Walk { { 2, 1 } }));
}

TEST(ArborTree, RemovingTheMiddleChildRelinksSiblings)
{
    arbor::Tree tree;
    tree.insert(nullptr, item(1));
    arbor::Node* b = tree.insert(nullptr, item(2));
    tree.insert(nullptr, item(3));
    tree.remove(b);
    EXPECT_EQ(preorder(tree), (Walk { { 1, 1 }, { 3, 1 } }));
    EXPECT_EQ(tree.root()->firstChild()->nextSibling(), tree.root()->lastChild());
    EXPECT_EQ(tree.root()->lastChild()->prevSibling(), tree.root()->firstChild());
    EXPECT_EQ(tree.root()->childCount(), 2u);
}

TEST(ArborTree, ClearAndDestructionReleaseEveryPayload)
{
    std::vector<std::intptr_t> released;
    {
        arbor::Tree tree(recordDelete, &released);
        tree.insert(tree.insert(nullptr, item(1)), item(2));
        tree.clear();
        EXPECT_EQ(released.size(), 2u);
        EXPECT_TRUE(tree.empty());
        tree.insert(nullptr, item(3)); // the tree stays usable after a clear
    }
    EXPECT_EQ(released, (std::vector<std::intptr_t> { 2, 1, 3 }));
}

TEST(ArborTree, FindStopsAtTheFirstMatchInPreorder)
{
    arbor::Tree tree;
    arbor::Node* a = tree.insert(nullptr, item(1));
    arbor::Node* deep = tree.insert(a, item(5));
    tree.insert(nullptr, item(5));
    EXPECT_EQ(tree.find([](void* p) { return value(p) == 5; }), deep);
    EXPECT_EQ(tree.find([](void* p) { return value(p) == 7; }), nullptr);
}

TEST(ArborTree, WalkCanStopEarly)
{
    arbor::Tree tree;
    for (int i = 0; i < 5; ++i)
        tree.insert(nullptr, item(i));
    int seen = 0;
    tree.walk([&](arbor::Node*, int) { return ++seen < 2; });
    EXPECT_EQ(seen, 2);
}

TEST(ArborTree, HandlesADeepChainWithoutRecursion)
{
    std::vector<std::intptr_t> released;
    arbor::Tree tree(recordDelete, &released);
    arbor::Node* n = nullptr;
    for (int i = 0; i < 200000; ++i)
        n = tree.insert(n, item(i));
    int maxDepth = 0;
    tree.walk([&](arbor::Node*, int d) {
        maxDepth = d;
        return true;
    });
    EXPECT_EQ(maxDepth, 200000);
    tree.clear();
    EXPECT_EQ(released.size(), 200000u);
    EXPECT_EQ(released.front(), 199999);
}

} // namespace
