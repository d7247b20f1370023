// A height-balanced binary search tree (AVL) over caller items: the index of
// the message cache.
//
// Items are opaque pointers. With a comparison function items are ordered by
// it (negative: the first goes left of the second); without one they are
// ordered by their pointer values taken as unsigned numbers. With a destroy
// function the tree owns its items: AVLclose hands each item to it, and an
// absent (null) item is refused by AVLinsert.
#pragma once

#include <memory>

using AVLcompare = int (*)(const void *a, const void *b);
using AVLdestroyfn = void (*)(void *item);

struct AVLnode {
    std::unique_ptr<AVLnode> left;
    std::unique_ptr<AVLnode> right;
    void *item = nullptr;
    signed char balance = 0; // height(right) - height(left): -1, 0 or +1
    signed char dir = 0;     // sign of the last comparison made on an insertion path
};

struct AVLtree {
    std::unique_ptr<AVLnode> root;
    AVLcompare compare = nullptr;
    AVLdestroyfn destroy = nullptr;
};

// An empty tree; null when memory runs out.
AVLtree *AVLopen(AVLcompare compare, AVLdestroyfn destroy);

// The item equal to probe, or null.
void *AVLretrieve(const AVLtree *tree, const void *probe);

// Inserts item. Returns the item now in the tree: item itself when it was
// inserted, the equal item already present when there was one (item is then
// not inserted and stays the caller's), null when item was refused (null item
// in an owning tree) or a node could not be allocated.
void *AVLinsert(AVLtree *tree, void *item);

// Destroys every node in post-order (items through the destroy function when
// the tree has one) and frees the handle. A null tree is ignored.
void AVLclose(AVLtree *tree);

// Internals, exposed for the tests of the balancing.
std::unique_ptr<AVLnode> AVLcreate(void *item);
// Rotates the subtree whose root has balance +-2 back into balance; returns
// the new subtree root.
std::unique_ptr<AVLnode> AVLbalance(std::unique_ptr<AVLnode> node);
void AVLdestroy(std::unique_ptr<AVLnode> node, AVLdestroyfn destroy);

// Closes a tree held in a unique_ptr.
struct AVLcloser {
    void operator()(AVLtree *tree) const { AVLclose(tree); }
};
using AVLtreePtr = std::unique_ptr<AVLtree, AVLcloser>;
