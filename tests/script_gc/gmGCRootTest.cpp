// Keep-alive handles for native code, and the thread-root hook the machine's threads use.

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "script/gc/gmGCRoot.h"
#include "script/gc/gmGarbageCollector.h"
#include "script/vm/gmMachine.h"

namespace {

class GCRootTest : public ::testing::Test {
 protected:
  gmMachine machine;
  gmGarbageCollector* gc = machine.GetGC();
  bool Alive(gmObject* a_obj) const { return gc->colorSet.Where(a_obj) != gmGCColorSet::SEQ_NONE; }
};

TEST_F(GCRootTest, AHandleKeepsItsValueUntilReleased) {
  gmTableObject* t = machine.MakeTable();
  t->Set(&machine, gmVariable(machine.MakeString("name")), gmVariable(machine.MakeString("value")));
  gmGCRoot root(&machine, gmVariable(t));
  EXPECT_EQ(gc->CountRoots(), 1);

  machine.Collect(true);
  ASSERT_TRUE(Alive(t));
  EXPECT_EQ(root.GetTable(), t);
  EXPECT_EQ(root.GetString(), nullptr);
  EXPECT_STREQ(t->GetByName(&machine, "name").GetStringObject()->text, "value");

  root.Release();
  EXPECT_TRUE(root.IsNull());
  EXPECT_EQ(gc->CountRoots(), 0);
  machine.Collect(true);
  EXPECT_FALSE(Alive(t));
  EXPECT_EQ(machine.FindString("value"), nullptr);
}

TEST_F(GCRootTest, CopiesAndMovesKeepEveryRootExactlyOnce) {
  std::vector<gmGCRoot> roots;
  std::vector<gmTableObject*> tables;
  for (int i = 0; i < 50; ++i) {  // growth moves the handles
    tables.push_back(machine.MakeTable());
    roots.emplace_back(&machine, gmVariable(tables.back()));
  }
  EXPECT_EQ(gc->CountRoots(), 50);
  gmGCRoot copy(roots[0]);
  gmGCRoot moved(std::move(roots[1]));
  EXPECT_TRUE(roots[1].IsNull());
  EXPECT_EQ(gc->CountRoots(), 51);
  roots[2] = roots[3];  // roots[2]'s table loses its only root
  roots[4] = std::move(roots[5]);
  EXPECT_EQ(gc->CountRoots(), 50);

  machine.Collect(true);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(Alive(tables[i]), i != 2 && i != 4) << i;
  roots.clear();
  EXPECT_EQ(gc->CountRoots(), 2);
  machine.Collect(true);
  EXPECT_TRUE(Alive(tables[0]));
  EXPECT_TRUE(Alive(tables[1]));
  EXPECT_FALSE(Alive(tables[3]));
}

TEST_F(GCRootTest, ChangingAHandleDuringACycleKeepsBothObjectsThroughIt) {
  gmTableObject* first = machine.MakeTable();
  gmGCRoot root(&machine, gmVariable(first));
  machine.Collect(true);
  gc->IncrementalStep(&machine);  // roots marked: first is gray
  gmTableObject* second = machine.MakeTable();
  root.Set(&machine, gmVariable(second));
  while (!gc->IncrementalStep(&machine)) {}
  EXPECT_TRUE(Alive(first));
  EXPECT_TRUE(Alive(second));
  machine.Collect(true);
  EXPECT_FALSE(Alive(first));
  EXPECT_TRUE(Alive(second));
  // Immediates are held too, and need no collector.
  root.Set(&machine, gmVariable(static_cast<gmint>(7)));
  EXPECT_EQ(root.Get().GetInt(), 7);
}

TEST(GCRootLifetime, AHandleThatOutlivesItsMachineIsEmptied) {
  gmGCRoot root;
  {
    gmMachine machine;
    root.Set(&machine, gmVariable(machine.MakeTable()));
    gmGCRoot other(&machine, gmVariable(machine.MakeString("x")));
    (void)other;
  }
  EXPECT_TRUE(root.IsNull());
  EXPECT_EQ(root.GetTable(), nullptr);
  root.Release();  // safe, and so is the destructor
}

// What the machine's thread machinery installs: values only a stack holds are roots.
std::vector<gmVariable>* s_fakeStack = nullptr;
int s_hookCalls = 0;
void MarkFakeStack(gmMachine*, gmGarbageCollector* a_gc) {
  ++s_hookCalls;
  for (const gmVariable& v : *s_fakeStack) gmMarkValue(a_gc, v);
}

TEST_F(GCRootTest, TheThreadRootHookMarksWhatOnlyStacksHold) {
  std::vector<gmVariable> stack = {gmVariable(machine.MakeTable()), gmVariable(static_cast<gmint>(3)),
                                   gmVariable(machine.MakeString("on the stack"))};
  s_fakeStack = &stack;
  s_hookCalls = 0;
  gc->threadRootCallback = MarkFakeStack;
  machine.Collect(true);
  EXPECT_EQ(s_hookCalls, 2);  // once per cycle that marked its roots
  EXPECT_TRUE(Alive(stack[0].GetObject()));
  EXPECT_TRUE(Alive(stack[2].GetObject()));
  gc->threadRootCallback = nullptr;
  machine.Collect(true);
  EXPECT_FALSE(Alive(stack[0].GetObject()));
  s_fakeStack = nullptr;
}

}  // namespace
