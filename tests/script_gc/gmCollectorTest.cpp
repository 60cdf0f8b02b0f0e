// The incremental cycle: what survives a cycle and what the next ones destroy, the step
// budgets, resumed traces, and the machine going away mid-cycle.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "script/gc/gmGCRoot.h"
#include "script/gc/gmGarbageCollector.h"
#include "script/vm/gmMachine.h"

namespace {

typedef gmGCColorSet::Sequence Seq;

class CollectorTest : public ::testing::Test {
 protected:
  gmMachine machine;
  gmGarbageCollector* gc = machine.GetGC();

  gmVariable Str(const char* a_text) { return gmVariable(machine.MakeString(a_text)); }
  static gmVariable Int(int a_value) { return gmVariable(static_cast<gmint>(a_value)); }
  void SetGlobal(const char* a_name, const gmVariable& a_value) {
    machine.GetGlobals()->SetByName(&machine, a_name, a_value);
  }
  Seq Where(gmObject* a_obj) const { return gc->colorSet.Where(a_obj); }
  bool Alive(gmObject* a_obj) const { return Where(a_obj) != gmGCColorSet::SEQ_NONE; }

  // Steps until the cycle in progress completes; returns the number of steps.
  int FinishCycle() {
    int steps = 1;
    while (!gc->IncrementalStep(&machine)) ++steps;
    return steps;
  }
  // Completes the cycle in progress, if any, then runs a whole one.
  void RunCycle() {
    if (!gc->IsOff()) FinishCycle();
    gc->StartCycle();
    FinishCycle();
  }
};

TEST_F(CollectorTest, FullCollectionDestroysTheUnreachableAndKeepsTheReachable) {
  gmTableObject* kept = machine.MakeTable();
  kept->Set(&machine, Str("name"), Str("kept value"));
  SetGlobal("kept", gmVariable(kept));
  gmTableObject* typeHeld = machine.MakeTable();
  machine.SetTypeVariable(GM_TABLE, "shared", gmVariable(typeHeld));
  gmTableObject* lost = machine.MakeTable();
  for (int i = 0; i < 20; ++i) lost->Set(&machine, Int(i), Str(("lost" + std::to_string(i)).c_str()));
  int before = machine.GetCurrentMemoryUsage();

  EXPECT_TRUE(machine.Collect(true));
  EXPECT_EQ(machine.statFullCollects, 1);

  EXPECT_FALSE(Alive(lost));
  EXPECT_EQ(machine.FindString("lost7"), nullptr);
  ASSERT_TRUE(Alive(kept));
  ASSERT_TRUE(Alive(typeHeld));
  EXPECT_STREQ(kept->Get(Str("name")).GetStringObject()->text, "kept value");
  // The table shell, its 32-node array (past 512 bytes: charged exactly) and 20 strings
  // with their 8-byte texts.
  EXPECT_EQ(before - machine.GetCurrentMemoryUsage(), 32 + 32 * static_cast<int>(sizeof(gmTableNode)) + 20 * (28 + 8));
  // A full collection leaves the next cycle started with its roots pending.
  EXPECT_FALSE(gc->IsOff());
  EXPECT_TRUE(gc->rootsPending);
}

TEST_F(CollectorTest, GarbageFoundByOneCycleIsDestroyedByTheNext) {
  gmTableObject* garbage = machine.MakeTable();
  RunCycle();  // not reached: stays white
  EXPECT_EQ(Where(garbage), gmGCColorSet::SEQ_WHITE);
  gc->StartCycle();  // white becomes free
  EXPECT_EQ(Where(garbage), gmGCColorSet::SEQ_FREE);
  FinishCycle();
  EXPECT_FALSE(Alive(garbage));
}

TEST_F(CollectorTest, AnObjectGrayedOutsideACycleIsNotLostByTheNextStart) {
  gmTableObject* t = machine.MakeTable();
  RunCycle();
  ASSERT_EQ(Where(t), gmGCColorSet::SEQ_WHITE);
  gmMarkValue(gc, gmVariable(t));  // e.g. a host marking from outside a cycle
  ASSERT_EQ(Where(t), gmGCColorSet::SEQ_GRAY);
  int objects = gc->colorSet.CountObjects();
  gc->StartCycle();
  EXPECT_EQ(gc->colorSet.CountObjects(), objects);
  EXPECT_EQ(Where(t), gmGCColorSet::SEQ_WHITE);
  machine.Collect(true);
  EXPECT_FALSE(Alive(t));
}

TEST_F(CollectorTest, AStringWaitingInFreeIsRevivedByInterning) {
  gmStringObject* s = machine.MakeString("revive me");
  RunCycle();
  gc->StartCycle();
  ASSERT_EQ(Where(s), gmGCColorSet::SEQ_FREE);
  // Free objects carry the new current colour, so the interning hit must move it anyway.
  EXPECT_TRUE(gc->IsMarked(s));

  EXPECT_EQ(machine.MakeString("revive me"), s);
  EXPECT_EQ(Where(s), gmGCColorSet::SEQ_BLACK);
  SetGlobal("s", gmVariable(s));
  FinishCycle();
  machine.Collect(true);
  ASSERT_TRUE(Alive(s));
  EXPECT_STREQ(s->text, "revive me");
}

TEST_F(CollectorTest, AnEntryRemovedDuringACycleSurvivesThatCycle) {
  // With the barrier the removed object is grayed and survives; without it (what a store
  // that skipped the barrier would do) it is left white for the next cycle to free.
  for (bool barrier : {true, false}) {
    SCOPED_TRACE(barrier);
    gmTableObject* holder = machine.MakeTable();
    gmTableObject* old = machine.MakeTable();
    holder->Set(&machine, Str("x"), gmVariable(old));
    SetGlobal("holder", gmVariable(holder));
    // Make both old objects white: a cycle completes, then the next one starts.
    RunCycle();
    gc->StartCycle();
    gc->IncrementalStep(&machine);  // roots: the globals are gray, holder still white
    ASSERT_EQ(Where(old), gmGCColorSet::SEQ_WHITE);

    holder->Set(&machine, Str("x"), gmVariable(machine.MakeTable()), !barrier);
    FinishCycle();
    EXPECT_EQ(Where(old), barrier ? gmGCColorSet::SEQ_BLACK : gmGCColorSet::SEQ_WHITE);
    machine.Collect(true);
    EXPECT_FALSE(Alive(old));
  }
}

TEST_F(CollectorTest, ObjectsCreatedBetweenStepsSurviveTheirCycle) {
  gmTableObject* array = machine.MakeTable();
  for (int i = 0; i < 2000; ++i) array->Set(&machine, Int(i), gmVariable(machine.MakeTable()));
  SetGlobal("array", gmVariable(array));
  machine.Collect(true);

  gc->IncrementalStep(&machine);  // roots
  gc->IncrementalStep(&machine);  // traces the array: every element gray
  gc->IncrementalStep(&machine);  // the last 200 elements, the last first
  ASSERT_EQ(Where(array->Get(Int(1999)).GetObject()), gmGCColorSet::SEQ_BLACK);
  std::vector<gmTableObject*> unreferenced;
  gmTableObject* stored = nullptr;
  for (int step = 0; step < 5; ++step) {
    unreferenced.push_back(machine.MakeTable());
    // Into an element that is already black.
    stored = machine.MakeTable();
    array->Get(Int(1999)).GetTableObject()->Set(&machine, Str("late"), gmVariable(stored));
    ASSERT_FALSE(gc->IncrementalStep(&machine));
  }
  FinishCycle();
  for (gmTableObject* t : unreferenced) EXPECT_TRUE(Alive(t));
  EXPECT_EQ(Where(stored), gmGCColorSet::SEQ_BLACK);

  machine.Collect(true);
  for (gmTableObject* t : unreferenced) EXPECT_FALSE(Alive(t));
  EXPECT_TRUE(Alive(stored));
}

// A full collection leaves the next cycle waiting for its roots. An object held only by a
// local, moved into a table made in that gap and then dropped from the stack, is reached only
// through the new table: the table must be traced when the roots are, or the object is freed
// while the table still holds it.
TEST_F(CollectorTest, ObjectsMadeBeforeTheRootsAreMarkedAreTraced) {
  for (bool stepped : {false, true}) {
    SCOPED_TRACE(stepped);
    gmThread* thread = machine.NewThread();
    thread->PushNull();
    gmTableObject* held = machine.MakeTable();
    held->Set(&machine, Str("v"), Int(7));
    thread->GetBottom()[0] = gmVariable(held);
    machine.Collect(true);
    ASSERT_TRUE(gc->rootsPending);

    gmTableObject* fresh = machine.MakeTable();
    SetGlobal("fresh", gmVariable(fresh));
    fresh->Set(&machine, Str("held"), gmVariable(held));
    thread->GetBottom()[0] = gmVariable::Null();
    if (stepped) {
      RunCycle();
      RunCycle();
    } else {
      machine.Collect(true);
      machine.Collect(true);
    }
    ASSERT_TRUE(Alive(held));
    EXPECT_EQ(fresh->Get(Str("held")).GetObject(), held);
    EXPECT_EQ(held->Get(Str("v")).GetInt(), 7);
    SetGlobal("fresh", gmVariable::Null());
  }
}

TEST_F(CollectorTest, StepsKeepToTheirBudgets) {
  const int kTables = 3000;
  gmTableObject* array = machine.MakeTable();
  for (int i = 0; i < kTables; ++i) array->Set(&machine, Int(i), gmVariable(machine.MakeTable()));
  SetGlobal("array", gmVariable(array));
  machine.Collect(true);

  // Tracing: each empty table is one unit, so a step blackens at most 200 of them.
  gc->IncrementalStep(&machine);  // roots
  gc->IncrementalStep(&machine);  // the globals, a type table or two, the array (3001 units)
  int blackBefore = gc->colorSet.CountIn(gmGCColorSet::SEQ_BLACK);
  int traced = 0;
  while (gc->colorSet.CountIn(gmGCColorSet::SEQ_GRAY) > 0) {
    gc->IncrementalStep(&machine);
    int black = gc->colorSet.CountIn(gmGCColorSet::SEQ_BLACK);
    EXPECT_LE(black - blackBefore, gc->workPerStep);
    traced += black - blackBefore;
    blackBefore = black;
  }
  EXPECT_GE(traced, kTables - gc->workPerStep);

  // Sweeping: the next cycle destroys what this one left white, 200 objects per step.
  for (int i = 0; i < kTables; ++i) array->Set(&machine, Int(i), gmVariable::Null());
  RunCycle();
  gc->StartCycle();
  int freeBefore = gc->colorSet.CountIn(gmGCColorSet::SEQ_FREE);
  ASSERT_EQ(freeBefore, kTables);
  int sweepSteps = 0;
  for (bool done = false; !done;) {
    done = gc->IncrementalStep(&machine);
    int free = gc->colorSet.CountIn(gmGCColorSet::SEQ_FREE);
    EXPECT_LE(freeBefore - free, gc->freePerStep);
    if (free < freeBefore) ++sweepSteps;
    freeBefore = free;
  }
  EXPECT_EQ(freeBefore, 0);
  EXPECT_EQ(sweepSteps, kTables / gc->freePerStep);
}

// A table larger than one trace chunk is traced over several steps. Pairs that move inside
// it meanwhile (a deletion pulls the next node of a chain into the main node, growing
// rebuilds it) must still be marked, even when they move among the nodes already traced.
TEST_F(CollectorTest, ALargeTableTracedInPartsKeepsThePairsThatMove) {
  // Keys 4i and 4i + 32768 share a main node: the later one borrows a high free node.
  const int kKeys = 20000;
  gmTableObject* big = machine.MakeTable();
  for (int i = 0; i < kKeys; ++i) big->Set(&machine, Int(4 * i), gmVariable(machine.MakeTable()));
  SetGlobal("big", gmVariable(big));
  ASSERT_GT(big->tableSize, 2 * gmTableObject::TRACE_CHUNK_NODES);
  machine.Collect(true);

  gc->IncrementalStep(&machine);  // roots
  int steps = 0;
  while (!(gc->currentObject == big && !gc->currentDone) && steps < 100) {
    gc->IncrementalStep(&machine);
    ++steps;
  }
  ASSERT_EQ(gc->currentObject, big);
  ASSERT_LT(gc->traceCursor, big->tableSize / 2);
  // One step traced one chunk, not the table.
  EXPECT_LT(gc->colorSet.CountIn(gmGCColorSet::SEQ_GRAY), gmTableObject::TRACE_CHUNK_NODES + 16);

  // Deleting 4i for small i pulls 4i + 32768 from a high node into node 4i, already traced.
  for (int i = 0; i < 1000; ++i) big->Set(&machine, Int(4 * i), gmVariable::Null());
  gc->IncrementalStep(&machine);
  // New keys that share main nodes with old ones take free nodes until the table grows,
  // while its trace is still pending.
  bool pendingAtGrowth = false;
  for (int i = 0; i < 40000 && !pendingAtGrowth; ++i) {
    gmint size = big->tableSize;
    bool pending = gc->currentObject == big && !gc->currentDone;
    big->Set(&machine, Int(4 * i + 65536), gmVariable(machine.MakeTable()));
    pendingAtGrowth = pending && big->tableSize != size;
    if (i % 4000 == 0 && !pendingAtGrowth) gc->IncrementalStep(&machine);
  }
  EXPECT_TRUE(pendingAtGrowth);

  FinishCycle();
  RunCycle();
  RunCycle();
  std::set<gmGCObjBase*> live;
  gc->colorSet.ForEachObject([&live](gmGCObjBase* a_obj) { live.insert(a_obj); });
  int checked = 0;
  gmint cursor = -2;
  while (gmTableNode* node = big->Next(cursor)) {
    ASSERT_TRUE(live.count(node->value.GetObject())) << "key " << node->key.GetInt();
    ++checked;
  }
  EXPECT_GT(checked, kKeys);
  SetGlobal("big", gmVariable::Null());
}

// A native type whose trace marks one value per call and asks to be resumed.
struct TwoValues {
  gmVariable values[2];
  int traced = 0;
  int calls = 0;
};

bool TraceOneAtATime(gmMachine*, gmUserObject* a_object, gmGarbageCollector* a_gc, int, int& a_workDone) {
  TwoValues* data = static_cast<TwoValues*>(a_object->user);
  ++data->calls;
  gmMarkValue(a_gc, data->values[data->traced++]);
  ++a_workDone;
  if (data->traced < 2) return false;
  data->traced = 0;
  return true;
}

TEST_F(CollectorTest, AnUnfinishedTraceResumesInTheNextStep) {
  int type = machine.DefineType("two");
  machine.SetTypeCallbacks(type, TraceOneAtATime, nullptr, nullptr);
  TwoValues data;
  data.values[0] = gmVariable(machine.MakeTable());
  data.values[1] = gmVariable(machine.MakeTable());
  SetGlobal("two", gmVariable(machine.MakeUserObject(&data, type)));

  machine.Collect(true);
  EXPECT_TRUE(Alive(data.values[0].GetObject()));
  EXPECT_TRUE(Alive(data.values[1].GetObject()));
  EXPECT_TRUE(gc->currentDone);
  EXPECT_EQ(gc->currentObject, nullptr);
  EXPECT_EQ(data.calls, 4);  // two calls in each of the two traced cycles
}

TEST(CollectorLifetime, DestroyingTheMachineMidCycleFreesEverything) {
  // The sanitizer build catches a leak or a double destruction.
  gmMachine* machine = new gmMachine();
  gmGarbageCollector* gc = machine->GetGC();
  gmTableObject* t = machine->MakeTable();
  machine->GetGlobals()->SetByName(machine, "t", gmVariable(t));
  for (int i = 0; i < 500; ++i) {
    t->Set(machine, gmVariable(static_cast<gmint>(i)), gmVariable(machine->MakeTable()));
    machine->MakeTable();
  }
  gc->StartCycle();
  while (!gc->IncrementalStep(machine)) {}
  // Free holds the unreferenced tables, gray the referenced ones, when the machine goes.
  gc->StartCycle();
  gc->IncrementalStep(machine);
  gc->IncrementalStep(machine);
  ASSERT_GT(gc->colorSet.CountIn(gmGCColorSet::SEQ_FREE), 0);
  ASSERT_GT(gc->colorSet.CountIn(gmGCColorSet::SEQ_GRAY), 0);
  delete machine;
}

}  // namespace
