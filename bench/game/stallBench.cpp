// Frames that nothing outside waits on, from a build without sanitizers:
//   build/bench/game/stall_bench
// A game at 30 frames per second on the real clock for 7 s, with a Wiimote that is paired
// but never answers and a score server whose name takes 5 s to look up (a score is
// submitted at frame 10): the longest frame (target: none over 40 ms). The same game with
// the attempts and the lookup made inside the frame, as the peer.
#include <irrlicht.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "binding/gScriptMachine.h"
#include "clock/_gClock.h"
#include "host/gFrame.h"
#include "host/gPlayerScriptApi.h"
#include "input/_gInput.h"
#include "network/_gNetwork.h"
#include "network/netHttpClient.h"
#include "network/netScoreServer.h"
#include "platform/gHidSim.h"
#include "platform/gMilliClock.h"
#include "platform/gMilliClockFake.h"
#include "scene/gScene.h"

namespace {

using Clock = std::chrono::steady_clock;

void Quiet(gmMachine*, const char*) {}

struct Result {
  double longest = 0;
  double p50 = 0;
  int over40 = 0;
  int frames = 0;
};

Result Play(bool a_inFrame, const std::string& a_host) {
  netHttpClient::lookupsInStart = a_inFrame;
  std::unique_ptr<gScriptHost> host = gNewScriptHost(false, gPlayerScriptApi());
  gmMachineEx* machine = host->GetMachine();
  irr::IrrlichtDevice* device = irr::createDevice(irr::video::EDT_NULL, irr::core::dimension2d<irr::u32>(1024, 768), 32,
                                                  false, false, false, &_gInput::instance->receiver);
  // The game's own clock is a fake one, so the frame never waits for its slot inside Run:
  // the slots are kept here, outside the time measured.
  gMilliClockFake time;
  _gClock::instance->Initialise(&time, machine);
  _gInput::instance->Setup(device, machine, false);
  gHidSimulation hid(gMilliClock::System());
  hid.AddRemote()->silent = true;
  _gInput::instance->wiimote->UseTransport(hid);
  _gInput::instance->wiimote->connectInStep = a_inFrame;
  netScoreServer::Set(a_host.c_str(), 9);
  gFrame frame;
  frame.machine = machine;
  frame.input = _gInput::instance;
  frame.clock = _gClock::instance;
  machine->RunString("global done = function(n) {};");

  std::vector<double> times;
  const auto slot = std::chrono::microseconds(33333);
  const Clock::time_point start = Clock::now();
  for (int i = 0; i <= 10 || Clock::now() - start < std::chrono::seconds(7); ++i) {
    const Clock::time_point begin = Clock::now();
    if (i == 10) machine->RunString("Network.SubmitScore(\"Stall\", \"1\", \"\", \"p\", 1, \"done\");");
    frame.Run();
    time.now += 33333;
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
    std::this_thread::sleep_until(start + slot * (i + 1));
  }
  gScene::DestroyAll();
  delete _gNetwork::instance;
  delete _gClock::instance;
  delete _gInput::instance;
  device->drop();
  host.reset();
  netScoreServer::Restore();

  Result r;
  r.frames = int(times.size());
  r.over40 = int(std::count_if(times.begin(), times.end(), [](double t) { return t > 40; }));
  std::sort(times.begin(), times.end());
  r.longest = times.back();
  r.p50 = times[times.size() / 2];
  return r;
}

}  // namespace

int main() {
  gmMachine::s_printCallback = Quiet;
  _gNetwork::Init();
  netHttpClient::SetLookup([](const std::string&, std::string* a_address) {
    std::this_thread::sleep_for(std::chrono::seconds(5));
    *a_address = "127.0.0.1";
    return true;
  });
  const Result ours = Play(false, "slow-scores.test");
  const Result peer = Play(true, "slow-scores-peer.test");
  std::printf(
      "silent Wiimote and a 5 s name lookup, %d frames at 30 fps: longest frame %.2f ms (target 40, ratio %.2f),"
      " median %.2f ms, %d over 40 ms\n",
      ours.frames, ours.longest, ours.longest / 40.0, ours.p50, ours.over40);
  std::printf(
      "the same with both inside the frame, %d frames: longest %.2f ms, %d over 40 ms;"
      " ratio of longest frames %.4f\n",
      peer.frames, peer.longest, peer.over40, peer.longest > 0 ? ours.longest / peer.longest : 0.0);
  return 0;
}
