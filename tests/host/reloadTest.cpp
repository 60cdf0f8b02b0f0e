// Reload in place, driven frame by frame in this process: the player is started as
// "--dev --nowindow --fixed-clock", the package's files are changed between frames, and
// F5 reaches the device as a window's key press does.
#include <gtest/gtest.h>
#include <irrlicht.h>
#include <unistd.h>

#include <string>

#include "audio/_gAudio.h"
#include "audio/objAudSource.h"
#include "binding/gmWrappable.h"
#include "clock/_gClock.h"
#include "graphics/_gGraphics.h"
#include "host/gFrame.h"
#include "host/gHost.h"
#include "input/_gInput.h"
#include "network/_gNetwork.h"
#include "physics/scePhysics.h"
#include "scene/gScene.h"
#include "tests/host/hostFixture.h"

namespace {

using hostTest::WriteFile;

// Something of every kind a game makes: a scene with a physics world and a scene graph,
// objects with bodies, meshes, a camera, a light, an effect, sources and a per-frame
// function, a sound, a texture, a text, timers, a counter and key, mouse and Wiimote
// callbacks.
const char* const kBusyGame = R"(
global version = "one";
print("start", version);
NewScene("world");
world.Physics.Gravity(0, -0.03, 0);
global ball = world.NewObject("ball");
ball.Physics.NewSphere("core");
ball.Graphics.NewMesh("look", Graphics.NewMesh("ball.obj"));
ball.Graphics.Mesh("look").Texture(Graphics.NewTexture("ball.png"));
ball.Graphics.NewBillboard("glow");
ball.hum = AudioSource(ball);
ball.hum.Load(Audio.AddSound("hum.ogg"));
global spin = function(o) { };
ball.Script("spin");
global eye = world.NewObject("eye");
eye.Graphics.NewCamera("view");
eye.Graphics.NewLight("lamp");
global watch = Counter();
watch.Start();
global label = Graphics.NewText("hello", 10, 10, "#DefaultFont");
global tick = function(t) { print("tick", version); };
Clock.AddTimer(TIMER_CYCLIC, 300, "tick", table());
Clock.AddTimer(TIMER_ONCE, 100000, "tick", table());
global jump = function() { };
Input.ScriptButton(KEY_SPACE, BUT_DOWN, "jump");
Input.ScriptMouse("jump");
Input.Wiimote().ScriptButton(WIIBUT_A, BUT_DOWN, "jump");
)";

class Reload : public ::testing::Test {
 protected:
  void SetUp() override {
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    m_cwd = here;
    game = dir.path / "game";
    WriteFile(game / "start.qv", kBusyGame);
    WriteFile(game / "ball.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  }

  void TearDown() override {
    if (m_started) host.Finish();
    delete _gNetwork::instance;
    delete _gAudio::instance;
    delete _gGraphics::instance;
    delete _gClock::instance;
    delete _gInput::instance;
    ASSERT_EQ(chdir(m_cwd.c_str()), 0);
  }

  void Start() {
    setenv("ALSOFT_DRIVERS", "null", 1);
    const std::string package = game.string();
    const char* argv[] = {"ombrix", "--nowindow", "--fixed-clock", "--dev", package.c_str()};
    int status = 0;
    m_started = host.Start(5, argv, &status);
    ASSERT_TRUE(m_started) << status;
    host.PrepareFrame();
  }

  // F5 as the window delivers it in an input step; the reload happens before the next frame.
  void PressF5() {
    irr::SEvent event{};
    event.EventType = irr::EET_KEY_INPUT_EVENT;
    event.KeyInput.Key = irr::KEY_F5;
    event.KeyInput.PressedDown = true;
    host.device->postEventFromUser(event);
    event.KeyInput.PressedDown = false;
    host.device->postEventFromUser(event);
  }

  int Finish() {
    m_started = false;
    return host.Finish();
  }

  void Frames(int a_count) {
    for (int i = 0; i < a_count; ++i) host.frame->Run();
  }

  hostTest::ScratchDir dir;
  hostTest::fs::path game;
  gHost host;

 private:
  std::string m_cwd;
  bool m_started = false;
};

TEST_F(Reload, F5RunsTheChangedGameInAFreshMachineAndEndsEverythingOfTheOld) {
  testing::internal::CaptureStdout();
  Start();
  Frames(12);
  irr::IrrlichtDevice* const device = host.device;
  EXPECT_GT(gScene::Registry().count, 0);
  EXPECT_GT(scePhysics::Worlds().count, 0);
  EXPECT_GT(gmWrappable::Live(), 5);

  // The new game makes nothing, so whatever is left was the old game's.
  WriteFile(game / "start.qv", "print(\"start two, old global:\", version);\n");
  PressF5();
  Frames(1);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(host.device, device);
  EXPECT_EQ(gScene::Registry().count, 0);
  EXPECT_EQ(scePhysics::Worlds().count, 0);
  _gGraphics* graphics = _gGraphics::instance;
  EXPECT_EQ(graphics->cameras.count + graphics->textures.count + graphics->meshes.count + graphics->texts.count, 0);
  EXPECT_EQ(_gClock::instance->PendingTimers(), 0);
  // The new game's clock counts from its own start.
  EXPECT_EQ(_gClock::instance->frameCounter, 1u);
  EXPECT_EQ(_gAudio::instance->sounds.count, 0);
  EXPECT_EQ(objAudSource::Live().count, 0);
  EXPECT_EQ(_gInput::instance->keys[irr::KEY_SPACE].callback[0], "");
  EXPECT_EQ(_gInput::instance->mouse.moveCallback, "");
  EXPECT_EQ(_gInput::instance->Wiimote()->connectCallback, "");
  // The process keeps one native of this kind: the Wiimote object.
  EXPECT_EQ(gmWrappable::Live(), 1);

  const size_t second = out.find("start two, old global: null \n");
  ASSERT_NE(second, std::string::npos) << out;
  EXPECT_NE(out.find("Reloaded in ", second), std::string::npos) << out;
  EXPECT_EQ(out.find("error"), std::string::npos) << out;
  // The old game's timer ran before and never after.
  EXPECT_NE(out.find("tick one"), std::string::npos) << out;
  EXPECT_EQ(out.find("tick one", second), std::string::npos) << out;

  // The normal end of a run is the same teardown.
  WriteFile(game / "start.qv", kBusyGame);
  PressF5();
  Frames(3);
  EXPECT_GT(gmWrappable::Live(), 5);
  EXPECT_EQ(Finish(), 0);
  EXPECT_EQ(gScene::Registry().count, 0);
  EXPECT_EQ(gmWrappable::Live(), 0);
}

TEST_F(Reload, ACompileErrorKeepsTheRunningGameUntilTheNextGoodSave) {
  testing::internal::CaptureStdout();
  Start();
  Frames(2);
  WriteFile(game / "start.qv", "global version = \"two\";\nprint(\"start\" version);\n");
  PressF5();
  Frames(30);
  WriteFile(game / "start.qv", "global version = \"three\";\nprint(\"start\", version);\n");
  PressF5();
  Frames(2);
  const std::string out = testing::internal::GetCapturedStdout();
  const size_t refused = out.find("start.qv(2) : ");
  ASSERT_NE(refused, std::string::npos) << out;
  const size_t notReloaded = out.find("Not reloaded: the game goes on as it was", refused);
  ASSERT_NE(notReloaded, std::string::npos) << out;
  // The old game goes on: its timer still fires, its scene still stands.
  const size_t third = out.find("start three \n");
  ASSERT_NE(third, std::string::npos) << out;
  EXPECT_LT(notReloaded, third);
  EXPECT_NE(out.find("Reloaded in ", third), std::string::npos) << out;
  EXPECT_LT(out.find("tick one", notReloaded), third);
  EXPECT_EQ(out.find("start two"), std::string::npos) << out;
}

}  // namespace
