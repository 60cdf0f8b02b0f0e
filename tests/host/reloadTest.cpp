// Reload in place, driven frame by frame in this process: the player is started as
// "--dev --nowindow --fixed-clock", the package's files are changed between frames, and
// F5 reaches the device as a window's key press does.
#include <gtest/gtest.h>
#include <irrlicht.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "audio/_gAudio.h"
#include "audio/objAudSource.h"
#include "binding/gmWrappable.h"
#include "clock/_gClock.h"
#include "graphics/_gGraphics.h"
#include "host/gDeveloperMenu.h"
#include "host/gFrame.h"
#include "host/gHost.h"
#include "input/_gInput.h"
#include "network/_gNetwork.h"
#include "physics/scePhysics.h"
#include "scene/gScene.h"
#include "tests/host/hostFixture.h"

namespace {

using hostTest::WriteFile;

// Something of every kind a game makes: a scene with a physics world, a scene graph and a
// sky box, objects with bodies that touch, meshes, a camera, a light, a billboard,
// particles, a beam, a cloth, sources and a per-frame function, a sound, a texture, a text,
// timers, a counter, a score query that is still waiting, a ray cast and collision, key,
// mouse and Wiimote callbacks.
const char* const kBusyGame = R"(
global version = "one";
print("start", version);
NewScene("world");
world.Physics.Gravity(0, -0.03, 0);
global ball = world.NewObject("ball");
ball.Physics.NewSphere("core");
ball.Physics.Sphere("core").Radius(1);
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
world.Graphics.SkyBox("sky.png");
ball.Graphics.NewParticles("sparks");
ball.Graphics.NewBeam("ray");
ball.Physics.NewCloth("flag");
ball.Physics.Cloth("flag").AddMesh(Graphics.NewMesh("ball.obj"));
ball.Physics.Mass(1);
ball.Physics.ScriptCollision("jump");
global floor = world.NewObject("floor");
floor.Physics.NewBox("slab");
floor.Physics.Box("slab").Dimensions(5, 0.5, 5);
floor.Physics.Position(0, -1, 0);
world.Physics.RayCast(Vector3(0, 5, 0), Vector3(0, -5, 0), "jump");
Network.GetScore("busy", "1", "", 1, 5, "jump");
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
    for (const char* asset : {"hum.ogg", "ball.png", "sky_top.png", "sky_bottom.png", "sky_left.png", "sky_right.png",
                              "sky_front.png", "sky_back.png"})
      hostTest::fs::copy_file(hostTest::fs::path(OMBRIX_ASSETS) / asset, game / asset);
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
    setenv("XDG_CACHE_HOME", (dir.path / "cache").c_str(), 1);
    const std::string package = game.string();
    // The score query finds nobody listening, without a name to look up.
    const char* argv[] = {"ombrix",      "--nowindow", "--fixed-clock", "--score-server",
                          "127.0.0.1:9", "--dev",      package.c_str()};
    int status = 0;
    m_started = host.Start(7, argv, &status);
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

  void Key(irr::EKEY_CODE a_key, bool a_down, bool a_control = false) {
    irr::SEvent event{};
    event.EventType = irr::EET_KEY_INPUT_EVENT;
    event.KeyInput.Key = a_key;
    event.KeyInput.PressedDown = a_down;
    event.KeyInput.Control = a_control;
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
  // The refusal shows in the window too, until the good save.
  const std::wstring shown = host.menu->ReloadProblem();
  PressF5();
  Frames(2);
  EXPECT_EQ(host.menu->ReloadProblem(), L"");
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(shown.find(L"Not reloaded: start.qv(2) : "), 0u) << std::string(shown.begin(), shown.end());
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

// A script in a zip of the developer package, or in a sub-folder, is loaded like a loose
// one, so a compile error there keeps the running game as well.
TEST_F(Reload, AScriptInAZipOrASubFolderThatDoesNotCompileKeepsTheRunningGame) {
  WriteFile(game / "start.qv", "print(\"start\", LoadScript(\"more.qv\"));\n");
  ASSERT_TRUE(hostTest::MakeZip(game / "level.zip", {{"scripts/more.qv", "print(\"more one\");\n"}}));
  testing::internal::CaptureStdout();
  Start();
  Frames(1);
  ASSERT_TRUE(hostTest::MakeZip(game / "level.zip", {{"scripts/more.qv", "print(\"more\" two);\n"}}));
  PressF5();
  Frames(1);
  WriteFile(game / "levels/next.qv", "print(\"next\" one);\n");
  ASSERT_TRUE(hostTest::MakeZip(game / "level.zip", {{"scripts/more.qv", "print(\"more two\");\n"}}));
  PressF5();
  Frames(1);
  WriteFile(game / "levels/next.qv", "print(\"next one\");\n");
  PressF5();
  Frames(1);
  const std::string out = testing::internal::GetCapturedStdout();
  const size_t zip = out.find("\nlevel.zip/scripts/more.qv(1) : ");
  const size_t folder = out.find("\nlevels/next.qv(1) : ", zip);
  ASSERT_NE(zip, std::string::npos) << out;
  ASSERT_NE(folder, std::string::npos) << out;
  EXPECT_EQ(out.find("more two"), out.rfind("more two")) << out;
  EXPECT_LT(folder, out.find("more two")) << out;
  EXPECT_EQ(out.find("Reloaded in "), out.rfind("Reloaded in ")) << out;
}

// Ctrl+R reloads once however long it is held, and neither its R nor its repeats reach the
// new game, even when Ctrl is let go first; the next R is the game's again.
TEST_F(Reload, CtrlRReloadsOnceAndItsKeyUpNeverReachesTheNewGame) {
  WriteFile(game / "start.qv",
            "print(\"start\");\n"
            "global down = function() { print(\"R down\"); };\n"
            "global up = function() { print(\"R up\"); };\n"
            "Input.ScriptButton(KEY_R, BUT_DOWN, \"down\");\n"
            "Input.ScriptButton(KEY_R, BUT_UP, \"up\");\n");
  testing::internal::CaptureStdout();
  Start();
  Frames(1);
  Key(irr::KEY_LCONTROL, true, true);
  Key(irr::KEY_KEY_R, true, true);
  Frames(1);
  Key(irr::KEY_KEY_R, true, true);
  Frames(1);
  Key(irr::KEY_LCONTROL, false);
  Key(irr::KEY_KEY_R, true);
  Frames(1);
  Key(irr::KEY_KEY_R, false);
  Frames(2);
  const std::string held = testing::internal::GetCapturedStdout();
  EXPECT_EQ(held.find("R "), std::string::npos) << held;
  const size_t reloaded = held.find("Reloaded in ");
  ASSERT_NE(reloaded, std::string::npos) << held;
  EXPECT_EQ(held.find("Reloaded in ", reloaded + 1), std::string::npos) << held;

  testing::internal::CaptureStdout();
  Key(irr::KEY_KEY_R, true);
  Frames(1);
  Key(irr::KEY_KEY_R, false);
  Frames(1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "R down \nR up \n");
}

// A reload after a save of scripts alone keeps what the engine learnt about the package's
// files; a mesh saved since is tried again, so a damaged one is named instead of crashing
// the player.
TEST_F(Reload, AMeshDamagedBeforeAReloadIsTriedAgain) {
  testing::internal::CaptureStdout();
  Start();
  Frames(2);
  PressF5();
  Frames(2);
  WriteFile(game / "ball.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3000000\n");
  PressF5();
  Frames(2);
  const std::string out = testing::internal::GetCapturedStdout();
  const size_t damaged = out.find("ball.obj is damaged: the mesh loader crashed on it");
  ASSERT_NE(damaged, std::string::npos) << out;
  EXPECT_NE(out.find("Reloaded in ", damaged), std::string::npos) << out;
  EXPECT_EQ(out.find("ball.obj is damaged", damaged + 1), std::string::npos) << out;
}

// Twenty reloads of the game that makes something of every kind: each new game holds
// exactly what the first one did, so nothing of an old game lives on beside it (and the
// sanitizer build's leak check finds what was dropped without being freed).
TEST_F(Reload, TwentyReloadsEachLeaveExactlyWhatOneGameMakes) {
  testing::internal::CaptureStdout();
  Start();
  Frames(3);
  const auto counts = [this] {
    _gGraphics* graphics = _gGraphics::instance;
    irr::video::IVideoDriver* driver = host.device->getVideoDriver();
    return std::vector<long>{
        gmWrappable::Live(),
        gScene::Registry().count,
        scePhysics::Worlds().count,
        objAudSource::Live().count,
        _gAudio::instance->sounds.count,
        graphics->textures.count + graphics->meshes.count + graphics->texts.count,
        _gClock::instance->PendingTimers(),
        static_cast<long>(driver->getTextureCount()),
        static_cast<long>(host.device->getSceneManager()->getMeshCache()->getMeshCount()),
        static_cast<long>(host.device->getGUIEnvironment()->getRootGUIElement()->getChildren().size())};
  };
  std::vector<long> first;
  for (int reload = 1; reload <= 20; ++reload) {
    PressF5();
    Frames(1);
    if (reload == 1) first = counts();
    EXPECT_EQ(counts(), first) << "after reload " << reload;
    Frames(2);
  }
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(first[0] > 10 && first[1] == 1 && first[3] > 0 && first[4] > 0, true) << out;
  size_t reloads = 0;
  for (size_t at = out.find("Reloaded in "); at != std::string::npos; at = out.find("Reloaded in ", at + 1)) ++reloads;
  EXPECT_EQ(reloads, 20u) << out;
  EXPECT_EQ(Finish(), 0);
  EXPECT_EQ(gmWrappable::Live(), 0);
}

}  // namespace
