#include "scene/gPtrList.h"

#include <gtest/gtest.h>

#include "script/gmAssert.h"

#include <string>
#include <vector>

namespace {

int g_values[16];

void* P(int i) { return &g_values[i]; }

// The list's contents as indices into g_values, in slot order.
std::vector<int> Contents(const gPtrList& list) {
  std::vector<int> out;
  for (int i = 0; i < list.count; ++i) out.push_back(int(static_cast<int*>(list.items[i]) - g_values));
  return out;
}

gPtrList* Filled(gPtrList& list, int n) {
  for (int i = 0; i < n; ++i) list.Append(P(i));
  return &list;
}

TEST(gPtrList, CapacityStartsAtOneAndDoubles) {
  gPtrList list;
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(list.capacity, 1);
  EXPECT_EQ(list.cursor, -1);
  std::vector<int> capacities;
  for (int i = 0; i < 9; ++i) {
    list.Append(P(i));
    capacities.push_back(list.capacity);
  }
  EXPECT_EQ(capacities, (std::vector<int>{1, 2, 4, 4, 8, 8, 8, 8, 16}));
  EXPECT_EQ(Contents(list), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
  for (int i = list.count; i < list.capacity; ++i) EXPECT_EQ(list.items[i], nullptr);
}

TEST(gPtrList, RemoveMovesTheLastElementIntoTheSlot) {
  struct Case {
    int remove;
    bool found;
    std::vector<int> after;
  };
  const Case cases[] = {
      {0, true, {4, 1, 2, 3}},
      {2, true, {0, 1, 4, 3}},
      {4, true, {0, 1, 2, 3}},
      {9, false, {0, 1, 2, 3, 4}},
  };
  for (const Case& c : cases) {
    gPtrList list;
    Filled(list, 5);
    EXPECT_EQ(list.Remove(P(c.remove)), c.found) << c.remove;
    EXPECT_EQ(Contents(list), c.after) << c.remove;
    EXPECT_EQ(list.items[list.count], nullptr) << "vacated slot is cleared";
  }

  gPtrList twice;
  twice.Append(P(1));
  twice.Append(P(2));
  twice.Append(P(1));
  EXPECT_TRUE(twice.Remove(P(1)));
  EXPECT_EQ(Contents(twice), (std::vector<int>{1, 2})) << "only the first occurrence goes";
}

// A walk whose processing step may change the list; returns the visited elements.
template <class Step>
std::vector<int> Walk(gPtrList& list, Step step) {
  std::vector<int> visited;
  for (void* p = list.First(); p; p = list.Next()) {
    int v = int(static_cast<int*>(p) - g_values);
    visited.push_back(v);
    step(v);
  }
  return visited;
}

TEST(gPtrList, WalkAroundRemovalsAndAppends) {
  {
    gPtrList list;
    Filled(list, 5);
    // Element 1 removes itself: 4 moves into its slot and is skipped in this walk.
    std::vector<int> visited = Walk(list, [&](int v) {
      if (v == 1) list.Remove(P(1));
    });
    EXPECT_EQ(visited, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(Contents(list), (std::vector<int>{0, 4, 2, 3}));
  }
  {
    gPtrList list;
    Filled(list, 5);
    // Removing a later element leaves the cursor alone; the moved last one is still met.
    std::vector<int> visited = Walk(list, [&](int v) {
      if (v == 1) list.Remove(P(3));
    });
    EXPECT_EQ(visited, (std::vector<int>{0, 1, 2, 4}));
  }
  {
    gPtrList list;
    Filled(list, 5);
    // Removing an earlier element moves the last one behind the cursor: it is not met.
    std::vector<int> visited = Walk(list, [&](int v) {
      if (v == 2) list.Remove(P(0));
    });
    EXPECT_EQ(visited, (std::vector<int>{0, 1, 2, 3}));
  }
  {
    gPtrList list;
    Filled(list, 2);
    // Appends during the walk are visited in the same walk, across a growth of the array.
    std::vector<int> visited = Walk(list, [&](int v) {
      if (v < 5) list.Append(P(v + 2));
    });
    EXPECT_EQ(visited, (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
  }
  {
    gPtrList list;
    Filled(list, 3);
    // Emptying the list from inside the walk ends it.
    std::vector<int> visited = Walk(list, [&](int) {
      while (list.count) list.RemoveAt(0);
    });
    EXPECT_EQ(visited, (std::vector<int>{0}));
  }
  {
    gPtrList list;
    EXPECT_EQ(list.First(), nullptr);
    EXPECT_EQ(list.cursor, 0);
  }
}

// A broken invariant reaches the assert hook, which a test can catch instead of the abort.
struct BrokenInvariant {
  std::string text;
};

TEST(PtrList, RemoveAtAnUnlistedIndexIsAnInvariantBroken) {
#if defined(NDEBUG) && !defined(GM_ASSERTS)
  GTEST_SKIP() << "invariants are checked in builds without NDEBUG";
#else
  const gmAssertHook previous =
      gmSetAssertHook([](const char*, int, const char*, const char* a_text) { throw BrokenInvariant{a_text}; });
  gPtrList list;
  list.Append(P(1));
  try {
    list.RemoveAt(1);
    ADD_FAILURE() << "no assert";
  } catch (const BrokenInvariant& broken) {
    EXPECT_EQ(broken.text, "RemoveAt takes a listed index");
  }
  EXPECT_EQ(Contents(list), std::vector<int>{1});
  gmSetAssertHook(previous);
#endif
}

}  // namespace

// A remembered slot only saves the search: whether it is right, stale or nonsense, the list
// ends as Remove leaves it.
TEST(gPtrList, RemoveFromEndsAsRemoveWhateverTheSlot) {
  struct Case {
    int item, slot, at;
  } cases[] = {{2, 2, 2}, {2, 4, 2}, {2, -1, 2}, {2, 99, 2}, {4, 4, 4}, {0, 0, 0}, {9, 3, -1}};
  for (const Case& c : cases) {
    gPtrList seen, plain;
    Filled(seen, 5);
    Filled(plain, 5);
    EXPECT_EQ(seen.RemoveFrom(P(c.item), c.slot), c.at) << c.item << " at " << c.slot;
    plain.Remove(P(c.item));
    EXPECT_EQ(Contents(seen), Contents(plain)) << c.item << " at " << c.slot;
  }
}
