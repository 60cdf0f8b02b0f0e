// Scripts that grow without end, under a small memory cap: the thread that ran out fails,
// the memory comes back, and the machine goes on. Lengths and figures past 2 GiB.

#include <gtest/gtest.h>

#include <string>

#include "script/gc/gmMachineCollect.h"
#include "script/vm/gmMachine.h"

namespace {

class MemoryLimit : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.debugMode = true;
    machine.memoryCap = 4 << 20;
  }
  std::string NewLog() {
    std::string all;
    while (const char* e = machine.GetLog().Next(logSeen)) all += e;
    return all;
  }
  int Run(const char* a_text) { return machine.RunString(a_text, nullptr, true, "t.qv"); }
  gmint Int(const char* a_name) { return machine.GetGlobals()->GetByName(&machine, a_name).GetInt(); }

  gmMachine machine;
  long long logSeen = 0;
};

TEST_F(MemoryLimit, GrowthPastTheCapFailsOnlyTheRunningThread) {
  const char* growers[] = {
      "global t = table(); global i = 0; while (1) { t[i] = i; i = i + 1; }",
      "global s = \"x\"; while (1) { s = s + s; }",
      "global s = \"x\"; global i = 0; while (1) { s = format(\"%s%d\", s, i); i = i + 1; }",
      // Inside a text a native runs: only the innermost thread fails.
      "doString(\"global t = table(); global i = 0; while (1) { t[i] = table(); i = i + 1; }\"); global after = 1;",
  };
  for (const char* grower : growers) {
    SCOPED_TRACE(grower);
    ASSERT_EQ(Run(grower), 0);
    EXPECT_NE(NewLog().find("out of memory"), std::string::npos);
    EXPECT_LE(machine.GetCurrentMemoryUsage(), machine.memoryCap);
    ASSERT_EQ(Run("global t = null; global s = null; sysCollectGarbage(1); global ok = 41 + 1;"), 0);
    EXPECT_EQ(NewLog(), "");
    EXPECT_EQ(Int("ok"), 42);
    EXPECT_LT(machine.GetCurrentMemoryUsage(), 1 << 20);
  }
  EXPECT_EQ(Int("after"), 1);
  EXPECT_EQ(machine.nestedRuns, 0);
  EXPECT_TRUE(machine.IsGCEnabled());
}

TEST_F(MemoryLimit, JoinPastTheLongestStringIsAScriptError) {
  machine.maxStringLength = 1000;
  ASSERT_EQ(Run("global s = \"x\";\nwhile (1) { s = s + s; }"), 0);
  EXPECT_NE(NewLog().find("string too long\r\n\r\nt.qv(2) : while (1) { s = s + s; }"), std::string::npos);
  ASSERT_EQ(Run("global ok = 1;"), 0);
  EXPECT_EQ(Int("ok"), 1);
}

// Figures past 2 GiB: the usage reads as the largest int rather than a negative one,
// collections are not skipped, and the limits stay within an int. Negative limits from
// scripts are clamped to 0.
TEST_F(MemoryLimit, FiguresPastTwoGiB) {
  machine.memoryCap = 1LL << 40;
  machine.AdjustKnownMemoryUsed(0x7FFFFFFF);
  machine.AdjustKnownMemoryUsed(0x7FFFFFFF);
  ASSERT_EQ(Run("global u = sysGetMemoryUsage(); global full = sysCollectGarbage();"
                "global h = sysGetDesiredMemoryUsageHard(); global s = sysGetDesiredMemoryUsageSoft();"),
            0);
  EXPECT_EQ(Int("u"), 0x7FFFFFFF);
  EXPECT_EQ(Int("full"), 1);
  EXPECT_GT(Int("h"), 0);
  EXPECT_GT(Int("s"), 0);
  EXPECT_LE(Int("s"), Int("h"));

  int soft = 117964, hard = 131072, warnings = 0;
  gmAdjustMemoryLimits(6000000000LL, soft, hard, warnings);
  EXPECT_GT(hard, 0);
  EXPECT_GT(soft, 0);

  ASSERT_EQ(Run("sysSetDesiredMemoryUsageHard(-2000000000); sysSetDesiredMemoryUsageSoft(-5);"
                "global h = sysGetDesiredMemoryUsageHard(); global s = sysGetDesiredMemoryUsageSoft();"
                "sysCollectGarbage(); sysCollectGarbage(1);"),
            0);
  EXPECT_EQ(Int("h"), 0);
  EXPECT_EQ(Int("s"), 0);
  EXPECT_EQ(NewLog(), "");
}

}  // namespace
