// When Collect steps, when it collects fully, how the limits follow the heap, and the
// statistics scripts read.

#include <gtest/gtest.h>

#include <string>

#include "script/gc/gmMachineCollect.h"
#include "script/vm/gmMachine.h"

namespace {

TEST(MemoryLimits, AdjustAfterAFullCollectionInSinglePrecision) {
  const struct {
    int usage, soft, hard;
    int newSoft, newHard;
  } cases[] = {
      // Above soft with the defaults: soft stays, hard is soft * 1.1111112 truncated.
      {200000, 117964, 131072, 117964, 131071},
      {1000000, 117964, 131072, 117964, 131071},
      // Above soft, soft rises to 90% of hard; 1000 * 0.9f rounds to exactly 900.
      {600, 500, 1000, 900, 1000},
      {1000000, 600000, 700000, 630000, 700000},
      // Between half of hard and soft: soft drops by a tenth of hard (0.79999393 * hard).
      {70000, 117964, 131072, 104856, 131072},
      {100000, 104856, 131072, 104856, 131072},  // soft * ... is not above the usage
      // Below half of hard: nothing changes.
      {50000, 117964, 131072, 117964, 131072},
      {0, 117964, 131072, 117964, 131072},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.usage << " " << c.soft << " " << c.hard);
    int soft = c.soft, hard = c.hard, warnings = 0;
    gmAdjustMemoryLimits(c.usage, soft, hard, warnings);
    EXPECT_EQ(soft, c.newSoft);
    EXPECT_EQ(hard, c.newHard);
    EXPECT_EQ(warnings, 0);
  }
}

class CollectPolicyTest : public ::testing::Test {
 protected:
  gmMachine machine;
  gmGarbageCollector* gc = machine.GetGC();

  // Grow a live heap (held by the globals) until the usage passes a_bytes, in steps of
  // about 300 bytes (long strings) so it does not overshoot by much.
  void GrowLiveHeapTo(int a_bytes) {
    gmTableObject* array = machine.MakeTable();
    machine.GetGlobals()->SetByName(&machine, "heap", gmVariable(array));
    for (gmint i = 0; machine.GetCurrentMemoryUsage() <= a_bytes; ++i) {
      std::string text = std::string(200, 'x') + std::to_string(i);
      array->Set(&machine, gmVariable(i), gmVariable(machine.MakeString(text.c_str())));
    }
  }
};

TEST_F(CollectPolicyTest, DefaultsAndAQuietHeap) {
  EXPECT_EQ(machine.desiredMemoryHard, 131072);
  EXPECT_EQ(machine.desiredMemorySoft, 117964);
  EXPECT_TRUE(machine.autoMemoryLimits);
  // Below the soft limit nothing starts.
  EXPECT_FALSE(machine.Collect());
  EXPECT_TRUE(gc->IsOff());
  EXPECT_EQ(machine.statIncCollects + machine.statFullCollects, 0);
}

TEST_F(CollectPolicyTest, NothingButCollectEverCollects) {
  // Far past the hard limit, allocation alone neither starts a cycle nor frees anything.
  int objects = gc->colorSet.CountObjects();
  for (int i = 0; i < 20000; ++i) machine.MakeTable();
  EXPECT_GT(machine.GetCurrentMemoryUsage(), 4 * machine.desiredMemoryHard);
  EXPECT_EQ(gc->colorSet.CountObjects(), objects + 20000);
  EXPECT_TRUE(gc->IsOff());
  EXPECT_EQ(machine.statFullCollects + machine.statIncCollects, 0);
}

TEST_F(CollectPolicyTest, DisabledCollectorDoesNothing) {
  machine.EnableGC(false);
  EXPECT_FALSE(machine.Collect(true));
  EXPECT_EQ(machine.statFullCollects, 0);
  EXPECT_EQ(machine.gcCallsSince, 0);
  machine.EnableGC(true);
  EXPECT_TRUE(machine.Collect(true));
}

TEST_F(CollectPolicyTest, AboveSoftStepsIncrementallyAndCountsCycles) {
  machine.autoMemoryLimits = false;
  GrowLiveHeapTo(20000);
  machine.desiredMemorySoft = 10000;
  machine.desiredMemoryHard = 1 << 30;

  EXPECT_FALSE(machine.Collect());  // starts a cycle and marks the roots
  EXPECT_FALSE(gc->IsOff());
  EXPECT_EQ(machine.gcCyclesStarted, 1);
  int calls = 1;
  while (machine.statIncCollects == 0) {
    EXPECT_FALSE(machine.Collect());
    ++calls;
  }
  EXPECT_TRUE(gc->IsOff());
  EXPECT_GT(calls, 2);  // the heap needs several steps
  // A second cycle completed within 100 calls counts a warning: the soft limit is too
  // close to the live heap.
  while (machine.statIncCollects == 1) machine.Collect();
  EXPECT_EQ(machine.statWarnings, 1);
  EXPECT_EQ(machine.gcCyclesStarted, 0);
  EXPECT_EQ(machine.gcCallsSince, 0);
  EXPECT_EQ(machine.statFullCollects, 0);
}

// A destruct callback that asks for a collection, as a native cleaning up after a script
// object might by running script code.
int s_nestedResults = 0;
void CollectOnDestruct(gmMachine* a_machine, gmUserObject*) {
  if (a_machine->Collect(true)) ++s_nestedResults;
}

TEST_F(CollectPolicyTest, ACollectionAskedForDuringOneIsRefused) {
  int type = machine.DefineType("cleanup");
  machine.SetTypeCallbacks(type, nullptr, CollectOnDestruct, nullptr);
  for (int i = 0; i < 3; ++i) machine.MakeUserObject(nullptr, type);
  gmTableObject* kept = machine.MakeTable();
  machine.GetGlobals()->SetByName(&machine, "kept", gmVariable(kept));
  s_nestedResults = 0;
  EXPECT_TRUE(machine.Collect(true));
  EXPECT_EQ(s_nestedResults, 0);
  EXPECT_EQ(machine.statFullCollects, 1);
  EXPECT_EQ(gc->colorSet.Where(kept), gmGCColorSet::SEQ_WHITE);  // intact, next cycle begun
  EXPECT_TRUE(machine.Collect(true));                            // and the guard is down again
}

TEST_F(CollectPolicyTest, SoftAboveHardIsClampedFirst) {
  machine.autoMemoryLimits = false;
  machine.desiredMemorySoft = 200000;
  machine.desiredMemoryHard = 150000;
  machine.Collect();
  EXPECT_EQ(machine.desiredMemorySoft, 150000);
}

TEST_F(CollectPolicyTest, AHeapAboveTheDefaultsKeepsCollectingFully) {
  GrowLiveHeapTo(200000);
  EXPECT_TRUE(machine.Collect());  // above hard: full, without being forced
  EXPECT_EQ(machine.desiredMemorySoft, 117964);
  EXPECT_EQ(machine.desiredMemoryHard, 131071);
  EXPECT_TRUE(machine.Collect());
  EXPECT_EQ(machine.statFullCollects, 2);
}

TEST_F(CollectPolicyTest, AHeapJustAboveHalfTheHardLimitLowersSoft) {
  GrowLiveHeapTo(70000);
  ASSERT_LT(machine.GetCurrentMemoryUsage(), 100000);
  EXPECT_TRUE(machine.Collect(true));
  EXPECT_EQ(machine.desiredMemorySoft, 104856);
  EXPECT_EQ(machine.desiredMemoryHard, 131072);
  // With automatic limits off a full collection leaves them alone.
  machine.autoMemoryLimits = false;
  machine.desiredMemorySoft = 117964;
  EXPECT_TRUE(machine.Collect(true));
  EXPECT_EQ(machine.desiredMemorySoft, 117964);
}

}  // namespace
