// Two figures of the running game, from a build without sanitizers:
//   build/bench/game/game_bench
// 1. A scene of 1000 objects, each with a per-frame script function doing a little float
//    arithmetic on its table, for 300 frames on a fake clock: the mean time per frame of the
//    scripts and the loop (the frame's budget is 33 ms; the target is under 3 ms).
// 2. An idle game at 30 frames per second on the real clock for a few seconds: the
//    processor time it takes, as a share of one core (target under 5%).
#include <irrlicht.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "binding/gScriptMachine.h"
#include "clock/_gClock.h"
#include "host/gFrame.h"
#include "host/gPlayerScriptApi.h"
#include "input/_gInput.h"
#include "platform/gMilliClock.h"
#include "platform/gMilliClockFake.h"
#include "scene/gScene.h"

namespace {

void Quiet(gmMachine*, const char*) {}

double ProcessorSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

struct Game {
  std::unique_ptr<gScriptHost> host = gNewScriptHost(false, gPlayerScriptApi());
  gmMachineEx* machine = host->GetMachine();
  irr::IrrlichtDevice* device = irr::createDevice(irr::video::EDT_NULL, irr::core::dimension2d<irr::u32>(1024, 768), 32,
                                                  false, false, false, &_gInput::instance->receiver);
  gFrame frame;

  explicit Game(gMilliClock* a_time) {
    _gClock::instance->Initialise(a_time, machine);
    _gInput::instance->Setup(device, machine, false);
    frame.machine = machine;
    frame.input = _gInput::instance;
    frame.clock = _gClock::instance;
  }
  ~Game() {
    gScene::DestroyAll();
    device->drop();
  }
};

}  // namespace

int main() {
  gmMachine::s_printCallback = Quiet;
  {
    gMilliClockFake time;
    Game game(&time);
    game.machine->RunString(
        "global _ScePhysics = function(s) { return null; };"
        "global _SceGraphics = function(s) { return null; };"
        "global _ObjPhysics = function(o) { return null; };"
        "global _ObjGraphics = function(o) { return null; };"
        "global _ObjAudio = function(o) { return null; };"
        "global move = function(o) { o.x = o.x + o.vx * 0.5; o.vx = o.vx * 0.99 + 0.01; o.y = (o.y + o.x) * 0.5; };"
        "NewScene(\"level\");"
        "for (i = 0; i < 1000; i = i + 1) {"
        "  o = level.NewObject(\"o\" + i); o.x = 0.0; o.y = 1.0; o.vx = 1.0 * i; o.Script(\"move\");"
        "}");
    const int frames = 300;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) game.frame.Run();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "scene of %d objects, %d frames: %.3f ms per frame for scripts and loop (budget 33 ms, target < 3 ms)\n",
        gScene::Registry().count ? static_cast<gScene*>(gScene::Registry().Get(0))->objects.count : 0, frames,
        seconds * 1000.0 / frames);
  }
  {
    Game game(&gMilliClock::System());
    const int frames = 120;
    const double cpuBefore = ProcessorSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) game.frame.Run();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = ProcessorSeconds() - cpuBefore;
    std::printf("idle game, %d frames in %.2f s (%.1f fps): %.1f%% of a core (target < 5%%)\n", frames, wall,
                frames / wall, 100.0 * cpu / wall);
  }
  return 0;
}
