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

// Height of a subtree; checks every stored balance against the real heights
// and the AVL bound on the way, and collects the items in order.
int check(const AVLnode *n, std::vector<int> &inorder, int &bad) {
    if (n == nullptr) {
        return 0;
    }
    int hl = check(n->left.get(), inorder, bad);
    inorder.push_back(*static_cast<const int *>(n->item));
    int hr = check(n->right.get(), inorder, bad);
    if (hr - hl != n->balance || std::abs(hr - hl) > 1) {
        ++bad;
    }
    return 1 + std::max(hl, hr);
}

struct Verdict {
    std::vector<int> inorder;
    int bad = 0;
    int height = 0;
};

Verdict verify(const AVLtree *t) {
    Verdict v;
    v.height = check(t->root.get(), v.inorder, v.bad);
    return v;
}

} // namespace

TEST(Avl, BalancedUnderManyInsertionOrders) {
    constexpr int N = 2000;
    std::vector<int> ascending(N);
    std::iota(ascending.begin(), ascending.end(), 0);
    std::vector<int> descending(ascending.rbegin(), ascending.rend());
    std::vector<int> zigzag; // 0, N-1, 1, N-2, ... exercises the double rotations
    for (int i = 0; i < N / 2; ++i) {
        zigzag.push_back(i);
        zigzag.push_back(N - 1 - i);
    }
    std::vector<int> shuffled = ascending;
    std::mt19937 rng(12345);
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    std::vector<int> with_dups; // random values with many repeats
    std::uniform_int_distribution<int> small(0, 300);
    for (int i = 0; i < N; ++i) {
        with_dups.push_back(small(rng));
    }

    struct Case {
        const char *name;
        std::vector<int> *values;
    } cases[] = {{"ascending", &ascending},
                 {"descending", &descending},
                 {"zigzag", &zigzag},
                 {"shuffled", &shuffled},
                 {"duplicates", &with_dups}};
    for (const auto &c : cases) {
        AVLtreePtr t(AVLopen(cmp_int, nullptr));
        ASSERT_TRUE(t);
        std::set<int> model;
        for (int &v : *c.values) {
            void *got = AVLinsert(t.get(), &v);
            ASSERT_NE(got, nullptr) << c.name;
            bool fresh = model.insert(v).second;
            // A fresh value returns the inserted item, a repeat the stored one.
            EXPECT_EQ(got == &v, fresh) << c.name << " value " << v;
            EXPECT_EQ(*static_cast<int *>(got), v) << c.name;
        }
        Verdict vd = verify(t.get());
        EXPECT_EQ(vd.bad, 0) << c.name;
        EXPECT_EQ(vd.inorder, std::vector<int>(model.begin(), model.end())) << c.name;
        // An AVL tree of n nodes is at most about 1.44 log2(n + 2) high.
        double bound = 1.4405 * std::log2(static_cast<double>(model.size()) + 2.0);
        EXPECT_LE(vd.height, static_cast<int>(bound)) << c.name;
        for (int v : model) {
            void *r = AVLretrieve(t.get(), &v);
            ASSERT_NE(r, nullptr) << c.name;
            EXPECT_EQ(*static_cast<int *>(r), v);
        }
        int absent = -7;
        EXPECT_EQ(AVLretrieve(t.get(), &absent), nullptr) << c.name;
    }
}

TEST(Avl, InvariantsHoldAfterEveryInsertion) {
    // Small trees hit every rotation case; verify after each step, not just at the end.
    std::mt19937 rng(99);
    for (int round = 0; round < 200; ++round) {
        std::vector<int> vals(40);
        std::uniform_int_distribution<int> d(0, 60);
        for (int &v : vals) {
            v = d(rng);
        }
        AVLtreePtr t(AVLopen(cmp_int, nullptr));
        std::set<int> model;
        for (int &v : vals) {
            AVLinsert(t.get(), &v);
            model.insert(v);
            Verdict vd = verify(t.get());
            ASSERT_EQ(vd.bad, 0) << "round " << round;
            ASSERT_EQ(vd.inorder.size(), model.size());
        }
    }
}

TEST(Avl, DefaultOrderIsByPointerValue) {
    AVLtreePtr t(AVLopen(nullptr, nullptr));
    int cells[64];
    std::vector<int *> order;
    for (int i = 63; i >= 0; --i) {
        EXPECT_EQ(AVLinsert(t.get(), &cells[i]), &cells[i]);
    }
    // Collect in order and check the addresses ascend.
    std::vector<uintptr_t> seen;
    std::vector<const AVLnode *> stack;
    const AVLnode *n = t->root.get();
    while (n != nullptr || !stack.empty()) {
        while (n != nullptr) {
            stack.push_back(n);
            n = n->left.get();
        }
        n = stack.back();
        stack.pop_back();
        seen.push_back(reinterpret_cast<uintptr_t>(n->item));
        n = n->right.get();
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
    // An owning tree refuses a null item.
    EXPECT_EQ(AVLinsert(t, nullptr), nullptr);
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
    std::vector<int> sorted = destroyed;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, vals);
    AVLclose(nullptr); // harmless
}
