// The cache index: ordering, balance invariants under many insertion orders,
// duplicates, ownership of items.

#include <gtest/gtest.h>

#include "avl.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <set>
#include <vector>

namespace {

int cmp_int(const void *a, const void *b) {
    int x = *static_cast<const int *>(a);
    int y = *static_cast<const int *>(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

// Height of a subtree; counts in bad the nodes whose stored balance differs
// from the real heights or breaks the AVL bound, and collects the items in order.
int check(const AVLnode *n, std::vector<const void *> &inorder, int &bad) {
    if (n == nullptr) {
        return 0;
    }
    int hl = check(n->left.get(), inorder, bad);
    inorder.push_back(n->item);
    int hr = check(n->right.get(), inorder, bad);
    if (hr - hl != n->balance || std::abs(hr - hl) > 1) {
        ++bad;
    }
    return 1 + std::max(hl, hr);
}

std::vector<const void *> verified(const AVLtree *t, int *height = nullptr) {
    std::vector<const void *> items;
    int bad = 0, h = check(t->root.get(), items, bad);
    EXPECT_EQ(bad, 0);
    if (height != nullptr) {
        *height = h;
    }
    return items;
}

std::vector<int> values(const std::vector<const void *> &items) {
    std::vector<int> out;
    for (const void *p : items) {
        out.push_back(*static_cast<const int *>(p));
    }
    return out;
}

} // namespace

TEST(Avl, BalancedAfterEveryInsertionInManyOrders) {
    constexpr int N = 2000;
    std::vector<int> ascending(N);
    std::iota(ascending.begin(), ascending.end(), 0);
    std::vector<int> descending(ascending.rbegin(), ascending.rend());
    std::vector<int> zigzag; // 0, N-1, 1, N-2, ... exercises the double rotations
    for (int i = 0; i < N / 2; ++i) {
        zigzag.push_back(i);
        zigzag.push_back(N - 1 - i);
    }
    std::vector<int> shuffled = ascending, with_dups(N);
    std::mt19937 rng(12345);
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    std::uniform_int_distribution<int> small(0, 300); // random values with many repeats
    for (int &v : with_dups) {
        v = small(rng);
    }
    const std::pair<const char *, std::vector<int> *> cases[] = {{"ascending", &ascending},
                                                                 {"descending", &descending},
                                                                 {"zigzag", &zigzag},
                                                                 {"shuffled", &shuffled},
                                                                 {"duplicates", &with_dups}};
    for (const auto &[name, vals] : cases) {
        SCOPED_TRACE(name);
        AVLtreePtr t(AVLopen(cmp_int, nullptr));
        ASSERT_TRUE(t);
        std::set<int> model;
        for (int &v : *vals) {
            void *got = AVLinsert(t.get(), &v);
            ASSERT_NE(got, nullptr);
            // A fresh value returns the inserted item, a repeat the stored one.
            EXPECT_EQ(got == &v, model.insert(v).second) << v;
            EXPECT_EQ(*static_cast<int *>(got), v);
            // Checked at every step, so each rotation case is seen at once.
            ASSERT_EQ(verified(t.get()).size(), model.size()) << v;
            ASSERT_FALSE(testing::Test::HasFailure()) << v;
        }
        int height = 0;
        EXPECT_EQ(values(verified(t.get(), &height)), std::vector<int>(model.begin(), model.end()));
        // An AVL tree of n nodes is at most about 1.44 log2(n + 2) high.
        EXPECT_LE(height, static_cast<int>(1.4405 * std::log2(model.size() + 2.0)));
        for (int v : model) {
            void *r = AVLretrieve(t.get(), &v);
            ASSERT_NE(r, nullptr);
            EXPECT_EQ(*static_cast<int *>(r), v);
        }
        int absent = -7;
        EXPECT_EQ(AVLretrieve(t.get(), &absent), nullptr);
    }
}

TEST(Avl, DefaultOrderIsByPointerValue) {
    AVLtreePtr t(AVLopen(nullptr, nullptr));
    int cells[64];
    for (int i = 63; i >= 0; --i) {
        EXPECT_EQ(AVLinsert(t.get(), &cells[i]), &cells[i]);
    }
    std::vector<uintptr_t> seen;
    for (const void *p : verified(t.get())) {
        seen.push_back(reinterpret_cast<uintptr_t>(p));
    }
    ASSERT_EQ(seen.size(), 64u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(AVLretrieve(t.get(), &cells[17]), &cells[17]);
    // Without a destroy function a null item is an ordinary item.
    EXPECT_EQ(AVLinsert(t.get(), nullptr), nullptr);
    EXPECT_EQ(AVLretrieve(t.get(), nullptr), nullptr);
}

namespace {
std::vector<int> destroyed;
void record_destroy(void *item) {
    destroyed.push_back(*static_cast<int *>(item));
}
} // namespace

TEST(Avl, CloseDestroysEveryItemOnceInPostOrder) {
    destroyed.clear();
    std::vector<int> vals(100);
    std::iota(vals.begin(), vals.end(), 0);
    AVLtree *t = AVLopen(cmp_int, record_destroy);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(AVLinsert(t, nullptr), nullptr); // an owning tree refuses a null item
    for (int &v : vals) {
        AVLinsert(t, &v);
    }
    int dup = 50;
    EXPECT_EQ(AVLinsert(t, &dup), &vals[50]); // the duplicate stays the caller's
    // The root must come last in a post-order walk.
    int root_value = *static_cast<int *>(t->root->item);
    AVLclose(t);
    ASSERT_EQ(destroyed.size(), vals.size());
    EXPECT_EQ(destroyed.back(), root_value);
    std::sort(destroyed.begin(), destroyed.end());
    EXPECT_EQ(destroyed, vals);
    AVLclose(nullptr); // harmless
}
