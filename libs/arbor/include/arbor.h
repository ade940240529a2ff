// arbor: an ordered n-ary tree of opaque payloads.
//
// Every tree has a payload-less root; items hang below it or below each other, each
// parent keeping its children in order. The tree owns its nodes and, through the
// delete function given at construction, the payloads: removing a node releases the
// payloads of its whole subtree. Not thread-safe: the owner guards a shared tree.
#pragma once

#include <cstddef>
#include <functional>

namespace arbor {

class Tree;

class Node {
public:
    void* payload() const { return payload_; }
    Node* parent() const { return parent_; }
    Node* firstChild() const { return firstChild_; }
    Node* lastChild() const { return lastChild_; }
    Node* nextSibling() const { return next_; }
    Node* prevSibling() const { return prev_; }
    std::size_t childCount() const { return childCount_; }

private:
    friend class Tree;
    Node(Tree* owner, void* payload)
        : owner_(owner)
        , payload_(payload)
    {
    }

    Tree* owner_;
    void* payload_;
    Node* parent_ = nullptr;
    Node* firstChild_ = nullptr;
    Node* lastChild_ = nullptr;
    Node* prev_ = nullptr;
    Node* next_ = nullptr;
    std::size_t childCount_ = 0;
};

// Releases one payload; context is the value given to the tree.
using DeleteFn = void (*)(void* payload, void* context);

class Tree {
public:
    explicit Tree(DeleteFn deleteFn = nullptr, void* context = nullptr);
    ~Tree();
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    Node* root() { return &root_; }
    const Node* root() const { return &root_; }

    // Number of items, the root excluded.
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // True when node is the root or an item of this tree.
    bool owns(const Node* node) const { return node && node->owner_ == this; }

    // Adds an item holding payload as a child of parent (the root when null), before
    // the child `before` or last when `before` is null. Returns the new node, or null
    // when parent or before do not belong here (before must be a child of parent).
    Node* insert(Node* parent, void* payload, Node* before = nullptr);

    // Removes node with its subtree, releasing every payload (children before their
    // parent). Removing the root empties the tree but keeps the root. Returns false for
    // a node of another tree. The delete function must not touch this tree.
    bool remove(Node* node);

    void clear() { remove(&root_); }

    // Visits every item in depth-first pre-order (parent, then its children in order).
    // The visitor gets the node and its depth (1 for children of the root) and returns
    // false to stop the walk. The tree must not change during the walk.
    void walk(const std::function<bool(Node*, int)>& visitor) const;

    // First item in pre-order whose payload satisfies pred, or null.
    Node* find(const std::function<bool(void*)>& pred) const;

private:
    void unlink(Node* node);

    Node root_;
    DeleteFn deleteFn_;
    void* context_;
    std::size_t size_ = 0;
};

} // namespace arbor
