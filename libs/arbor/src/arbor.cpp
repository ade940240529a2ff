#include "arbor.h"

#include <vector>

namespace arbor {

Tree::Tree(DeleteFn deleteFn, void* context)
    : root_(this, nullptr)
    , deleteFn_(deleteFn)
    , context_(context)
{
}

Tree::~Tree()
{
    clear();
}

Node* Tree::insert(Node* parent, void* payload, Node* before)
{
    if (!parent)
        parent = &root_;
    if (!owns(parent))
        return nullptr;
    if (before && (!owns(before) || before->parent_ != parent))
        return nullptr;

    Node* node = new Node(this, payload);
    node->parent_ = parent;
    if (before) {
        node->next_ = before;
        node->prev_ = before->prev_;
        if (before->prev_)
            before->prev_->next_ = node;
        else
            parent->firstChild_ = node;
        before->prev_ = node;
    } else {
        node->prev_ = parent->lastChild_;
        if (parent->lastChild_)
            parent->lastChild_->next_ = node;
        else
            parent->firstChild_ = node;
        parent->lastChild_ = node;
    }
    ++parent->childCount_;
    ++size_;
    return node;
}

void Tree::unlink(Node* node)
{
    Node* parent = node->parent_;
    if (node->prev_)
        node->prev_->next_ = node->next_;
    else
        parent->firstChild_ = node->next_;
    if (node->next_)
        node->next_->prev_ = node->prev_;
    else
        parent->lastChild_ = node->prev_;
    --parent->childCount_;
    node->parent_ = node->prev_ = node->next_ = nullptr;
}

bool Tree::remove(Node* node)
{
    if (!owns(node))
        return false;

    // Collect the subtree first so that no payload is released while the links are
    // still being followed; iterative so that a deep chain cannot exhaust the stack.
    std::vector<Node*> order;
    std::vector<Node*> pending;
    if (node == &root_) {
        for (Node* c = root_.firstChild_; c; c = c->next_)
            pending.push_back(c);
        root_.firstChild_ = root_.lastChild_ = nullptr;
        root_.childCount_ = 0;
    } else {
        unlink(node);
        pending.push_back(node);
    }
    while (!pending.empty()) {
        Node* n = pending.back();
        pending.pop_back();
        order.push_back(n);
        for (Node* c = n->firstChild_; c; c = c->next_)
            pending.push_back(c);
    }
    // Children come after their parent in `order`: release from the back.
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        Node* n = *it;
        if (deleteFn_)
            deleteFn_(n->payload_, context_);
        delete n;
        --size_;
    }
    return true;
}

void Tree::walk(const std::function<bool(Node*, int)>& visitor) const
{
    Node* n = root_.firstChild_;
    int depth = 1;
    while (n) {
        if (!visitor(n, depth))
            return;
        if (n->firstChild_) {
            n = n->firstChild_;
            ++depth;
            continue;
        }
        while (n && !n->next_) {
            n = n->parent_;
            --depth;
            if (n == &root_)
                return;
        }
        if (n)
            n = n->next_;
    }
}

Node* Tree::find(const std::function<bool(void*)>& pred) const
{
    Node* found = nullptr;
    walk([&](Node* n, int) {
        if (pred(n->payload_)) {
            found = n;
            return false;
        }
        return true;
    });
    return found;
}

} // namespace arbor
