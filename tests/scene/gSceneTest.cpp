// Scenes and objects through the frame's scene step: per-frame functions, deletion from
// inside the walk, objects made during it, and what a destroyed object leaves behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scene/gScene.h"
#include "scene/sceObject.h"
#include "script/values/gmUserObject.h"
#include "tests/game/gameFixture.h"

namespace {

using Lines = std::vector<std::string>;

// Natives standing in for the prelude's Delete and NewObject, on the one scene under test.
gScene* s_scene = nullptr;
int s_objectType = 0;

int DeleteNative(gmThread* a_thread) {
  s_scene->_DelObject(a_thread->ParamTable(0));
  return GM_NATIVE_OK;
}

sceObject* MakeObject(gmMachine* a_machine, gScene* a_scene, const std::string& a_name, const char* a_function) {
  sceObject* object = new sceObject(a_scene);
  gmTableObject* table = a_machine->MakeTable();
  table->SetByName(a_machine, "name", gmVariable(a_machine->MakeString(a_name.c_str())));
  // The wrapper that the constructor would have made, as the prelude stores it.
  gmUserObject* core = a_machine->MakeUserObject(object, s_objectType);
  object->AddWrapper(core);
  table->SetByName(a_machine, "_core", gmVariable(core));
  a_machine->GetGlobals()->SetByName(a_machine, a_name.c_str(), gmVariable(table));
  object->_Table(table);
  object->_Name(a_name.c_str());
  object->_Script(a_function);
  return object;
}

int NewObjectNative(gmThread* a_thread) {
  MakeObject(a_thread->GetMachine(), s_scene, a_thread->ParamString(0), a_thread->ParamString(1));
  return GM_NATIVE_OK;
}

class SceneTest : public testing::Test {
 protected:
  void SetUp() override {
    gScene::machine = script.machine.get();
    scene = new gScene();
    s_scene = scene;
    s_objectType = script.machine->DefineType("_Object");
    const gmFunctionEntry natives[] = {{"Delete", DeleteNative, 0}, {"NewObject", NewObjectNative, 0}};
    script.machine->RegisterNatives(natives, 2);
    script.Run("global show = function(o) { print(o.name); };");
  }
  void TearDown() override {
    gScene::DestroyAll();
    gScene::machine = nullptr;
  }

  sceObject* Make(const std::string& a_name, const char* a_function = "show") {
    return MakeObject(script.machine.get(), scene, a_name, a_function);
  }
  void Frame() {
    ++script.frame;
    gScene::UpdateAll();
  }
  Lines Order() const {
    Lines names;
    for (int i = 0; i < scene->objects.count; ++i)
      names.push_back(static_cast<sceObject*>(scene->objects.Get(i))->name);
    return names;
  }

  gameTest::ScriptMachine script;
  gScene* scene = nullptr;
};

TEST_F(SceneTest, ScenesAreRegisteredInCreationOrder) {
  gScene* second = new gScene();
  EXPECT_EQ(gScene::Registry().Get(0), scene);
  EXPECT_EQ(gScene::Registry().Get(1), second);
}

TEST_F(SceneTest, ObjectDeletingItselfIsUpdatedThisFrameAndDestroyedTheNext) {
  script.Run("global selfDelete = function(o) { print(o.name); Delete(o); };");
  Make("a", "selfDelete");
  Make("b");
  Make("c");
  Frame();
  EXPECT_EQ(script.Lines(), (Lines{"a", "b", "c"}));
  EXPECT_EQ(Order(), (Lines{"a", "b", "c"}));

  script.printed.clear();
  Frame();
  // The last object moved into the freed place, after the walk had passed it.
  EXPECT_EQ(Order(), (Lines{"c", "b"}));
  EXPECT_EQ(script.Lines(), (Lines{"b"}));
  script.printed.clear();
  Frame();
  EXPECT_EQ(script.Lines(), (Lines{"c", "b"}));
}

TEST_F(SceneTest, DeletingAnotherObjectLeavesTheWalkUndisturbed) {
  // a deletes d, later in the walk: d is destroyed when the walk reaches it, and b and c
  // are updated once each.
  script.Run("global killer = function(o) { print(o.name); Delete(d); };");
  Make("a", "killer");
  Make("b");
  Make("c");
  Make("d");
  Frame();
  EXPECT_EQ(script.Lines(), (Lines{"a", "b", "c"}));
  EXPECT_EQ(Order(), (Lines{"a", "b", "c"}));
}

// Each destruction moves the last object into the freed place, over several frames of
// deletions in and out of list order.
TEST_F(SceneTest, DestroyedObjectsLeaveTheLastOneInTheirPlace) {
  script.Run("global quiet = function(o) { };");
  for (const char* name : {"a", "b", "c", "d", "e", "f"}) Make(name, "quiet");
  script.Run("Delete(b);");
  Frame();
  EXPECT_EQ(Order(), (Lines{"a", "f", "c", "d", "e"}));
  script.Run("Delete(f); Delete(a);");
  Frame();
  EXPECT_EQ(Order(), (Lines{"e", "d", "c"}));
  // c takes e's place while e is being destroyed, so the walk meets it only next frame.
  script.Run("Delete(c); Delete(e);");
  Frame();
  EXPECT_EQ(Order(), (Lines{"c", "d"}));
  Frame();
  EXPECT_EQ(Order(), (Lines{"d"}));
}

TEST_F(SceneTest, ObjectsMadeDuringTheWalkAreUpdatedInIt) {
  script.Run(
      "global maker = function(o) { print(o.name); if (!made) { global made = 1; NewObject(\"late\", \"show\"); } };");
  Make("a", "maker");
  Make("b");
  Frame();
  EXPECT_EQ(script.Lines(), (Lines{"a", "b", "late"}));
}

TEST_F(SceneTest, ScriptFunctionsAreLookedUpEachFrameAndCanBeSwitchedOff) {
  sceObject* a = Make("a", "later");
  Make("b", "");
  Frame();  // no such function yet
  script.Run("global later = function(o) { print(\"later \" + o.name); };");
  Frame();
  a->_Script("");
  Frame();
  EXPECT_EQ(script.printed, (std::vector<std::pair<unsigned, std::string>>{{2, "later a"}}));
}

TEST_F(SceneTest, DestroyedObjectLeavesAnEmptyTableAndACutWrapper) {
  sceObject* a = Make("a");
  Make("b");
  gmTableObject* table = a->table.Get();
  gmUserObject* core = table->GetByName(script.machine.get(), "_core").GetUserObject();
  ASSERT_EQ(core->user, a);
  ASSERT_GT(table->Count(), 0);

  scene->_DelObject(script.Table("nobody"));  // no such table: nothing happens
  scene->_DelObject(nullptr);
  Frame();
  EXPECT_EQ(Order(), (Lines{"a", "b"}));

  scene->_DelObject(table);
  Frame();
  EXPECT_EQ(Order(), (Lines{"b"}));
  EXPECT_EQ(table->Count(), 0);
  EXPECT_EQ(core->user, nullptr);
  // A script holding the table sees no members, and a second Delete finds nothing.
  script.Run("global after = a.name;");
  EXPECT_TRUE(script.machine->GetGlobals()->GetByName(script.machine.get(), "after").IsNull());
  scene->_DelObject(table);
  Frame();
  EXPECT_EQ(Order(), (Lines{"b"}));
}

TEST_F(SceneTest, TablesLiveAsLongAsTheirSceneAndObjects) {
  Make("a");
  script.Run("global level = table(kind = \"scene\");");
  scene->_Table(script.Table("level"));
  script.Run("global a = null; global level = null;");
  script.machine->Collect(true);
  Frame();
  EXPECT_EQ(script.Lines(), (Lines{"a"}));
  EXPECT_EQ(scene->table.Get()->GetByName(script.machine.get(), "kind").IsString(), true);
}

TEST_F(SceneTest, ObjectKnowsItsSceneTable) {
  script.Run("global level = table(kind = \"scene\");");
  scene->_Table(script.Table("level"));
  scene->_Name("level");
  sceObject* a = Make("a");
  EXPECT_EQ(a->_Scene(), script.Table("level"));
  EXPECT_EQ(scene->name, "level");
  sceObject orphan(nullptr);
  EXPECT_EQ(orphan._Scene(), nullptr);
}

}  // namespace
