// Tables: key identity, chain maintenance under insertion and deletion, the resize rule and
// iteration.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "script/vm/gmMachine.h"

namespace {

gmVariable Int(int i) { return gmVariable(static_cast<gmint>(i)); }
gmVariable Float(float f) { return gmVariable(static_cast<gmfloat>(f)); }

class TableTest : public ::testing::Test {
 protected:
  gmMachine machine;
  gmTableObject* table = machine.MakeTable();

  void Set(const gmVariable& k, const gmVariable& v) { table->Set(&machine, k, v); }
  gmVariable Str(const char* text) { return gmVariable(machine.MakeString(text)); }
};

TEST_F(TableTest, NullKeyStoresNothingAndReadsNull) {
  EXPECT_TRUE(table->Get(gmVariable::Null()).IsNull());  // no nodes yet
  Set(gmVariable::Null(), Int(5));
  // The first store allocates the nodes even though it stores nothing.
  EXPECT_EQ(table->tableSize, 4);
  EXPECT_EQ(table->Count(), 0);
  EXPECT_TRUE(table->Get(gmVariable::Null()).IsNull());
  gmint cursor = -2;
  EXPECT_EQ(table->Next(cursor), nullptr);
  EXPECT_EQ(cursor, -1);
}

TEST_F(TableTest, KeysDifferByTypeAndPayload) {
  Set(Int(1), Str("int one"));
  Set(Float(1.0f), Str("float one"));
  Set(Float(0.0f), Str("zero"));
  Set(Float(-0.0f), Str("minus zero"));
  Set(Str("1"), Str("text one"));
  EXPECT_EQ(table->Count(), 5);
  EXPECT_STREQ(table->Get(Int(1)).GetStringObject()->GetString(), "int one");
  EXPECT_STREQ(table->Get(Float(1.0f)).GetStringObject()->GetString(), "float one");
  EXPECT_STREQ(table->Get(Float(0.0f)).GetStringObject()->GetString(), "zero");
  EXPECT_STREQ(table->Get(Float(-0.0f)).GetStringObject()->GetString(), "minus zero");
  EXPECT_STREQ(table->Get(Str("1")).GetStringObject()->GetString(), "text one");
  EXPECT_TRUE(table->Get(Int(0)).IsNull());
}

TEST_F(TableTest, DeletingFromAChainKeepsTheOtherKeysAndFreesItsNode) {
  // In 4 nodes 0, 4 and 8 share main node 0: the chain is 0 (node 0) -> 8 (node 2) -> 4 (node 3).
  struct Case {
    int removed;
    int freedNode;
  };
  // middle; head with a successor (the successor moves into the head); last
  for (Case c : {Case{8, 2}, Case{0, 2}, Case{4, 3}}) {
    SCOPED_TRACE(c.removed);
    gmTableObject* t = machine.MakeTable();
    for (int k : {0, 4, 8}) t->Set(&machine, Int(k), Int(k + 100));
    ASSERT_EQ(t->tableSize, 4);
    gmint candidate = t->freeIndex;
    t->Set(&machine, Int(c.removed), gmVariable::Null());
    EXPECT_EQ(t->Count(), 2);
    EXPECT_EQ(t->tableSize, 4);
    EXPECT_EQ(t->freeIndex, candidate);
    EXPECT_TRUE(t->KeyAt(c.freedNode).IsNull());
    for (int k : {0, 4, 8}) {
      if (k == c.removed)
        EXPECT_TRUE(t->Get(Int(k)).IsNull());
      else
        EXPECT_EQ(t->Get(Int(k)).GetInt(), k + 100);
    }
    // A key whose main node is the freed node reuses it; the table does not grow.
    t->Set(&machine, Int(c.freedNode), Int(7));
    EXPECT_TRUE(t->KeyAt(c.freedNode).Same(Int(c.freedNode)));
    EXPECT_EQ(t->tableSize, 4);
    EXPECT_EQ(t->Count(), 3);
    // Deleting an absent key changes nothing.
    t->Set(&machine, Int(99), gmVariable::Null());
    EXPECT_EQ(t->Count(), 3);
  }
}

TEST_F(TableTest, ShrinksOnlyWhenTheCandidateSearchReachesTheFirstNode) {
  // Keys 0..31 grow the table to 64 nodes; int keys sit in their own main nodes.
  for (int k = 0; k < 32; ++k) Set(Int(k), Int(k));
  ASSERT_EQ(table->tableSize, 64);
  for (int k = 1; k < 32; ++k) Set(Int(k), gmVariable::Null());
  EXPECT_EQ(table->tableSize, 64);
  EXPECT_EQ(table->Count(), 1);
  // Each insert-and-delete of the key at the candidate moves the candidate down one node;
  // deletion never moves it back, so the nodes stay until it reaches node 0.
  for (int k = 63; k >= 2; --k) {
    Set(Int(k), Int(k));
    Set(Int(k), gmVariable::Null());
    ASSERT_EQ(table->tableSize, 64) << k;
  }
  Set(Int(1), Int(1));  // the candidate search reaches node 0 with 2 pairs in use
  EXPECT_EQ(table->tableSize, 32);
  EXPECT_EQ(table->Count(), 2);
  EXPECT_EQ(table->Get(Int(0)).GetInt(), 0);
  EXPECT_EQ(table->Get(Int(1)).GetInt(), 1);
}

TEST_F(TableTest, MatchesAMapUnderRandomInsertsAndDeletes) {
  // Mixed keys that collide a lot: small ints, floats, strings and tables.
  std::vector<gmVariable> keys;
  for (int i = 0; i < 40; ++i) keys.push_back(Int(i * 8));
  for (int i = 0; i < 20; ++i) keys.push_back(Float(static_cast<float>(i) * 0.5f));
  for (int i = 0; i < 20; ++i) keys.push_back(Str(("k" + std::to_string(i)).c_str()));
  for (int i = 0; i < 10; ++i) keys.push_back(gmVariable(machine.MakeTable()));
  std::map<size_t, int> model;
  std::mt19937 rng(1234);
  for (int step = 0; step < 20000; ++step) {
    size_t k = rng() % keys.size();
    if (rng() % 3 == 0) {
      table->Set(&machine, keys[k], gmVariable::Null());
      model.erase(k);
    } else {
      int v = static_cast<int>(rng() % 1000) + 1;
      table->Set(&machine, keys[k], Int(v));
      model[k] = v;
    }
    if (step % 97 == 0 || step == 19999) {
      ASSERT_EQ(table->Count(), static_cast<gmint>(model.size())) << step;
      for (size_t i = 0; i < keys.size(); ++i) {
        auto it = model.find(i);
        gmVariable got = table->Get(keys[i]);
        if (it == model.end())
          ASSERT_TRUE(got.IsNull()) << step << " key " << i;
        else
          ASSERT_EQ(got.GetInt(), it->second) << step << " key " << i;
      }
    }
  }
}

// The node table as first written, every node holding key, value and link: whatever a table
// stores per node, its pairs, their positions and its free candidate must be these.
class PlainTable {
 public:
  struct Node {
    gmVariable key = gmVariable::Null();
    gmVariable value = gmVariable::Null();
    int next = -1;
  };
  std::vector<Node> nodes;
  int candidate = 0;
  int used = 0;

  void Set(const gmVariable& k, const gmVariable& v) {
    if (nodes.empty()) Alloc(4);
    if (k.IsNull()) return;
    int prev = -1;
    for (int n = Main(k); n >= 0; prev = n, n = nodes[n].next) {
      if (!nodes[n].key.Same(k)) continue;
      if (!v.IsNull()) {
        nodes[n].value = v;
      } else {
        if (prev >= 0) {
          nodes[prev].next = nodes[n].next;
          nodes[n] = Node();
        } else if (nodes[n].next >= 0) {
          int second = nodes[n].next;
          nodes[n] = nodes[second];
          nodes[second] = Node();
        } else {
          nodes[n] = Node();
        }
        --used;
      }
      return;
    }
    if (!v.IsNull()) Insert(k, v);
  }
  PlainTable Duplicate() const {
    PlainTable copy;
    if (nodes.empty()) return copy;
    copy.Alloc(static_cast<int>(nodes.size()));
    for (const Node& n : nodes)
      if (!n.key.IsNull()) copy.Insert(n.key, n.value);
    return copy;
  }

 private:
  int Main(const gmVariable& k) const { return static_cast<int>(k.KeyHash() & (nodes.size() - 1)); }
  void Alloc(int a_size) {
    nodes.assign(a_size, Node());
    candidate = a_size - 1;
    used = 0;
  }
  void Insert(const gmVariable& k, const gmVariable& v) {
    int m = Main(k);
    if (!nodes[m].key.IsNull()) {
      int other = Main(nodes[m].key);
      if (other != m) {
        while (nodes[other].next != m) other = nodes[other].next;
        nodes[other].next = candidate;
        nodes[candidate] = nodes[m];
        nodes[m].next = -1;
      } else {
        nodes[candidate].next = nodes[m].next;
        nodes[m].next = candidate;
        m = candidate;
      }
    }
    nodes[m].key = k;
    nodes[m].value = v;
    ++used;
    for (;;) {
      if (nodes[candidate].key.IsNull()) return;
      if (candidate == 0) break;
      --candidate;
    }
    int size = static_cast<int>(nodes.size());
    int newSize = size;
    if (used >= size - size / 4) {
      newSize = size * 2;
    } else if (used <= size / 4 && size > 4) {
      newSize = size / 2;
    } else {
      for (int i = size - 1; i >= 0; --i) {
        if (nodes[i].key.IsNull()) {
          candidate = i;
          return;
        }
      }
    }
    std::vector<Node> old;
    old.swap(nodes);
    Alloc(newSize);
    for (const Node& n : old)
      if (!n.key.IsNull()) Insert(n.key, n.value);
  }
};

// Same size, count, candidate and pairs at the same positions, by inspection and by Next.
void ExpectSameLayout(const gmTableObject* a_table, const PlainTable& a_plain, int a_step) {
  ASSERT_EQ(a_table->tableSize, static_cast<gmint>(a_plain.nodes.size())) << a_step;
  ASSERT_EQ(a_table->Count(), a_plain.used) << a_step;
  if (a_plain.nodes.empty()) return;
  ASSERT_EQ(a_table->freeIndex, a_plain.candidate) << a_step;
  gmint cursor = -2;
  for (size_t i = 0; i < a_plain.nodes.size(); ++i) {
    const PlainTable::Node& n = a_plain.nodes[i];
    ASSERT_TRUE(a_table->KeyAt(static_cast<gmint>(i)).Same(n.key)) << a_step << " node " << i;
    if (n.key.IsNull()) continue;
    const gmTableNode* got = a_table->Next(cursor);
    ASSERT_NE(got, nullptr) << a_step;
    ASSERT_EQ(cursor, static_cast<gmint>(i) + 1) << a_step;
    ASSERT_TRUE(got->key.Same(n.key) && got->value.Same(n.value)) << a_step << " node " << i;
    ASSERT_TRUE(a_table->Get(n.key).Same(n.value)) << a_step << " node " << i;
  }
  ASSERT_EQ(a_table->Next(cursor), nullptr) << a_step;
}

TEST_F(TableTest, KeepsThePositionsOfThePlainNodeTable) {
  // Dense ints (held without keys while they fit), ints beyond the size and below zero that
  // force keys back in, and keys of other types, with enough deletion to shrink tables.
  std::vector<gmVariable> ints, mixed, values;
  for (int i = 0; i < 300; ++i) ints.push_back(Int(i));
  for (int i = -6; i < 70; ++i) mixed.push_back(Int(i));
  for (int i = 0; i < 8; ++i) mixed.push_back(Str(("k" + std::to_string(i)).c_str()));
  for (int i = 0; i < 4; ++i) mixed.push_back(Float(static_cast<float>(i)));
  mixed.push_back(gmVariable(machine.MakeTable()));
  for (int i = 0; i < 5; ++i) values.push_back(Int(i + 1));
  values.push_back(Str("v"));
  struct Phase {
    const std::vector<gmVariable>* keys;
    size_t range;       // keys drawn from the first range keys
    int deleteInEight;  // chance of a deletion
    int steps;
  };
  const Phase phases[] = {{&ints, 300, 1, 3000}, {&ints, 256, 6, 3000}, {&ints, 64, 2, 2000},
                          {&mixed, 76, 3, 3000}, {&mixed, 89, 3, 4000}, {&ints, 300, 7, 3000}};
  std::mt19937 rng(2024);
  for (int seed = 0; seed < 3; ++seed) {
    gmTableObject* t = machine.MakeTable();
    PlainTable plain;
    int step = 0;
    for (const Phase& phase : phases) {
      for (int i = 0; i < phase.steps; ++i, ++step) {
        const gmVariable& k = (*phase.keys)[rng() % phase.range];
        gmVariable v =
            static_cast<int>(rng() % 8) < phase.deleteInEight ? gmVariable::Null() : values[rng() % values.size()];
        t->Set(&machine, k, v);
        plain.Set(k, v);
        ExpectSameLayout(t, plain, step);
        if (::testing::Test::HasFatalFailure()) return;
      }
      ExpectSameLayout(t->Duplicate(&machine), plain.Duplicate(), step);
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
}

TEST_F(TableTest, ArraysFromZeroStayCompactThroughGrowthAndTheirCopies) {
  for (int k = 0; k < 5000; ++k) Set(Int(k), Int(k * 2));
  EXPECT_TRUE(table->IsCompact());
  EXPECT_EQ(table->tableSize, 8192);
  EXPECT_TRUE(table->Duplicate(&machine)->IsCompact());
  // One key of another kind turns it explicit in place; the pairs stay where they were.
  Set(Str("name"), Int(-1));
  EXPECT_FALSE(table->IsCompact());
  EXPECT_TRUE(table->KeyAt(4999).Same(Int(4999)));
  EXPECT_EQ(table->Get(Int(4999)).GetInt(), 9998);
  EXPECT_EQ(table->Get(Str("name")).GetInt(), -1);
  // 7 does not fit 4 nodes; the growth to 8 that it causes holds every key in range again,
  // with the candidate below 7, where inserting pair by pair would have left it.
  gmTableObject* gap = machine.MakeTable();
  for (int k : {0, 1, 2, 7}) gap->Set(&machine, Int(k), Int(k));
  EXPECT_TRUE(gap->IsCompact());
  EXPECT_EQ(gap->tableSize, 8);
  EXPECT_EQ(gap->freeIndex, 6);
  // Arrays indexed from one keep their keys only while the top key wraps to node 0.
  gmTableObject* fromOne = machine.MakeTable();
  for (int k = 1; k <= 1000; ++k) fromOne->Set(&machine, Int(k), Int(k));
  EXPECT_TRUE(fromOne->IsCompact());
}

TEST_F(TableTest, IterationVisitsEachPairOnceInNodeOrder) {
  for (int k = 0; k < 10; ++k) Set(Int(k * 3), Int(k));
  Set(Str("x"), Int(-1));
  std::set<int> seen;
  int visits = 0;
  gmint cursor = -2;
  gmint last = -1;
  while (gmTableNode* n = table->Next(cursor)) {
    ++visits;
    EXPECT_GT(cursor, last);  // ascending node order
    last = cursor;
    if (n->key.IsInt()) seen.insert(n->key.GetInt());
  }
  EXPECT_EQ(cursor, -1);
  EXPECT_EQ(visits, 11);
  EXPECT_EQ(seen.size(), 10u);
  EXPECT_EQ(table->Next(cursor), nullptr);  // finished stays finished
}

TEST_F(TableTest, DuplicateByNameAndByText) {
  table->SetByName(&machine, "alpha", Int(1));
  table->SetByName(&machine, "beta", Int(2));
  Set(Int(7), Str("seven"));
  EXPECT_EQ(table->GetByName(&machine, "alpha").GetInt(), 1);
  EXPECT_TRUE(table->GetByName(&machine, "never interned").IsNull());
  EXPECT_EQ(machine.FindString("never interned"), nullptr);  // the lookup made no string
  EXPECT_EQ(table->FindByText("beta").GetInt(), 2);
  EXPECT_TRUE(table->FindByText("gamma").IsNull());

  gmTableObject* copy = table->Duplicate(&machine);
  EXPECT_NE(copy, table);
  EXPECT_EQ(copy->tableSize, table->tableSize);
  EXPECT_EQ(copy->Count(), 3);
  EXPECT_EQ(copy->GetByName(&machine, "beta").GetInt(), 2);
  EXPECT_STREQ(copy->Get(Int(7)).GetStringObject()->GetString(), "seven");
  copy->SetByName(&machine, "alpha", gmVariable::Null());
  EXPECT_EQ(table->GetByName(&machine, "alpha").GetInt(), 1);  // the copy is independent

  gmTableObject* empty = machine.MakeTable()->Duplicate(&machine);
  EXPECT_EQ(empty->tableSize, 0);
}

}  // namespace
