// A scene's NewObject makes objects natively while nothing the object text reaches has been
// replaced, and through the text otherwise. The same game is played both ways (a debug line
// hook, which must see every line run, keeps the text's way) and must leave the same
// output, log, objects and thread ids; cases that replace what the text calls, or that the
// text refuses, are part of the game.
#include <gtest/gtest.h>
#include <irrlicht.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "binding/gPrelude.h"
#include "binding/gPreludeTexts.h"
#include "binding/gScriptMachine.h"
#include "clock/_gClock.h"
#include "graphics/_gGraphics.h"
#include "graphics/sceGraphics.h"
#include "host/gObjectComponents.h"
#include "host/gPlayerScriptApi.h"
#include "input/_gInput.h"
#include "physics/scePhysics.h"
#include "platform/gMilliClockFake.h"
#include "scene/gScene.h"
#include "scene/sceObject.h"

namespace {

using Lines = std::vector<std::string>;

// Every component real: graphics on the null driver, physics, audio without a device.
class Game {
 public:
  explicit Game(bool a_textOnly) {
    s_printed = &printed;
    m_savedPrint = gmMachine::s_printCallback;
    gmMachine::s_printCallback = [](gmMachine*, const char* a_text) {
      std::string line = a_text;
      while (!line.empty() && line.back() == ' ') line.pop_back();
      s_printed->push_back(line);
    };
    time.now = 50'000'000;
    _gClock::instance->Initialise(&time, machine);
    _gGraphics::instance->device = device;
    gObjectComponents::Install();
    scePhysics::InstallContactCallback();
    if (a_textOnly) machine->debugLine = [](gmThread*) { return false; };
  }
  ~Game() {
    gPtrList& scenes = gScene::Registry();
    for (int i = 0; i < scenes.count; ++i) delete static_cast<gScene*>(scenes.Get(i))->graphics;
    gScene::DestroyAll();
    scePhysics::DestroyAll();
    host.reset();
    delete _gGraphics::instance;
    delete _gClock::instance;
    delete _gInput::instance;
    device->drop();
    gmMachine::s_printCallback = m_savedPrint;
    s_printed = nullptr;
  }
  Game(const Game&) = delete;
  Game& operator=(const Game&) = delete;

  void Run(const std::string& a_text) { ASSERT_EQ(machine->RunString(a_text.c_str()), 0) << a_text; }

  Lines Log() {
    Lines entries;
    bool first = true;
    while (const char* entry = machine->GetLog().GetEntry(first)) entries.push_back(entry);
    return entries;
  }
  // Every scene's name and its objects' names, in list order.
  static Lines Scenes() {
    Lines lines;
    gPtrList& scenes = gScene::Registry();
    for (int i = 0; i < scenes.count; ++i) {
      const gScene* scene = static_cast<const gScene*>(scenes.Get(i));
      std::string line = scene->name + ":";
      for (int j = 0; j < scene->objects.count; ++j) line += " " + static_cast<sceObject*>(scene->objects.Get(j))->name;
      lines.push_back(line);
    }
    return lines;
  }
  // Whether the kept object text for a_scene and a_object has ever run.
  bool TextRan(const char* a_scene, const char* a_object) {
    const char* const args[] = {a_scene, a_object, a_scene, a_scene, a_object, a_object};
    std::string text;
    gPrelude::Compose(gPreludeText::NewObject, args, 6, text, gPrelude::kObjectTextMax);
    gmFunctionObject* kept = machine->KeptString(text);
    return kept && kept->execCode != nullptr;
  }

  std::unique_ptr<gScriptHost> host = gNewScriptHost(false, gPlayerScriptApi());
  gmMachineEx* machine = host->GetMachine();
  irr::IrrlichtDevice* device = irr::createDevice(irr::video::EDT_NULL, irr::core::dimension2d<irr::u32>(1024, 768), 32,
                                                  false, false, false, &_gInput::instance->receiver);
  gMilliClockFake time;
  Lines printed;

 private:
  static inline Lines* s_printed = nullptr;
  gmPrintCallback m_savedPrint = nullptr;
};

struct Outcome {
  Lines printed, log, scenes;
  bool operator==(const Outcome& a_other) const {
    return printed == a_other.printed && log == a_other.log && scenes == a_other.scenes;
  }
};

std::ostream& operator<<(std::ostream& a_out, const Outcome& a_outcome) {
  for (const Lines* lines : {&a_outcome.printed, &a_outcome.log, &a_outcome.scenes}) {
    a_out << "--\n";
    for (const std::string& line : *lines) a_out << line << "\n";
  }
  return a_out;
}

// Each text is one run, as a game's callbacks would be.
// Each text is one run, as a game's callbacks would be. Members are listed by name: the
// order foreach takes depends on where the machine put the names, which differs between
// two machines, so that order is compared within one game (an object made by NewObject
// against one made by calling Object).
const char* const kGame[] = {
    "NewScene(\"level\"); NewScene(\"other\");"
    "global members = function(o) { s = \"\"; foreach (k and v in o) { s = s + k + \":\" + typeName(v) + \" \"; }"
    "  return s; };"
    "global show = function(o) { n = 0; foreach (k and v in o) { n = n + 1; }"
    "  print(n, typeName(o._core), typeName(o.Physics), typeName(o.Graphics), typeName(o.Audio), typeName(o.Script),"
    "    typeName(o.Delete)); };"
    "global step = function(o) { print(\"step\", o._core._Scene() == level, this == null); };"
    "global t0 = thread(function() {});",
    // The common case: what the object is, and the functions it shares with every object.
    "global a = level.NewObject(\"a\"); global b = level.NewObject(\"b\");"
    "print(a == level.a, b == level.b, a != b, a._core != b._core, a._core._Scene() == level);"
    "print(a.Script == b.Script, a.Delete == b.Delete, typeName(a.Script), typeName(a.Delete));"
    "show(a); print(a.Physics.Mass(), typeName(a.Graphics), typeName(a.Audio));"
    "global c = Object(level); print(\"shared\", c.Script == a.Script, c.Delete == a.Delete, members(c) == members(a));"
    "print(thread(function() {}) - t0);",
    // Script and Delete run with the object as `this`.
    "a.Script(\"step\"); b.Delete(); level.NewObject(\"a\");",
    // Made from inside a per-frame function.
    "global maker = function(o) { if (!level.inner) { print(level.NewObject(\"inner\") == level.inner); } };"
    "c.Script(\"maker\");",
    // A scene global holding another scene's table: the object goes there and the call returns null.
    "global keep = level; global level = other;"
    "print(keep.NewObject(\"moved\") == null, typeName(other.moved), typeName(keep.moved));"
    "global level = keep;",
    // Names the text cannot take, and a scene with no physics world.
    "print(level.NewObject(\"table\") == null, level.NewObject(\"while\") == null, level.NewObject(\"1x\") == null);"
    "global bare = table(_core = _Scene()); bare._core._Name(\"bare\"); bare._core._Table(bare);"
    "print(bare._core._NewObject(\"x\") == null);",
    // What the text calls, replaced for a while: it is called where the text calls it.
    "global realPhysics = _ObjPhysics;"
    "global _ObjPhysics = function(o) { print(\"physics for\", typeName(o)); return realPhysics(o); };"
    "level.NewObject(\"d\"); global _ObjPhysics = realPhysics; show(level.NewObject(\"e\"));",
    "global realObject = Object; global Object = function(s) { print(\"Object\"); return realObject(s); };"
    "level.NewObject(\"f\"); global Object = realObject; level.NewObject(\"g\");",
    "typeRegisterVariable(typeId(a._core), \"_Name\", function(n) { print(\"named\", n); });"
    "level.NewObject(\"h\");",
    "print(thread(function() {}) - t0); show(b);",
};

Outcome Play(bool a_textOnly, bool* a_textRan = nullptr) {
  Game game(a_textOnly);
  for (const char* text : kGame) {
    game.Run(text);
    gScene::UpdateAll();
  }
  gScene::UpdateAll();
  if (a_textRan) *a_textRan = game.TextRan("level", "b");
  return Outcome{game.printed, game.Log(), Game::Scenes()};
}

TEST(ObjectMaking, NativeAndTextWaysCannotBeToldApart) {
  bool fastRan = true, textRan = false;
  const Outcome fast = Play(false, &fastRan);
  const Outcome text = Play(true, &textRan);
  EXPECT_FALSE(fastRan);
  EXPECT_TRUE(textRan);
  EXPECT_EQ(fast, text);
  // The game did what it says: the members, the shared functions, this in the calls, and
  // the cases that fail or call replacements.
  const Lines has = fast.printed;
  auto printed = [&has](const char* a_line) { return std::find(has.begin(), has.end(), a_line) != has.end(); };
  EXPECT_TRUE(printed("1 1 1 1 1"));
  EXPECT_TRUE(printed("1 1 function function"));
  EXPECT_TRUE(printed("6 _Object _ObjPhysics _ObjGraphics _ObjAudio function function"));
  EXPECT_TRUE(printed("shared 1 1 1"));
  EXPECT_TRUE(printed("1 1 1"));
  EXPECT_TRUE(printed("step 1 1"));
  EXPECT_TRUE(printed("1 table null"));
  EXPECT_TRUE(printed("physics for _Object"));
  EXPECT_TRUE(printed("Object"));
  EXPECT_TRUE(printed("named h"));
  EXPECT_TRUE(printed("0 null null null null null null"));
  EXPECT_FALSE(fast.log.empty());
}

}  // namespace
