// Height-balanced binary search tree over caller items (the message cache's
// index). Insertion keeps, at every node, the direction the last insertion
// took through it, so that after attaching a leaf the balances can be fixed by
// walking down once from the deepest node that was out of balance before, and
// at most one single or double rotation restores the AVL property.

#include "avl.h"

#include <cstdint>
#include <new>
#include <utility>

namespace {

int compare_items(const AVLtree *tree, const void *a, const void *b) {
    if (tree->compare != nullptr) {
        return tree->compare(a, b);
    }
    auto x = reinterpret_cast<uintptr_t>(a);
    auto y = reinterpret_cast<uintptr_t>(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

std::unique_ptr<AVLnode> rotate_left(std::unique_ptr<AVLnode> n) {
    std::unique_ptr<AVLnode> r = std::move(n->right);
    n->right = std::move(r->left);
    r->left = std::move(n);
    return r;
}

std::unique_ptr<AVLnode> rotate_right(std::unique_ptr<AVLnode> n) {
    std::unique_ptr<AVLnode> l = std::move(n->left);
    n->left = std::move(l->right);
    l->right = std::move(n);
    return l;
}

} // namespace

AVLtree *AVLopen(AVLcompare compare, AVLdestroyfn destroy) {
    std::unique_ptr<AVLtree> tree(new (std::nothrow) AVLtree);
    if (!tree) {
        return nullptr;
    }
    tree->compare = compare;
    tree->destroy = destroy;
    return tree.release();
}

void *AVLretrieve(const AVLtree *tree, const void *probe) {
    if (tree == nullptr) {
        return nullptr;
    }
    const AVLnode *n = tree->root.get();
    while (n != nullptr) {
        int c = compare_items(tree, probe, n->item);
        if (c == 0) {
            return n->item;
        }
        n = c < 0 ? n->left.get() : n->right.get();
    }
    return nullptr;
}

std::unique_ptr<AVLnode> AVLcreate(void *item) {
    std::unique_ptr<AVLnode> node(new (std::nothrow) AVLnode);
    if (node) {
        node->item = item;
    }
    return node;
}

std::unique_ptr<AVLnode> AVLbalance(std::unique_ptr<AVLnode> node) {
    if (node->balance == 2) {
        AVLnode *r = node->right.get();
        if (r->balance >= 0) {
            // Right-right: one rotation to the left.
            if (r->balance == 0) {
                node->balance = 1;
                r->balance = -1;
            } else {
                node->balance = 0;
                r->balance = 0;
            }
            return rotate_left(std::move(node));
        }
        // Right-left: the right child's left child becomes the subtree root.
        AVLnode *g = r->left.get();
        node->balance = g->balance == 1 ? -1 : 0;
        r->balance = g->balance == -1 ? 1 : 0;
        g->balance = 0;
        node->right = rotate_right(std::move(node->right));
        return rotate_left(std::move(node));
    }
    if (node->balance == -2) {
        AVLnode *l = node->left.get();
        if (l->balance <= 0) {
            if (l->balance == 0) {
                node->balance = -1;
                l->balance = 1;
            } else {
                node->balance = 0;
                l->balance = 0;
            }
            return rotate_right(std::move(node));
        }
        AVLnode *g = l->right.get();
        node->balance = g->balance == -1 ? 1 : 0;
        l->balance = g->balance == 1 ? -1 : 0;
        g->balance = 0;
        node->left = rotate_left(std::move(node->left));
        return rotate_right(std::move(node));
    }
    return node;
}

void *AVLinsert(AVLtree *tree, void *item) {
    if (tree == nullptr || (item == nullptr && tree->destroy != nullptr)) {
        return nullptr;
    }
    std::unique_ptr<AVLnode> *link = &tree->root;
    // Link to the deepest node on the path whose balance was not 0: only the
    // subtree below it can change height, and only it can go out of balance.
    std::unique_ptr<AVLnode> *critical = &tree->root;
    while (*link) {
        AVLnode *n = link->get();
        int c = compare_items(tree, item, n->item);
        if (c == 0) {
            return n->item;
        }
        if (n->balance != 0) {
            critical = link;
        }
        n->dir = c < 0 ? -1 : 1;
        link = c < 0 ? &n->left : &n->right;
    }
    std::unique_ptr<AVLnode> leaf = AVLcreate(item);
    if (!leaf) {
        return nullptr;
    }
    const AVLnode *added = leaf.get();
    *link = std::move(leaf);

    for (AVLnode *p = critical->get(); p != added;
         p = p->dir < 0 ? p->left.get() : p->right.get()) {
        p->balance = static_cast<signed char>(p->balance + p->dir);
    }
    if ((*critical)->balance == 2 || (*critical)->balance == -2) {
        *critical = AVLbalance(std::move(*critical));
    }
    return item;
}

void AVLdestroy(std::unique_ptr<AVLnode> node, AVLdestroyfn destroy) {
    if (!node) {
        return;
    }
    AVLdestroy(std::move(node->left), destroy);
    AVLdestroy(std::move(node->right), destroy);
    if (destroy != nullptr && node->item != nullptr) {
        destroy(node->item);
    }
}

void AVLclose(AVLtree *tree) {
    std::unique_ptr<AVLtree> owned(tree);
    if (owned) {
        AVLdestroy(std::move(owned->root), owned->destroy);
    }
}
