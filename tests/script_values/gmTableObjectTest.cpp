// Tables: key identity, chain maintenance under insertion and deletion, the resize rule and
// iteration.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>

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
    gmTableNode* candidate = t->freeNode;
    t->Set(&machine, Int(c.removed), gmVariable::Null());
    EXPECT_EQ(t->Count(), 2);
    EXPECT_EQ(t->tableSize, 4);
    EXPECT_EQ(t->freeNode, candidate);
    EXPECT_TRUE(t->nodes[c.freedNode].key.IsNull());
    for (int k : {0, 4, 8}) {
      if (k == c.removed)
        EXPECT_TRUE(t->Get(Int(k)).IsNull());
      else
        EXPECT_EQ(t->Get(Int(k)).GetInt(), k + 100);
    }
    // A key whose main node is the freed node reuses it; the table does not grow.
    t->Set(&machine, Int(c.freedNode), Int(7));
    EXPECT_TRUE(t->nodes[c.freedNode].key.Same(Int(c.freedNode)));
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
