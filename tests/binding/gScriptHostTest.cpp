// The script API as the host builds it: the registration order and ids, Vector3, System,
// Random, LoadScript, the prelude's limits and the constants.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "binding/_gSystem.h"
#include "binding/gPrelude.h"
#include "binding/gScriptConstants.h"
#include "binding/gScriptHost.h"
#include "binding/gVector3.h"
#include "binding/gmNativeType.h"
#include "platform/gUserNameFake.h"
#include "tests/binding/gBindingTestScript.h"

namespace {

class ScriptHostTest : public ::testing::Test {
 protected:
  static gmMachine* Built(gScriptHost& a_host) {
    a_host.Build(false);
    return a_host.GetMachine();
  }

  gScriptHost host;
  gBindingTestScript script{Built(host)};
};

TEST_F(ScriptHostTest, TypesTakeTheirFixedIds) {
  gmMachineEx* machine = host.GetMachine();
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    const gScriptTypeSlotInfo& info = gGetScriptTypeSlot(slot);
    EXPECT_EQ(info.typeId, 13 + 2 * slot) << info.name;
    EXPECT_STREQ(machine->TypeName(info.typeId), info.name);
    EXPECT_STREQ(machine->TypeName(info.typeId + 1), info.name);
  }
  EXPECT_EQ(machine->GetNumTypes(), 67);
  EXPECT_EQ(machine->NativeTypeId<gVector3>(), 13);
  EXPECT_EQ(machine->NativeTypeId<_gSystem>(), 27);
  EXPECT_EQ(gScriptHost::Current(), &host);
  // Registration itself logs nothing: every line it runs compiles and runs cleanly.
  bool first = true;
  EXPECT_EQ(machine->GetLog().GetEntry(first), nullptr);
}

TEST_F(ScriptHostTest, Vector3Constructors) {
  ASSERT_EQ(script.Run("global a = Vector3();"
                       "global b = Vector3(1, 2, 3);"
                       "global c = Vector3(b);"
                       "c.X(9);"
                       "global bx = b.X(); global cx = c.X(); global az = a.Z(); global by = b.Y();"
                       "global two = Vector3(1, 2);"),
            0);
  EXPECT_EQ(script.Errors(), "");
  EXPECT_EQ(script.Float("az"), 0.0f);
  EXPECT_EQ(script.Float("by"), 2.0f);
  EXPECT_EQ(script.Float("bx"), 1.0f) << "Vector3(v) copies";
  EXPECT_EQ(script.Float("cx"), 9.0f);
  EXPECT_TRUE(script.Global("two").IsNull());
}

TEST_F(ScriptHostTest, Vector3Operators) {
  ASSERT_EQ(
      script.Run("a = Vector3(1, 2, 3); b = Vector3(0.5, 1, 1);"
                 "global sum = (a + b).X(); global diff = (a - b).Y(); global neg = (-a).Z();"
                 "global scaled = (a * 2).Z(); global scaledF = (a * 0.5).X();"
                 "global eq = Vector3(1, 2, 3) == Vector3(1, 2, 3); global ne = Vector3(1, 2, 3) != Vector3(1, 2, 3.5);"
                 "global eq2 = a == b; global ne2 = a != Vector3(a);"),
      0);
  EXPECT_EQ(script.Errors(), "");
  EXPECT_EQ(script.Float("sum"), 1.5f);
  EXPECT_EQ(script.Float("diff"), 1.0f);
  EXPECT_EQ(script.Float("neg"), -3.0f);
  EXPECT_EQ(script.Float("scaled"), 6.0f);
  EXPECT_EQ(script.Float("scaledF"), 0.5f);
  EXPECT_EQ(script.Int("eq"), 1);
  EXPECT_EQ(script.Int("ne"), 1);
  EXPECT_EQ(script.Int("eq2"), 0);
  EXPECT_EQ(script.Int("ne2"), 0);

  // The vector must be the left operand, and comparisons take only vectors.
  const char* errors[] = {"global r = 2 * Vector3(1, 1, 1);", "global r = Vector3(1, 1, 1) == 3;",
                          "global r = 3 == Vector3(1, 1, 1);", "global r = Vector3() + 1;"};
  for (const char* text : errors) {
    script.Run("global r = 7;");
    ASSERT_EQ(script.Run(text), 0);
    EXPECT_NE(script.Errors(), "") << text;
    EXPECT_EQ(script.Int("r"), 7) << text;
  }
}

TEST_F(ScriptHostTest, Vector3InPlaceOperations) {
  ASSERT_EQ(script.Run("global a = Vector3(-2, 0.5, 7); a.Clamp(0, 1);"
                       "global b = Vector3(-2, 0.5, 7); b.Clamp(2, 1);"
                       "global n = Vector3(3, 0, 4); global len = n.Length(); n.Normalize();"
                       "global z = Vector3(); z.Normalize();"
                       "global s = Vector3(1, 1, 1); global t = s; t.X(5); t.NegateY(); s.NegateZ();"),
            0);
  EXPECT_EQ(script.Errors(), "");
  auto component = [this](const char* a_name, const char* a_method) {
    script.Run(std::string("global out = ") + a_name + "." + a_method + "();");
    return script.Float("out");
  };
  EXPECT_EQ(component("a", "X"), 0.0f);
  EXPECT_EQ(component("a", "Y"), 0.5f);
  EXPECT_EQ(component("a", "Z"), 1.0f);
  for (const char* m : {"X", "Y", "Z"}) EXPECT_EQ(component("b", m), 1.0f) << m;
  EXPECT_EQ(script.Float("len"), 5.0f);
  EXPECT_FLOAT_EQ(component("n", "X"), 0.6f);
  EXPECT_EQ(component("n", "Y"), 0.0f);
  EXPECT_FLOAT_EQ(component("n", "Z"), 0.8f);
  for (const char* m : {"X", "Y", "Z"}) EXPECT_TRUE(std::isnan(component("z", m))) << m;
  // s and t are one vector.
  EXPECT_EQ(component("s", "X"), 5.0f);
  EXPECT_EQ(component("s", "Y"), -1.0f);
  EXPECT_EQ(component("t", "Z"), -1.0f);
}

TEST_F(ScriptHostTest, SystemModule) {
  gUserNameFake fake;
  _gSystem::userNameSource = &fake;
  fake.name = "ada";
  ASSERT_EQ(script.Run("global version = System.EngineVersion(); global first = System.Username();"), 0);
  fake.name = "grace";
  ASSERT_EQ(script.Run("global second = System.Username(); global joined = \"user \" + first;"), 0);
  EXPECT_EQ(script.Text("version"), "7.10");
  EXPECT_EQ(script.Global("first").type, GM_CSTRING);
  // One process-wide buffer: the earlier value shows the latest name too.
  EXPECT_EQ(script.Text("first"), "grace");
  EXPECT_EQ(script.Text("second"), "grace");
  EXPECT_EQ(script.Text("joined"), "user grace");

  fake.present = false;
  ASSERT_EQ(script.Run("global none = \"[\" + System.Username() + \"]\";"), 0);
  EXPECT_EQ(script.Text("none"), "[]");
  EXPECT_EQ(script.Errors(), "");
  _gSystem::userNameSource = nullptr;
}

TEST_F(ScriptHostTest, SecondModuleConstructionReturnsTheExistingModule) {
  _gSystem* module = _gSystem::instance;
  ASSERT_NE(module, nullptr);
  ASSERT_EQ(script.Run("global again = _System();"), 0);
  gmVariable again = script.Global("again");
  ASSERT_EQ(again.type, 27);
  EXPECT_EQ(again.GetUserObject()->user, module);
  EXPECT_EQ(_gSystem::instance, module);
}

TEST_F(ScriptHostTest, RandomRanges) {
  ASSERT_EQ(script.Run("global same = Random(2, 2); global lo = 1.0; global hi = 0.0; global rev = 1;"
                       "for (i = 0; i < 2000; i = i + 1) {"
                       "  r = Random(); if (r < lo) { lo = r; } if (r > hi) { hi = r; }"
                       "  q = Random(5); if (q < 1 or q > 5) { rev = 0; }"
                       "}"
                       "global kind = Random(\"a\", table());"),
            0);
  EXPECT_EQ(script.Errors(), "");
  EXPECT_EQ(script.Float("same"), 2.0f);
  EXPECT_GE(script.Float("lo"), 0.0f);
  EXPECT_LE(script.Float("hi"), 1.0f);
  EXPECT_LT(script.Float("lo"), 0.1f);
  EXPECT_GT(script.Float("hi"), 0.9f);
  EXPECT_EQ(script.Int("rev"), 1);
  EXPECT_EQ(script.Global("kind").type, GM_FLOAT);
}

TEST_F(ScriptHostTest, LoadScriptGoesThroughTheHostsLoader) {
  static std::string requested;
  host.loadScript = [](gScriptHost* a_host, const char* a_name) {
    requested = a_name;
    return a_host->GetMachine()->RunString("global loaded = 1;") == 0;
  };
  ASSERT_EQ(script.Run("global r = LoadScript(\"level.qv\"); global after = loaded;"), 0);
  EXPECT_EQ(requested, "level.qv");
  EXPECT_EQ(script.Int("after"), 1) << "the file's top-level code runs before LoadScript returns";
  EXPECT_TRUE(script.Global("r").IsNull());
  script.Run("LoadScript(3);");
  EXPECT_EQ(requested, "");
}

TEST(Prelude, ComposeFillsHolesWithinTheLimit) {
  const char* args[] = {"a", "bb"};
  std::string out;
  EXPECT_TRUE(gPrelude::Compose("%s.%s = x(%s);", args, 2, out, 100));
  EXPECT_EQ(out, "a.bb = x();");
  EXPECT_TRUE(gPrelude::Compose("%s-%s", args, 2, out, 4));
  EXPECT_EQ(out, "a-bb");
  EXPECT_FALSE(gPrelude::Compose("%s-%s", args, 2, out, 3));
}

TEST_F(ScriptHostTest, NewSceneRejectsANameThatMakesTheTextTooLong) {
  // The scene text is 324 characters plus eleven copies of the name.
  const std::string fits(63, 'a'), tooLong(64, 'a');
  ASSERT_EQ(script.Run("NewScene(\"" + tooLong + "\");"), 0);
  EXPECT_NE(script.Errors().find("is too long"), std::string::npos);
  EXPECT_TRUE(script.Global(tooLong.c_str()).IsNull());

  // A name that fits runs the text (which fails here, the scene types not being built).
  ASSERT_EQ(script.Run("NewScene(\"" + fits + "\");"), 0);
  std::string errors = script.Errors();
  EXPECT_EQ(errors.find("is too long"), std::string::npos);
  EXPECT_NE(errors, "");
}

TEST_F(ScriptHostTest, NewObjectTextHasItsOwnLimit) {
  // 38 characters of text, three copies of the scene name and three of the object name.
  const std::string fits(67, 'b'), tooLong(68, 'b');
  EXPECT_FALSE(gPrelude::RunNewObject(host.GetMachine(), "level", tooLong.c_str()));
  EXPECT_NE(script.Errors().find("is too long"), std::string::npos);
  // Compiles and runs; the object types are not built here, so the run itself fails.
  EXPECT_TRUE(gPrelude::RunNewObject(host.GetMachine(), "level", fits.c_str()));
  EXPECT_EQ(script.Errors().find("is too long"), std::string::npos);
}

// Names are pasted into the texts as code: anything but a plain identifier is refused before
// a text is composed, so a name cannot smuggle in a statement.
TEST_F(ScriptHostTest, SceneAndObjectNamesMustBePlainIdentifiers) {
  for (const char* name : {"level", "_a1", "B_2"}) EXPECT_TRUE(gPrelude::IsPlainName(name)) << name;
  for (const char* name : {"", "1a", "a b", "a.b", "S; global injected = 1; //", "a\"", "a(", "\xc3\xa9"})
    EXPECT_FALSE(gPrelude::IsPlainName(name)) << name;

  ASSERT_EQ(script.Run("NewScene(\"S; global injected = 1; //\");"), 0);
  EXPECT_NE(script.Errors().find("is not a plain name; no scene was made"), std::string::npos);
  EXPECT_FALSE(gPrelude::RunNewObject(host.GetMachine(), "level", "o; global injected = 1; //"));
  EXPECT_FALSE(gPrelude::RunNewObject(host.GetMachine(), "x = 1; global injected", "o"));
  EXPECT_NE(script.Errors().find("is not a plain name; no object was made"), std::string::npos);
  EXPECT_TRUE(script.Global("injected").IsNull());
}

// A scene-like class whose bound method makes scene cloth the way a scene does.
struct Stage {
  static gmMachineEx* machine;
  void Cloth(const char* a_name) { gPrelude::NewCloth(machine, "level", a_name); }
};
gmMachineEx* Stage::machine = nullptr;

TEST_F(ScriptHostTest, SceneClothIsAClearScriptError) {
  Stage::machine = host.GetMachine();
  gmNativeType<Stage> type(host.GetMachine(), "Stage");
  type.OwnedByScripts().Constructor<>().Method("Cloth", &Stage::Cloth);
  type.Register();
  ASSERT_EQ(script.Run("s = Stage(); s.Cloth(\"flag\"); global after = 1;"), 0);
  std::string errors = script.Errors();
  EXPECT_NE(errors.find("level.NewCloth(\"flag\"): a scene has no cloth of its own"), std::string::npos);
  EXPECT_NE(errors.find("callstack.."), std::string::npos) << "the call is a script error";
  EXPECT_TRUE(script.Global("after").IsNull()) << "the calling thread stops";

  // Outside the failing call, bound calls go on as before.
  ASSERT_EQ(script.Run("global v = Vector3(1, 2, 3).Y();"), 0);
  EXPECT_EQ(script.Float("v"), 2.0f);
}

TEST_F(ScriptHostTest, ConstantGlobals) {
  struct Case {
    const char* name;
    int value;
  } cases[] = {{"BUT_DOWN", 0},       {"BUT_UP", 2},      {"WIIBUT_LEFT", 0},  {"WIIBUT_MINUS", 12},
               {"WIIBUT_HOME", 15},   {"TIMER_ONCE", 1},  {"TIMER_CYCLIC", 2}, {"MOU_MIDDLE", 2},
               {"KEY_MBUTTON", 4},    {"KEY_HANGUL", 21}, {"KEY_KANJI", 25},   {"KEY_0", 48},
               {"KEY_9", 57},         {"KEY_A", 65},      {"KEY_Z", 90},       {"KEY_NUMPAD9", 105},
               {"KEY_F1", 112},       {"KEY_F24", 135},   {"KEY_RMENU", 165},  {"KEY_PERIOD", 190},
               {"KEY_OEM_CLEAR", 254}};
  for (const Case& c : cases) EXPECT_EQ(script.Int(c.name), c.value) << c.name;
  int present = 0;
  for (const gScriptConstant& c : gScriptConstants) present += script.Global(c.name).IsInt();
  EXPECT_EQ(present, 158);
  EXPECT_TRUE(script.Global("KEY_TAB").IsNull());
}

}  // namespace
