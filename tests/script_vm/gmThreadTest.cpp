// Threads and the interpreter seen from the host and from natives: calls and results,
// operators of user types, thread life and ids, stops, failures and the log.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/vm/gmMachine.h"

namespace {

std::string g_out;

void CapturePrint(gmMachine*, const char* a_text) {
  g_out += a_text;
  g_out += "\n";
}

// out(values...): one line of the values' texts, space-separated.
int Out(gmThread* a_thread) {
  char buffer[256];
  std::string line;
  for (int i = 0; i < a_thread->GetNumParams(); ++i) {
    if (i) line += " ";
    line += a_thread->GetMachine()->ValueToText(a_thread->Param(i), buffer, sizeof(buffer));
  }
  gmMachine::s_printCallback(a_thread->GetMachine(), line.c_str());
  return GM_NATIVE_OK;
}
int PushNothing(gmThread*) { return GM_NATIVE_OK; }
int PushThree(gmThread* a_thread) {
  a_thread->PushInt(1);
  a_thread->PushNewString("two");
  a_thread->PushFloat(3.5f);
  return GM_NATIVE_OK;
}
// The typed readers with their defaults.
int Typed(gmThread* a_thread) {
  a_thread->PushNewString((std::to_string(a_thread->ParamInt(0, -1)) + "/" +
                           std::to_string(a_thread->ParamFloat(1, -1.0f)) + "/" + a_thread->ParamString(2, "none"))
                              .c_str());
  return GM_NATIVE_OK;
}
int Kind(gmThread* a_thread) {
  a_thread->PushNewString(a_thread->GetMachine()->TypeName(a_thread->ParamType(0)));
  return GM_NATIVE_OK;
}
int Yield(gmThread*) { return GM_NATIVE_YIELD; }
int Sleep(gmThread* a_thread) {
  a_thread->wakeTime = 100;
  return GM_NATIVE_SLEEP;
}
int Block(gmThread*) { return GM_NATIVE_BLOCK; }
int KillSelfFromInside(gmThread* a_thread) {
  a_thread->GetMachine()->SwitchThreadState(a_thread, gmThread::KILLED);
  return GM_NATIVE_OK;
}
int RunSelf(gmThread* a_thread) {
  a_thread->PushInt(a_thread->Run());
  return GM_NATIVE_OK;
}
int StackSize(gmThread* a_thread) {
  a_thread->PushInt(a_thread->GetStackSize());
  return GM_NATIVE_OK;
}

class VmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_out.clear();
    savedPrint = gmMachine::s_printCallback;
    gmMachine::s_printCallback = CapturePrint;
    machine.debugMode = true;
    static const gmFunctionEntry entries[] = {
        {"out", Out, 0},
        {"pushNothing", PushNothing, 0},
        {"pushThree", PushThree, 0},
        {"typed", Typed, 0},
        {"yieldNow", Yield, 0},
        {"sleepNow", Sleep, 0},
        {"blockNow", Block, 0},
        {"killSelf", KillSelfFromInside, 0},
        {"stackSize", StackSize, 0},
        {"kind", Kind, 0},
        {"runSelf", RunSelf, 0},
    };
    machine.RegisterNatives(entries, sizeof(entries) / sizeof(entries[0]));
  }
  void TearDown() override {
    gmMachine::s_printCallback = savedPrint;
    gmMachine::s_machineCallback = nullptr;
  }
  // Log entries written since the last call.
  std::string NewLog() {
    std::string all;
    bool first = true;
    int index = 0;
    while (const char* e = machine.GetLog().GetEntry(first)) {
      if (index++ >= logSeen) all += e;
    }
    logSeen = index;
    return all;
  }
  int Run(const char* a_text, const char* a_name = nullptr) { return machine.RunString(a_text, nullptr, true, a_name); }
  gmVariable Global(const char* a_name) { return machine.GetGlobals()->GetByName(&machine, a_name); }

  gmPrintCallback savedPrint = nullptr;
  gmMachine machine;
  int logSeen = 0;
};

TEST_F(VmTest, NativeResultIsNullOrTheLastValuePushed) {
  ASSERT_EQ(0, Run("out(pushNothing(), pushThree(), typed(4, 2.5, \"s\"), typed(1.5, 2, null));"));
  EXPECT_EQ("null 3.5 4/2.500000/s -1/-1.000000/none\n", g_out) << NewLog();
}

TEST_F(VmTest, PrintHandsOneTextWithASpaceAfterEachValue) {
  ASSERT_EQ(0, Run("print(1, \"a\", null, 0.5); print(); print(\"\");"));
  EXPECT_EQ("1 a null 0.5 \n \n", g_out) << NewLog();
}

TEST_F(VmTest, HostCallsAScriptFunctionWithArgumentsAndThis) {
  ASSERT_EQ(0, Run("global add = function(a, b) { return this.base + a + b; };"));
  gmTableObject* self = machine.MakeTable();
  self->SetByName(&machine, "base", gmVariable(100));
  gmThread* thread = machine.NewThread();
  thread->PushTable(self);
  thread->PushValue(Global("add"));
  thread->PushInt(20);
  thread->PushInt(3);
  gmVariable result = gmVariable::Null();
  ASSERT_EQ(gmThread::CALL_OK, thread->PushCall(2));
  EXPECT_EQ(gmThread::KILLED, thread->Run(&result));
  ASSERT_EQ(GM_INT, result.type);
  EXPECT_EQ(123, result.GetInt());
}

TEST_F(VmTest, HostCallOfANativeCompletesWhenPushed) {
  gmThread* thread = machine.NewThread();
  thread->PushNull();
  thread->PushValue(Global("pushThree"));
  EXPECT_EQ(gmThread::KILLED, thread->PushCall(0));
  gmVariable result = gmVariable::Null();
  EXPECT_EQ(gmThread::KILLED, thread->Run(&result));
  EXPECT_EQ(GM_FLOAT, result.type);
  EXPECT_EQ(nullptr, machine.GetFirstThread(gmThread::RUNNING));
}

TEST_F(VmTest, CallingANonFunctionFromTheHostLeavesNoThread) {
  EXPECT_EQ(nullptr, machine.NewThreadCalling(gmVariable::Null(), nullptr));
  EXPECT_EQ(nullptr, machine.GetFirstThread(gmThread::RUNNING));
  EXPECT_EQ("attempt to call non function type (null)\r\n", NewLog());
  gmThread* thread = machine.NewThread();
  thread->PushNull();
  thread->PushInt(5);
  EXPECT_EQ(gmThread::CALL_FAILED, thread->PushCall(0));
  EXPECT_EQ("attempt to call non function type (int)\r\n", NewLog());
}

// A user type whose truth comes from a native bool operator; and one with a script bool
// operator, called before every test.
int NativeBool(gmMachine*, gmThread*, gmVariable* a_operands) {
  a_operands[0].SetInt(static_cast<int>(reinterpret_cast<gmptr>(a_operands[0].GetUserObject()->user)));
  return GM_OPERATOR_OK;
}

TEST_F(VmTest, UserTypeBoolOperatorsDecideConditions) {
  int nativeType = machine.DefineType("Flag");
  machine.SetTypeOperator(nativeType, O_BOOL, nullptr, NativeBool);
  machine.GetGlobals()->SetByName(&machine, "yes",
                                  gmVariable(machine.MakeUserObject(reinterpret_cast<void*>(1), nativeType)));
  machine.GetGlobals()->SetByName(&machine, "no", gmVariable(machine.MakeUserObject(nullptr, nativeType)));
  ASSERT_EQ(0, Run("if (yes) { out(\"yes\"); } if (no) { out(\"wrong\"); } else { out(\"no\"); }\n"
                   "out(yes and 1, no or 2);"));
  EXPECT_EQ("yes\nno\n1 2\n", g_out) << NewLog();

  // A script bool operator counts down: while(counter) runs three times.
  g_out.clear();
  int scriptType = machine.DefineType("Counter");
  machine.GetGlobals()->SetByName(&machine, "counter", gmVariable(machine.MakeUserObject(nullptr, scriptType)));
  ASSERT_EQ(0, Run("global calls = 0;\n"
                   "global left = 3;\n"
                   "global boolOp = function(v) { global calls; global left; calls = calls + 1; left = left - 1; "
                   "return left >= 0; };"));
  ASSERT_TRUE(machine.SetTypeOperator(scriptType, O_BOOL, Global("boolOp").GetFunctionObject(), nullptr));
  ASSERT_EQ(0, Run("n = 0; while (counter) { n = n + 1; } out(n, calls);"));
  EXPECT_EQ("3 4\n", g_out) << NewLog();
}

TEST_F(VmTest, ScriptOperatorsOfAUserType) {
  int type = machine.DefineType("Box");
  machine.GetGlobals()->SetByName(&machine, "box", gmVariable(machine.MakeUserObject(nullptr, type)));
  ASSERT_EQ(0, Run("global add = function(a, b) { return \"add \" + kind(a) + \" \" + kind(b); };\n"
                   "global neg = function(a) { return \"neg\"; };\n"
                   "global stored = 0;\n"
                   "global setind = function(o, i, v) { global stored; stored = stored + v; return 99; };"));
  machine.SetTypeOperator(type, O_ADD, Global("add").GetFunctionObject(), nullptr);
  machine.SetTypeOperator(type, O_NEG, Global("neg").GetFunctionObject(), nullptr);
  machine.SetTypeOperator(type, O_SETIND, Global("setind").GetFunctionObject(), nullptr);
  // The setind operator's result is dropped: thousands of stores leave the stack as it was.
  ASSERT_EQ(0, Run("out(box + 1, 1 + box, -box);\n"
                   "for (i = 0; i < 5000; i = i + 1) { box[i] = 1; }\n"
                   "out(stored, stackSize());"));
  EXPECT_EQ("add Box int add int Box neg\n5000 64\n", g_out) << NewLog();
}

int typeNameNative(gmThread* a_thread) {
  a_thread->PushNewString(a_thread->GetMachine()->TypeName(a_thread->GetThis()->type));
  return GM_NATIVE_OK;
}

TEST_F(VmTest, StopsLeaveTheThreadWhereItWas) {
  int id = 0;
  ASSERT_EQ(0, machine.RunString("out(1); yieldNow(); out(2); sleepNow(); out(3); blockNow(); out(4);", &id));
  EXPECT_EQ("1\n", g_out);
  gmThread* thread = machine.FindThread(id);
  ASSERT_NE(nullptr, thread);
  EXPECT_EQ(gmThread::RUNNING, thread->GetState());
  // Running it again continues after the yield; the sleep moves it to the sleeping list.
  EXPECT_EQ(gmThread::SLEEPING, thread->Run());
  EXPECT_EQ("1\n2\n", g_out);
  EXPECT_EQ(thread, machine.GetFirstThread(gmThread::SLEEPING));
  EXPECT_EQ(100u, thread->wakeTime);
  EXPECT_EQ(gmThread::SLEEPING, thread->Run());
  machine.SwitchThreadState(thread, gmThread::RUNNING);
  EXPECT_EQ(gmThread::BLOCKED, thread->Run());
  EXPECT_EQ("1\n2\n3\n", g_out);
  EXPECT_EQ(thread, machine.GetFirstThread(gmThread::BLOCKED));
}

TEST_F(VmTest, RunStringWithoutRunningLeavesAReadyThread) {
  int id = 0;
  ASSERT_EQ(0, machine.RunString("out(\"ran\");", &id, false));
  gmThread* thread = machine.FindThread(id);
  ASSERT_NE(nullptr, thread);
  EXPECT_EQ("", g_out);
  EXPECT_EQ(gmThread::KILLED, thread->Run());
  EXPECT_EQ("ran\n", g_out);
  EXPECT_EQ(nullptr, machine.FindThread(id));

  id = -1;
  EXPECT_EQ(1, machine.RunString("x = ;", &id));
  EXPECT_EQ(0, id);
  EXPECT_NE("", NewLog());
}

TEST_F(VmTest, ThreadIdsAndTheFreeListOfSixteen) {
  std::vector<gmThread*> threads;
  for (int i = 0; i < 17; ++i) threads.push_back(machine.NewThread());
  for (int i = 0; i < 17; ++i) EXPECT_EQ(i + 1, threads[i]->GetId());
  EXPECT_EQ(threads[5], machine.FindThread(6));
  for (gmThread* t : threads) machine.SwitchThreadState(t, gmThread::KILLED);
  EXPECT_EQ(16, machine.GetNumFreeThreads());
  EXPECT_EQ(nullptr, machine.FindThread(6));
  // A new thread reuses a free one and takes the next id.
  gmThread* reused = machine.NewThread();
  EXPECT_EQ(18, reused->GetId());
  EXPECT_EQ(15, machine.GetNumFreeThreads());
  EXPECT_EQ(0, reused->GetTopIndex());
}

TEST_F(VmTest, AKillFromInsideTheRunningThreadEndsItSafely) {
  int destroyed = 0;
  static int* s_destroyed;
  s_destroyed = &destroyed;
  gmMachine::s_machineCallback = [](gmMachine*, int a_event, gmThread*) {
    if (a_event == MC_THREAD_DESTROY) ++*s_destroyed;
    return false;
  };
  ASSERT_EQ(0, Run("out(1); killSelf(); out(2);"));
  EXPECT_EQ("1\n", g_out);
  EXPECT_EQ(1, destroyed);
  EXPECT_EQ(nullptr, machine.GetFirstThread(gmThread::RUNNING));
}

TEST_F(VmTest, ANativeRunningItsOwnThreadDoesNothing) {
  ASSERT_EQ(0, Run("out(runSelf(), 2);"));
  EXPECT_EQ("0 2\n", g_out) << NewLog();
}

TEST_F(VmTest, FailureLogsPositionAndCallStackAndRaisesTheErrorEvent) {
  std::vector<int> events;
  static std::vector<int>* s_events;
  s_events = &events;
  gmMachine::s_machineCallback = [](gmMachine*, int a_event, gmThread*) {
    s_events->push_back(a_event);
    return true;  // asks to keep the thread, which needs an inspection pointer
  };
  ASSERT_EQ(0, Run("f = function(x) {\n  return x.y;\n};\nf(null);", "case.qv"));
  EXPECT_EQ(
      "getdot failed. (null has no member 'y')\r\n\r\ncase.qv(2) :   return x.y;\r\n\r\ncallstack..\r\n  2: f\r\n  4: "
      "__main\r\n\r\n",
      NewLog());
  EXPECT_EQ((std::vector<int>{MC_THREAD_CREATE, MC_THREAD_EXCEPTION, MC_THREAD_DESTROY}), events);
  EXPECT_EQ(1, machine.GetNumFreeThreads());

  // Without debug mode there is no line table and no source.
  machine.debugMode = false;
  ASSERT_EQ(0, Run("a = 1;\nb = null.c;"));
  EXPECT_EQ("getdot failed. (null has no member 'c')\r\n\r\nunknown(0) : \r\n\r\ncallstack..\r\n  0: __unknown\r\n\r\n",
            NewLog());
}

// The first line of a failed call names the callee as the code read it, and the one defined
// name within two edits of it.
TEST_F(VmTest, AFailedCallNamesItsCalleeAndTheNameMeant) {
  const struct {
    const char* script;
    const char* line;
  } cases[] = {
      {"global Update = function() {};\nUpdte();",
       "attempt to call non function type (null 'Updte'), did you mean 'Update'?"},
      {"global Update = function() {};\nZzyzx();", "attempt to call non function type (null 'Zzyzx')"},
      // The nearest wins; between equally near ones, the smallest text.
      {"global Cat = 1; global Bat = 2; global Ca = 3;\nCaat();",
       "attempt to call non function type (null 'Caat'), did you mean 'Cat'?"},
      {"global Bat = 1; global Cat = 2;\nDat();",
       "attempt to call non function type (null 'Dat'), did you mean 'Bat'?"},
      {"t = table(Jump = function() {});\nt.Jmup(1, 2);",
       "attempt to call non function type (null 'Jmup'), did you mean 'Jump'?"},
      {"local n = 3;\nn();", "attempt to call non function type (int 'n')"},
      // The callee of a call inside another call's arguments, after a return mid-block.
      {"global Update = function(a, b) {};\nf = function(a) { if (a) { return 1; } Update(a, a + 1, Updte(a)); "
       "};\nf(0);",
       "attempt to call non function type (null 'Updte'), did you mean 'Update'?"},
      {"t = table(u = table());\nt.u.v.w();", "getdot failed. (null has no member 'w')"},
      {"x = 1;\nx.y = 2;", "setdot failed. (int has no member 'y' to set)"},
      // Null members are no suggestion, nor is a name that shares no letter with a short one.
      {"t = table(Fire = null, Fine = 1);\nt.Fire();",
       "attempt to call non function type (null 'Fire'), did you mean 'Fine'?"},
      {"global min2 = 1;\nn();", "attempt to call non function type (null 'n')"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    ASSERT_EQ(0, Run(c.script, "case.qv"));
    const std::string log = NewLog();
    EXPECT_EQ(log.substr(0, log.find("\r\n")), c.line);
  }
}

TEST_F(VmTest, TheStackStopsAtItsLimit) {
  ASSERT_EQ(0, Run("global maxSize = 0;\n"
                   "global deep = function(n) { global maxSize; s = stackSize(); if (s > maxSize) { maxSize = s; } "
                   "return deep(n + 1); };\n"
                   "deep(0);"));
  EXPECT_EQ(gmThread::MAX_STACK_SLOTS, Global("maxSize").GetInt());
  EXPECT_EQ(0, NewLog().find("stack overflow\r\n"));
}

TEST_F(VmTest, DebugHooksSeeEveryCallReturnAndLineOfAFlaggedThread) {
  static int s_calls, s_returns, s_lines, s_starts;
  s_calls = s_returns = s_lines = s_starts = 0;
  machine.debugCall = [](gmThread*) { return ++s_calls, false; };
  machine.debugReturn = [](gmThread*) { return ++s_returns, false; };
  machine.debugLine = [](gmThread*) { return ++s_lines, false; };
  machine.debugThreadStart = [](gmThread*) { return ++s_starts, false; };
  const char* text = "f = function(n) { return n + 1; };\nx = f(f(1));\nout(x);";
  int id = 0;
  ASSERT_EQ(0, machine.RunString(text, &id, false));
  gmThread* thread = machine.FindThread(id);
  thread->debugFlag = 1;
  EXPECT_EQ(gmThread::KILLED, thread->Run());
  EXPECT_EQ("3\n", g_out);
  // Three calls (f twice, out once); f returns twice; __main's return ends the thread.
  EXPECT_EQ(1, s_starts);
  EXPECT_EQ(3, s_calls);
  EXPECT_EQ(2, s_returns);
  EXPECT_GE(s_lines, 3);

  // An unflagged thread runs past the call and return hooks; lines are machine-wide.
  s_calls = s_returns = 0;
  ASSERT_EQ(0, Run(text));
  EXPECT_EQ(0, s_calls + s_returns);

  // A hook that answers true stops the thread where it is; it stays running.
  machine.debugLine = [](gmThread*) { return true; };
  ASSERT_EQ(0, machine.RunString("out(1);", &id));
  EXPECT_EQ(gmThread::RUNNING, machine.FindThread(id)->GetState());
}

TEST_F(VmTest, SourcesAreKeptOncePerTextInDebugModeOnly) {
  gmuint id = machine.AddSource("123456789", "digits");
  EXPECT_EQ(0xCBF43926u, id);
  EXPECT_EQ(id, machine.AddSource("123456789", "again"));
  const char* text = nullptr;
  const char* name = nullptr;
  ASSERT_TRUE(machine.GetSource(id, &text, &name));
  EXPECT_STREQ("digits", name);
  machine.AddSource("other", nullptr);
  ASSERT_TRUE(machine.GetSource(machine.AddSource("other", "x"), &text, &name));
  EXPECT_STREQ("unknown", name);
  machine.debugMode = false;
  EXPECT_EQ(0u, machine.AddSource("third", "t"));
}

TEST_F(VmTest, RegisterNativesIntoATableOrAType) {
  static const gmFunctionEntry one[] = {{"first", PushNothing, 7}};
  static const gmFunctionEntry two[] = {{"second", PushNothing, 0}};
  machine.RegisterNatives(one, 1, "lib");
  machine.RegisterNatives(two, 1, "lib", false);  // adds to the existing table
  gmTableObject* lib = Global("lib").GetTableObject();
  EXPECT_EQ(2, lib->Count());
  EXPECT_EQ(7, lib->GetByName(&machine, "first").GetFunctionObject()->userValue);
  machine.RegisterNatives(two, 1, "lib", true);  // a new table
  EXPECT_EQ(1, Global("lib").GetTableObject()->Count());

  static const gmFunctionEntry method[] = {{"Name", typeNameNative, 0}};
  EXPECT_TRUE(machine.RegisterTypeNatives(GM_INT, method, 1));
  EXPECT_FALSE(machine.RegisterTypeNatives(machine.GetNumTypes(), method, 1));
  ASSERT_EQ(0, Run("out((5).Name(), (5).Other);"));
  EXPECT_EQ("int null\n", g_out) << NewLog();
}

}  // namespace
