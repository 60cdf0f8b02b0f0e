// What the core and math libraries hand to the host rather than to scripts: the exact text
// given to the print callback, the wake time and state a stopping native leaves, and the
// globals and type methods each library registers.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/lib/gmMathLib.h"
#include "script/vm/gmMachine.h"

namespace {

std::vector<std::string> g_printed;

void CapturePrint(gmMachine*, const char* a_text) { g_printed.push_back(a_text); }

class CoreLibTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_printed.clear();
    m_savedPrint = gmMachine::s_printCallback;
    gmMachine::s_printCallback = CapturePrint;
  }
  void TearDown() override { gmMachine::s_printCallback = m_savedPrint; }

  // Runs the text at once and returns its thread, or null when the thread has ended.
  gmThread* Run(const char* a_text) {
    int id = 0;
    EXPECT_EQ(machine.RunString(a_text, &id), 0) << a_text;
    return machine.FindThread(id);
  }

  std::vector<std::string> Log() {
    std::vector<std::string> entries;
    bool first = true;
    while (const char* entry = machine.GetLog().GetEntry(first)) entries.push_back(entry);
    return entries;
  }

  gmMachine machine;

 private:
  gmPrintCallback m_savedPrint = nullptr;
};

TEST_F(CoreLibTest, PrintHandsOverOneTextWithASpaceAfterEachValue) {
  Run("print(1, `a`, null, 2.5, -0.0); print(); print(``);");
  ASSERT_EQ(g_printed.size(), 2u);
  EXPECT_EQ(g_printed[0], "1 a null 2.5 -0 ");
  EXPECT_EQ(g_printed[1], " ");
}

TEST_F(CoreLibTest, PrintShowsLongStringsWhole) {
  std::string text(3000, 'x');
  Run(("print(`" + text + "`, 1);").c_str());
  ASSERT_EQ(g_printed.size(), 1u);
  EXPECT_EQ(g_printed[0], text + " 1 ");
}

// The machine time is 0 and never advances here, so the wake time is the duration itself.
TEST_F(CoreLibTest, StoppingNativesLeaveTheThreadInTheirState) {
  struct Case {
    const char* text;
    int state;
    gmuint wakeTime;
  };
  const Case cases[] = {
      {"sleep(1.5); print(`resumed`);", gmThread::SLEEPING, 1500},
      {"sleep(2);", gmThread::SLEEPING, 2000},
      {"sleep(0.0019);", gmThread::SLEEPING, 1},
      {"sleep(`x`);", gmThread::SLEEPING, 0},
      {"yield(); print(`resumed`);", gmThread::RUNNING, 0},
      {"block(`a`, 1); print(`resumed`);", gmThread::BLOCKED, 0},
  };
  for (const Case& c : cases) {
    gmThread* thread = Run(c.text);
    ASSERT_NE(thread, nullptr) << c.text;
    EXPECT_EQ(thread->GetState(), c.state) << c.text;
    EXPECT_EQ(thread->wakeTime, c.wakeTime) << c.text;
  }
  EXPECT_TRUE(g_printed.empty());
  EXPECT_TRUE(Log().empty());
}

TEST_F(CoreLibTest, EndingNativesFreeTheThread) {
  for (const char* text : {"exit();", "threadKill();", "threadKill(threadId());", "threadKillAll(1);"}) {
    EXPECT_EQ(Run(text), nullptr) << text;
  }
  EXPECT_TRUE(Log().empty());
}

TEST_F(CoreLibTest, KillingAnotherThreadEndsItAtOnce) {
  int sleeper = 0;
  machine.RunString("sleep(1);", &sleeper);
  ASSERT_NE(machine.FindThread(sleeper), nullptr);
  Run(("threadKill(" + std::to_string(sleeper) + ");").c_str());
  EXPECT_EQ(machine.FindThread(sleeper), nullptr);
}

TEST_F(CoreLibTest, CoreLibraryIsFortyGlobalNatives) {
  const char* const names[] = {"gmVersion",
                               "typeId",
                               "typeName",
                               "typeRegisterOperator",
                               "typeRegisterVariable",
                               "sysCollectGarbage",
                               "sysGetMemoryUsage",
                               "sysSetDesiredMemoryUsageHard",
                               "sysSetDesiredMemoryUsageSoft",
                               "sysGetDesiredMemoryUsageHard",
                               "sysGetDesiredMemoryUsageSoft",
                               "sysSetDesiredMemoryUsageAuto",
                               "sysGetStatsGCNumFullCollects",
                               "sysGetStatsGCNumIncCollects",
                               "sysGetStatsGCNumWarnings",
                               "sysIsGCRunning",
                               "sysTime",
                               "doString",
                               "globals",
                               "threadTime",
                               "threadId",
                               "threadAllIds",
                               "threadKill",
                               "threadKillAll",
                               "thread",
                               "yield",
                               "exit",
                               "assert",
                               "sleep",
                               "signal",
                               "block",
                               "stateSet",
                               "stateSetOnThread",
                               "stateGet",
                               "stateGetLast",
                               "stateSetExitFunction",
                               "tableCount",
                               "tableDuplicate",
                               "print",
                               "format"};
  for (const char* name : names) {
    gmVariable value = machine.GetGlobals()->GetByName(&machine, name);
    ASSERT_TRUE(value.IsFunction()) << name;
    EXPECT_TRUE(value.GetFunctionObject()->IsNative()) << name;
  }
  // Nothing of the math library without the host's registration.
  EXPECT_TRUE(machine.GetGlobals()->GetByName(&machine, "sqrt").IsNull());
}

TEST_F(CoreLibTest, MathLibraryAddsGlobalsAndNumberMethods) {
  gmBindMathLib(&machine);
  int functions = 0;
  gmint cursor = -2;
  while (gmTableNode* node = machine.GetGlobals()->Next(cursor)) functions += node->value.IsFunction();
  EXPECT_EQ(functions, 40 + 22);
  for (const char* method : {"String", "Float", "Int"}) {
    EXPECT_TRUE(machine.GetTypeVariables(GM_INT)->GetByName(&machine, method).IsFunction()) << method;
    EXPECT_TRUE(machine.GetTypeVariables(GM_FLOAT)->GetByName(&machine, method).IsFunction()) << method;
    EXPECT_TRUE(machine.GetTypeVariables(GM_STRING)->GetByName(&machine, method).IsNull()) << method;
  }
}

TEST_F(CoreLibTest, MemoryUsageIsTheMachinesFigure) {
  // b exists before it is read into, so storing the reading allocates nothing.
  Run("global b = 0; b = sysGetMemoryUsage();");
  EXPECT_EQ(machine.GetGlobals()->GetByName(&machine, "b").GetInt(), machine.GetCurrentMemoryUsage());
}

}  // namespace
