// The machine extension and the proxies on a bare gmMachineEx, with small classes of our
// own: extra types, scoring, overload choice, conversions, late type resolution, handle
// kinds and callbacks by name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "binding/gVector3.h"
#include "binding/gmMachineEx.h"
#include "binding/gmNativeType.h"
#include "script/values/gmOperators.h"
#include "tests/binding/gBindingTestScript.h"

namespace {

struct Probe {
  gVector3 position;
  int setCalls = 0;
  float lastFloat = -1.0f;
  int lastInt = -1;
  std::string lastText = "unset";

  gVector3 Position() { return position; }
  void Position(float a_x, float a_y, float a_z) {
    position = gVector3(a_x, a_y, a_z);
    ++setCalls;
  }
  void Position(const gVector3& a_v) {
    position = a_v;
    ++setCalls;
  }
  void TakeFloat(float a_f) { lastFloat = a_f; }
  void TakeInt(int a_i) { lastInt = a_i; }
  void TakeText(const char* a_t) { lastText = a_t; }
  Probe* Self() { return this; }
  Probe* None() { return nullptr; }
};

struct Late {
  int value = 7;
};
struct Early {
  int Read(Late* a_late) { return a_late->value; }
};

struct FakeMesh : gmResourceHandle {
  static constexpr int kHandleKind = GM_HANDLE_MESH;
  FakeMesh() : gmResourceHandle(kHandleKind) {}
};
struct FakeTexture : gmResourceHandle {
  static constexpr int kHandleKind = GM_HANDLE_TEXTURE;
  FakeTexture() : gmResourceHandle(kHandleKind) {}
};
struct Painter {
  FakeMesh mesh;
  FakeTexture texture;
  FakeTexture* used = nullptr;
  Late late;
  Late* met = nullptr;
  FakeMesh* Mesh() { return &mesh; }
  FakeTexture* Texture() { return &texture; }
  void Use(FakeTexture* a_texture) { used = a_texture; }
  // Late is not registered in these tests, and is no resource handle.
  Late* Stranger() { return &late; }
  void Meet(Late* a_late) { met = a_late; }
};

// Overloads that only scoring tells apart.
struct Picker {
  int F(float) { return 1; }
  int F(int) { return 2; }
  int G(float, const char*) { return 1; }
  int G(const char*, float) { return 2; }
};

// The other parameter and result kinds the subsystems bind.
struct Shapes {
  gVector3 stored{1, 2, 3};
  gmTableObject* table = nullptr;
  gmTableObject* Keep(gmTableObject* a_table) {
    table = a_table;
    return a_table;
  }
  gmTableObject* Nothing() { return nullptr; }
  bool IsPositive(int a_value) { return a_value > 0; }
  unsigned int Twice(unsigned int a_value) { return a_value * 2; }
  gVector3& Stored() { return stored; }
  gVector3 Copy() { return stored; }
  int At(int a_index) { return a_index * 10; }
};

int RegisterProbe(gmMachineEx* a_machine) {
  gmNativeType<Probe> type(a_machine, "Probe");
  type.OwnedByScripts().Constructor<>();
  type.Method<gVector3>("Position", &Probe::Position);
  type.Method<void, float, float, float>("Position", &Probe::Position);
  type.Method<void, const gVector3&>("Position", &Probe::Position);
  type.Method("TakeFloat", &Probe::TakeFloat).Method("TakeInt", &Probe::TakeInt).Method("TakeText", &Probe::TakeText);
  type.Method("Self", &Probe::Self).Method("None", &Probe::None);
  return type.Register();
}

class MachineExTest : public ::testing::Test {
 protected:
  MachineExTest() : script(&machine) {}

  template <class T>
  T* Native(const char* a_global) {
    gmVariable v = script.Global(a_global);
    return v.type > GM_USER ? static_cast<T*>(v.GetUserObject()->user) : nullptr;
  }

  gmMachineEx machine;
  gBindingTestScript script;
};

TEST_F(MachineExTest, ExtraTypesAndLaunchGlobals) {
  const char* names[] = {"__unknown_type__", "__thread_launch_info__", "any_ptr", "any_ptr", "c_string", "c_string"};
  for (int id = 7; id <= 12; ++id) EXPECT_STREQ(machine.TypeName(id), names[id - 7]) << id;
  EXPECT_EQ(machine.GetNumTypes(), GM_FIRST_CLASS_TYPE);

  const char* globals[] = {"AT_CREATE", "AT_DESTROY", "AT_TIME"};
  for (int i = 0; i < 3; ++i) {
    gmVariable v = script.Global(globals[i]);
    ASSERT_EQ(v.type, GM_LAUNCH_INFO) << globals[i];
    EXPECT_EQ(*static_cast<int*>(v.GetUserObject()->user), i);
  }
}

TEST(ScoreArgument, FollowsTheTable) {
  const int kVec = 13, kVecRO = 14, kOther = 15;
  struct Case {
    int arg, param, score;
  } cases[] = {
      {GM_INT, GM_INT, 3},
      {GM_NULL, GM_NULL, 3},
      {GM_NULL, GM_INT, 0},
      {GM_INT, GM_FLOAT, 2},
      {GM_FLOAT, GM_INT, 2},
      {GM_INT, GM_CSTRING, 1},
      {GM_FLOAT, GM_STRING, 1},
      {GM_STRING, GM_CSTRING, 2},
      {GM_CSTRING, GM_STRING, 2},
      {GM_STRING, GM_FLOAT, 1},
      {GM_CSTRING, GM_INT, 1},
      {GM_TABLE, GM_ANY_PTR, 1},
      {GM_FUNCTION, GM_ANY_PTR_CONST, 1},
      {GM_TABLE, GM_INT, 0},
      {GM_INT, GM_TABLE, 0},
      {kVec, kVec, 3},
      {kVec, kVecRO, 3},
      {kVecRO, kVec, 0},
      {kVec, GM_ANY_PTR, 1},
      {kVec, GM_ANY_PTR_CONST, 1},
      {kVecRO, GM_ANY_PTR_CONST, 1},
      {kVecRO, GM_ANY_PTR, 0},
      {kVec, kOther, 0},
      {kVec, GM_FLOAT, 0},
      {GM_INT, kVec, 0},
      {GM_UNKNOWN_TYPE, GM_UNKNOWN_TYPE, 3},
      {GM_UNKNOWN_TYPE, kVec, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(gmScoreArgument(c.arg, c.param), c.score) << c.arg << " as " << c.param;
}

TEST(OperatorFromText, MapsToOperatorSlots) {
  struct Case {
    const char* text;
    bool unary;
    int op;
  } cases[] = {
      {"+", false, 4},   {"+", true, 22},  {"-", false, 5},  {"-", true, 21},   {"*", false, 6},   {"/", false, 7},
      {"%", false, 8},   {"|", false, 9},  {"^", false, 10}, {"&", false, 11},  {"<<", false, 12}, {">>", false, 13},
      {"~", false, 14},  {"<", false, 15}, {">", false, 16}, {"<=", false, 17}, {">=", false, 18}, {"==", false, 19},
      {"!=", false, 20}, {"!", false, 23}, {"[]", false, 2}, {"()", false, 25}, {"", false, 25},   {"*", true, 6},
  };
  for (const Case& c : cases) EXPECT_EQ(gmOperatorFromText(c.text, c.unary), c.op) << c.text << " unary " << c.unary;
}

TEST_F(MachineExTest, OverloadsChosenByArgumentCount) {
  gVector3::RegisterScriptType(&machine);
  RegisterProbe(&machine);
  ASSERT_EQ(script.Run("global p = Probe();"
                       "global got = p.Position();"
                       "p.Position(1, 2, 3);"
                       "global afterFloats = p.Position().Y();"
                       "p.Position(Vector3(4, 5, 6));"
                       "global afterVector = p.Position().Z();"
                       "global one = p.Position(1);"),
            0);
  EXPECT_EQ(script.Errors(), "");
  EXPECT_EQ(script.Global("got").type, 13);
  EXPECT_EQ(script.Float("afterFloats"), 2.0f);
  EXPECT_EQ(script.Float("afterVector"), 6.0f);
  // Position(1) is scored to the three-float overload and then not called.
  EXPECT_TRUE(script.Global("one").IsNull());
  EXPECT_EQ(Native<Probe>("p")->setCalls, 2);
}

TEST_F(MachineExTest, FirstFullScoreWinsElseFirstHighest) {
  gmNativeType<Picker> type(&machine, "Picker");
  type.OwnedByScripts().Constructor<>();
  type.Method<int, float>("F", &Picker::F).Method<int, int>("F", &Picker::F);
  type.Method<int, float, const char*>("G", &Picker::G).Method<int, const char*, float>("G", &Picker::G);
  type.Register();
  ASSERT_EQ(script.Run("p = Picker(); global fi = p.F(1); global ff = p.F(1.5); global fs = p.F(\"1\");"
                       "global gii = p.G(1, 2); global gsf = p.G(\"a\", 2.0);"),
            0);
  EXPECT_EQ(script.Errors(), "");
  EXPECT_EQ(script.Int("fi"), 2) << "the exact overload, though registered second";
  EXPECT_EQ(script.Int("ff"), 1);
  EXPECT_EQ(script.Int("fs"), 1) << "a tie goes to the first registered";
  EXPECT_EQ(script.Int("gii"), 1) << "a tie goes to the first registered";
  EXPECT_EQ(script.Int("gsf"), 2);
}

TEST_F(MachineExTest, NameRegisteredTwiceIsOneFunctionWithOverloads) {
  int type = RegisterProbe(&machine);
  gmVariable position = machine.GetTypeVariables(type)->GetByName(&machine, "Position");
  ASSERT_TRUE(position.IsFunction());
  const gmMachineEx::TypeRecord* record = machine.FindRecord(type);
  ASSERT_NE(record, nullptr);
  int index = static_cast<int>(position.GetFunctionObject()->userValue);
  auto range = record->methods.equal_range(index);
  std::vector<int> paramCounts;
  for (auto it = range.first; it != range.second; ++it) paramCounts.push_back(it->second->numParams);
  EXPECT_EQ(paramCounts, (std::vector<int>{0, 3, 1}));
}

TEST_F(MachineExTest, ArgumentConversions) {
  gVector3::RegisterScriptType(&machine);
  RegisterProbe(&machine);
  ASSERT_EQ(script.Run("global p = Probe();"), 0);
  Probe* probe = Native<Probe>("p");
  ASSERT_NE(probe, nullptr);

  struct FloatCase {
    const char* arg;
    float expected;
  } floats[] = {{"2", 2.0f}, {"2.5", 2.5f}, {"\"2.5\"", 2.5f}, {"\" 7x\"", 7.0f}, {"\"abc\"", 0.0f}};
  for (const FloatCase& c : floats) {
    script.Run(std::string("p.TakeFloat(") + c.arg + ");");
    EXPECT_EQ(probe->lastFloat, c.expected) << c.arg;
  }
  struct IntCase {
    const char* arg;
    int expected;
  } ints[] = {{"2.9", 2}, {"-2.9", -2}, {"\"42abc\"", 42}, {"\"x\"", 0}, {"5", 5}};
  for (const IntCase& c : ints) {
    script.Run(std::string("p.TakeInt(") + c.arg + ");");
    EXPECT_EQ(probe->lastInt, c.expected) << c.arg;
  }
  struct TextCase {
    const char* arg;
    const char* expected;
  } texts[] = {{"3", "3"}, {"2.5", "2.500000"}, {"\"hi\"", "hi"}, {"-7", "-7"}};
  for (const TextCase& c : texts) {
    script.Run(std::string("p.TakeText(") + c.arg + ");");
    EXPECT_EQ(probe->lastText, c.expected) << c.arg;
  }
  EXPECT_EQ(script.Errors(), "");

  // A table where a number is expected scores 0 with every overload: a run-time error.
  script.Run("p.TakeFloat(table());");
  EXPECT_NE(script.Errors().find("no overload of Probe.TakeFloat takes (table)"), std::string::npos);
}

TEST_F(MachineExTest, TablesBooleansAndVectorResults) {
  gVector3::RegisterScriptType(&machine);
  gmNativeType<Shapes> type(&machine, "Shapes");
  type.OwnedByScripts().Constructor<>();
  type.Method("Keep", &Shapes::Keep).Method("Nothing", &Shapes::Nothing).Method("IsPositive", &Shapes::IsPositive);
  type.Method("Twice", &Shapes::Twice).Method("Stored", &Shapes::Stored).Method("Copy", &Shapes::Copy);
  type.Operator("[]", &Shapes::At);
  int id = type.Register();
  EXPECT_NE(machine.GetTypeOperator(id, O_GETIND), nullptr);
  EXPECT_EQ(machine.GetTypeOperator(id, O_SETIND), machine.GetTypeOperator(id, O_GETIND));
  ASSERT_EQ(script.Run("global s = Shapes(); global t = table(a = 1); global same = s.Keep(t) == t;"
                       "global none = s.Nothing(); global yes = s.IsPositive(3); global no = s.IsPositive(-3);"
                       "global twice = s.Twice(21);"
                       "s.Stored().X(10); global stored = s.Stored().X();"
                       "c = s.Copy(); c.Y(20); global copy = s.Stored().Y(); global at = s[4];"),
            0);
  EXPECT_EQ(script.Errors(), "");
  EXPECT_EQ(script.Int("same"), 1);
  EXPECT_EQ(Native<Shapes>("s")->table, script.Global("t").GetTableObject());
  EXPECT_TRUE(script.Global("none").IsNull());
  EXPECT_EQ(script.Int("yes"), 1);
  EXPECT_EQ(script.Int("no"), 0);
  EXPECT_EQ(script.Int("twice"), 42);
  EXPECT_EQ(script.Float("stored"), 10.0f) << "a reference result wraps the native's own vector";
  EXPECT_EQ(script.Float("copy"), 2.0f) << "a by-value result is a copy";
  EXPECT_EQ(script.Int("at"), 40);
}

TEST_F(MachineExTest, EveryPointerResultIsANewWrapper) {
  RegisterProbe(&machine);
  ASSERT_EQ(script.Run("global p = Probe(); global a = p.Self(); global b = p.Self(); global same = a == b;"
                       "global none = p.None() == null;"),
            0);
  EXPECT_EQ(script.Int("same"), 0);
  // A null pointer is null to scripts, not a wrapper of nothing.
  EXPECT_EQ(script.Int("none"), 1);
  EXPECT_EQ(Native<Probe>("a"), Native<Probe>("p"));
  EXPECT_EQ(Native<Probe>("b"), Native<Probe>("p"));
}

// A native made by scripts but owned and destroyed by native code, as a scene's objects are.
struct Held : gmWrappable {
  static std::vector<Held*>& Made() {
    static std::vector<Held*> made;
    return made;
  }
  Held() { Made().push_back(this); }
  char payload[200] = {};
};

void RegisterHeld(gmMachineEx* a_machine) {
  gmNativeType<Held> type(a_machine, "Held");
  type.Constructor<>();
  type.Register();
}

void DeleteHeld() {
  for (Held* held : Held::Made()) delete held;
  Held::Made().clear();
}

TEST_F(MachineExTest, NativeSizeLeavesTheMemoryFigureWhenTheNativeDies) {
  RegisterHeld(&machine);
  const char* text = "for (i = 0; i < 1000; i += 1) { h = Held(); }";
  ASSERT_EQ(script.Run(text), 0);
  DeleteHeld();
  machine.Collect(true);
  const long long start = machine.GetCurrentMemoryUsage();

  ASSERT_EQ(script.Run(text), 0);
  EXPECT_GE(machine.GetCurrentMemoryUsage(), start + 1000 * static_cast<long long>(sizeof(Held)));
  // Collecting the wrappers alone gives nothing back: the natives are alive.
  machine.Collect(true);
  EXPECT_GE(machine.GetCurrentMemoryUsage(), start + 1000 * static_cast<long long>(sizeof(Held)));
  DeleteHeld();
  machine.Collect(true);
  EXPECT_LT(std::llabs(machine.GetCurrentMemoryUsage() - start), static_cast<long long>(sizeof(Held)));
}

TEST(NativeCharge, NativeOutlivingItsMachineDiesSafely) {
  {
    gmMachineEx machine;
    RegisterHeld(&machine);
    gBindingTestScript script(&machine);
    ASSERT_EQ(script.Run("global a = Held(); global b = Held();"), 0);
    ASSERT_EQ(Held::Made().size(), 2u);
    // One dies while the machine lives: the machine's list of charges stays linked.
    delete Held::Made().front();
    Held::Made().erase(Held::Made().begin());
  }
  DeleteHeld();
}

// A kept text runs from its first compilation, yet every run reads the globals as they are
// then, and failures are reported at every run as a fresh compilation reports them.
TEST_F(MachineExTest, KeptTextRunsLikeAFreshCompilation) {
  ASSERT_EQ(script.Run("global f = function() { return 1; }; global log = table();"), 0);
  const std::string text = "global r = f(); log[tableCount(log)] = r;";
  EXPECT_EQ(machine.RunKeptString(text), 0);
  EXPECT_EQ(script.Int("r"), 1);
  ASSERT_EQ(script.Run("global f = function() { return 2; };"), 0);
  EXPECT_EQ(machine.RunKeptString(text), 0);
  EXPECT_EQ(script.Int("r"), 2);
  ASSERT_EQ(script.Run("global n = tableCount(log);"), 0);
  EXPECT_EQ(script.Int("n"), 2);

  for (int run = 0; run < 2; ++run) {
    EXPECT_GT(machine.RunKeptString("global broken = ;"), 0) << run;
    EXPECT_NE(script.Errors(), "") << run;
    EXPECT_EQ(machine.RunKeptString("global r = missing();"), 0) << run;
    EXPECT_NE(script.Errors(), "") << run;
  }

  // More distinct texts than are kept: the oldest go, and run again when asked.
  for (int i = 0; i < 300; ++i) EXPECT_EQ(machine.RunKeptString("global k = " + std::to_string(i) + ";"), 0);
  EXPECT_EQ(script.Int("k"), 299);
  EXPECT_EQ(machine.RunKeptString("global k = 0;"), 0);
  EXPECT_EQ(script.Int("k"), 0);
  EXPECT_EQ(machine.RunKeptString(text), 0);
  EXPECT_EQ(script.Int("r"), 2);
  EXPECT_EQ(script.Errors(), "");
}

TEST_F(MachineExTest, ParameterOfALaterClassResolvesWhenItIsRegistered) {
  gmNativeType<Early> early(&machine, "Early");
  early.OwnedByScripts().Constructor<>().Method("Read", &Early::Read);
  int earlyType = early.Register();
  const gmMachineEx::TypeRecord* record = machine.FindRecord(earlyType);
  ASSERT_EQ(record->methods.size(), 1u);
  EXPECT_EQ(record->methods.begin()->second->paramTypes[0], GM_UNKNOWN_TYPE);

  gmNativeType<Late> late(&machine, "Late");
  late.OwnedByScripts().Constructor<>();
  int lateType = late.Register();
  EXPECT_EQ(record->methods.begin()->second->paramTypes[0], lateType);
  EXPECT_EQ(machine.NativeTypeId<Late>(), lateType);
  EXPECT_EQ(machine.NativeTypeId<Painter>(), GM_UNKNOWN_TYPE);

  ASSERT_EQ(script.Run("global r = Early().Read(Late());"), 0);
  EXPECT_EQ(script.Int("r"), 7);
}

TEST_F(MachineExTest, HandleOfTheWrongKindIsRefused) {
  gmNativeType<Painter> type(&machine, "Painter");
  type.OwnedByScripts().Constructor<>();
  type.Method("Mesh", &Painter::Mesh).Method("Texture", &Painter::Texture).Method("Use", &Painter::Use);
  type.Method("Stranger", &Painter::Stranger).Method("Meet", &Painter::Meet);
  type.Register();
  ASSERT_EQ(script.Run("global p = Painter(); global m = p.Mesh(); global r = p.Use(m);"), 0);
  Painter* painter = Native<Painter>("p");
  EXPECT_EQ(script.Global("m").type, GM_UNKNOWN_TYPE);
  EXPECT_EQ(painter->used, nullptr);
  EXPECT_TRUE(script.Global("r").IsNull());
  EXPECT_NE(script.Errors().find("Painter.Use: argument 0 is a mesh handle where a texture handle is expected"),
            std::string::npos);

  ASSERT_EQ(script.Run("p.Use(p.Texture());"), 0);
  EXPECT_EQ(painter->used, &painter->texture);
  EXPECT_EQ(script.Errors(), "");

  // An unregistered class that is no handle never travels as type 7 either way.
  ASSERT_EQ(script.Run("global stranger = p.Stranger(); p.Meet(p.Mesh());"), 0);
  EXPECT_TRUE(script.Global("stranger").IsNull());
  EXPECT_EQ(painter->met, nullptr);
}

TEST_F(MachineExTest, CallbackByNameCallsWhatTheGlobalHoldsNow) {
  ASSERT_EQ(script.Run("global cb = function(x) { global got = x; return x + 1; };"), 0);
  gmThread* thread = machine.PrepareGlobalCall("cb");
  ASSERT_NE(thread, nullptr);
  thread->PushInt(4);
  gmVariable result = machine.FinishCall(thread, 1);
  EXPECT_EQ(script.Int("got"), 4);
  EXPECT_EQ(result.IsInt() ? result.GetInt() : -1, 5);

  ASSERT_EQ(script.Run("global cb = function(x) { global got = x * 10; };"), 0);
  thread = machine.PrepareGlobalCall("cb");
  ASSERT_NE(thread, nullptr);
  thread->PushInt(4);
  machine.FinishCall(thread, 1);
  EXPECT_EQ(script.Int("got"), 40);

  script.Run("global notAFunction = 3;");
  EXPECT_EQ(machine.PrepareGlobalCall("missing"), nullptr);
  EXPECT_EQ(machine.PrepareGlobalCall("notAFunction"), nullptr);
  EXPECT_EQ(machine.PrepareGlobalCall(nullptr), nullptr);
  // A native global runs inside the call; no thread stays behind.
  const gmFunctionEntry answer = {"answer",
                                  [](gmThread* a_thread) {
                                    a_thread->PushInt(42);
                                    return int(GM_NATIVE_OK);
                                  },
                                  0};
  machine.RegisterNatives(&answer, 1);
  result = machine.FinishCall(machine.PrepareGlobalCall("answer"), 0);
  EXPECT_EQ(result.IsInt() ? result.GetInt() : -1, 42);
  EXPECT_EQ(machine.GetFirstThread(gmThread::RUNNING), nullptr);
}

TEST_F(MachineExTest, MembersOfNativeObjects) {
  gVector3::RegisterScriptType(&machine);
  ASSERT_EQ(script.Run("global v = Vector3(1, 2, 3); v.foo = 5; global foo = v.foo; global x = v.X();"), 0);
  EXPECT_EQ(script.Errors(), "");
  EXPECT_TRUE(script.Global("foo").IsNull());
  EXPECT_EQ(script.Float("x"), 1.0f);

  // A method taken off its object and called on a table.
  script.Run("t = table(f = Vector3().X); t.f();");
  EXPECT_NE(script.Errors().find("a native method was called on a table"), std::string::npos);
}

}  // namespace
