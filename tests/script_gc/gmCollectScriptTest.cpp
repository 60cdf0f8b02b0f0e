// Collections asked for by running scripts: what a script's locals, its callers' frames,
// other threads and the globals hold survives; what nothing holds goes.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "script/vm/gmMachine.h"

namespace {

std::string s_out;

// collect(force): Collect as sysCollectGarbage runs it, 1 when it collected fully.
int CollectNative(gmThread* a_thread) {
  a_thread->PushInt(a_thread->GetMachine()->Collect(a_thread->ParamInt(0, 0) != 0) ? 1 : 0);
  return GM_NATIVE_OK;
}
int UsageNative(gmThread* a_thread) {
  a_thread->PushInt(a_thread->GetMachine()->GetCurrentMemoryUsage());
  return GM_NATIVE_OK;
}
int YieldNative(gmThread*) { return GM_NATIVE_YIELD; }
int SleepNative(gmThread* a_thread) {
  a_thread->wakeTime = 100;
  return GM_NATIVE_SLEEP;
}
int BlockNative(gmThread*) { return GM_NATIVE_BLOCK; }
int OutNative(gmThread* a_thread) {
  char buffer[256];
  for (int i = 0; i < a_thread->GetNumParams(); ++i) {
    if (i) s_out += " ";
    s_out += a_thread->GetMachine()->ValueToText(a_thread->Param(i), buffer, sizeof(buffer));
  }
  s_out += "\n";
  return GM_NATIVE_OK;
}

class CollectScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    s_out.clear();
    static const gmFunctionEntry entries[] = {{"collect", CollectNative, 0}, {"usage", UsageNative, 0},
                                              {"yieldNow", YieldNative, 0},  {"sleepNow", SleepNative, 0},
                                              {"blockNow", BlockNative, 0},  {"out", OutNative, 0}};
    machine.RegisterNatives(entries, sizeof(entries) / sizeof(entries[0]));
  }
  std::string Log() {
    std::string all;
    bool first = true;
    while (const char* e = machine.GetLog().GetEntry(first)) all += e;
    return all;
  }
  gmMachine machine;
};

TEST_F(CollectScriptTest, AForcedCollectionKeepsWhatScriptsHoldAndFreesTheRest) {
  const char* script =
      "global g = { b = \"global value\" };\n"
      "keep = { name = \"local value\" };\n"
      "junk = {};\n"
      "for (i = 0; i < 200; i = i + 1) { junk[i] = { n = i }; }\n"
      "inner = function(x) {\n"
      "  local mine = { v = x };\n"
      "  before = usage();\n"
      "  r = collect(1);\n"
      "  out(r, usage() < before, mine.v.name, x.name);\n"
      "  return mine;\n"
      "};\n"
      "junk = null;\n"
      "got = inner(keep);\n"
      "out(got.v.name, keep.name, g.b, collect(1));\n";
  ASSERT_EQ(0, machine.RunString(script)) << Log();
  EXPECT_EQ("1 1 local value local value\nlocal value local value global value 1\n", s_out) << Log();
  EXPECT_EQ(machine.statFullCollects, 2);
}

TEST_F(CollectScriptTest, StoppedThreadsKeepTheirLocals) {
  // A thread that yielded stays in the running list; one that slept or blocked moves to
  // its own list. Each list's stacks are roots.
  const struct {
    const char* stop;
    int state;
  } cases[] = {{"yieldNow", gmThread::RUNNING}, {"sleepNow", gmThread::SLEEPING}, {"blockNow", gmThread::BLOCKED}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stop);
    int id = 0;
    std::string text = std::string("t = { s = \"waiting\" }; ") + c.stop + "(); out(t.s);";
    ASSERT_EQ(0, machine.RunString(text.c_str(), &id)) << Log();
    gmThread* thread = machine.FindThread(id);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(thread->GetState(), c.state);
    ASSERT_EQ(0, machine.RunString("collect(1); collect(1);")) << Log();
    int tables = 0;
    for (const gmVariable* v = thread->GetBottom(); v < thread->GetTop(); ++v) {
      if (!v->IsTable()) continue;
      ++tables;
      EXPECT_STREQ(v->GetTableObject()->GetByName(&machine, "s").GetStringObject()->text, "waiting");
    }
    EXPECT_EQ(tables, 1);
  }
}

TEST_F(CollectScriptTest, AScriptOperatorHeldOnlyByItsTypeSurvives) {
  int type = machine.DefineType("pair");
  machine.GetGlobals()->SetByName(&machine, "T", gmVariable(static_cast<gmint>(type)));
  machine.GetGlobals()->SetByName(&machine, "p", gmVariable(machine.MakeUserObject(nullptr, type)));
  // Separate runs: the registering code's own function (whose constants include the
  // operator) is gone when the collection runs.
  ASSERT_EQ(0, machine.RunString("typeRegisterOperator(T, \"neg\", function(a) { return \"negated \" + \"pair\"; });"))
      << Log();
  ASSERT_EQ(0, machine.RunString("collect(1); collect(1);")) << Log();
  ASSERT_EQ(0, machine.RunString("out(-p);")) << Log();
  EXPECT_EQ("negated pair\n", s_out) << Log();
}

TEST_F(CollectScriptTest, IncrementalStepsBetweenScriptStatements) {
  // Every collect() is a step; tables are built, moved and dropped between the steps.
  machine.autoMemoryLimits = false;
  machine.desiredMemorySoft = 0;
  machine.desiredMemoryHard = 1 << 30;
  machine.GetGC()->workPerStep = 5;
  const char* script =
      "global keep = {};\n"
      "for (i = 0; i < 300; i = i + 1) {\n"
      "  t = { n = i, s = \"v\" + i };\n"
      "  keep[i % 7] = t;\n"
      "  if (i % 3 == 0) { keep[(i + 1) % 7] = null; }\n"
      "  collect();\n"
      "}\n"
      "sum = 0; n = 0;\n"
      "foreach (k and v in keep) { sum = sum + v.n; n = n + 1; if (v.s != \"v\" + v.n) { out(\"bad\", k); } }\n"
      "out(n, sum);\n";
  ASSERT_EQ(0, machine.RunString(script)) << Log();
  EXPECT_GT(machine.statIncCollects, 3);
  std::map<int, int> expected;
  for (int i = 0; i < 300; ++i) {
    expected[i % 7] = i;
    if (i % 3 == 0) expected.erase((i + 1) % 7);
  }
  int sum = 0;
  for (const auto& kv : expected) sum += kv.second;
  EXPECT_EQ(std::to_string(expected.size()) + " " + std::to_string(sum) + "\n", s_out) << Log();
}

}  // namespace
