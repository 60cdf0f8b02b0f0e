// Three figures of the developer menu on the null driver, from a build without sanitizers:
//   build/bench/menu/menu_bench
// 1. Opening the browser over 1000 globals (target under 5 ms), beside a plain list box
//    filled with the same 1000 lines: the peer is the engine's own GUI doing the least.
// 2. The GUI work of a frame with the menu open: the browser refill after an event and the
//    GUI's draw call (target under 2 ms).
// 3. The resident memory after 100 000 console lines, against its level after the first
//    10 000: the console keeps only its newest lines, so the two stay level.
#include <irrlicht.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "binding/gScriptMachine.h"
#include "host/gDeveloperMenu.h"
#include "host/gPlayerScriptApi.h"
#include "input/_gInput.h"

namespace {

double Ms(std::chrono::steady_clock::time_point a_start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - a_start).count();
}

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

}  // namespace

int main() {
  std::unique_ptr<gScriptHost> host = gNewScriptHost(true, gPlayerScriptApi());
  gmMachineEx* machine = host->GetMachine();
  irr::IrrlichtDevice* device = irr::createDevice(irr::video::EDT_NULL, irr::core::dimension2d<irr::u32>(1024, 768), 32,
                                                  false, false, false, &_gInput::instance->receiver);
  _gInput::instance->Setup(device, machine, true);
  gDeveloperMenu menu;
  menu.Setup(device, machine, _gInput::instance, false);
  std::string script;
  for (int i = 0; i < 1000; ++i) script += "global g" + std::to_string(i) + " = " + std::to_string(i) + ";";
  machine->RunString(script.c_str());

  const int rounds = 50;
  double open = 0.0, peer = 0.0;
  irr::gui::IGUIListBox* plain = device->getGUIEnvironment()->addListBox(irr::core::rect<irr::s32>(0, 0, 200, 300));
  for (int r = 0; r < rounds; ++r) {
    auto start = std::chrono::steady_clock::now();
    menu.Toggle();  // opens and fills the browser
    open += Ms(start);
    menu.Toggle();
    start = std::chrono::steady_clock::now();
    plain->clear();
    for (int i = 0; i < 1000; ++i) plain->addItem((L"g" + std::to_wstring(i)).c_str());
    peer += Ms(start);
  }
  std::printf(
      "open the browser over %d globals: %.3f ms (target < 5 ms); a plain list box of 1000 lines: %.3f ms; "
      "ratio %.2f\n",
      static_cast<int>(machine->GetGlobals()->Count()), open / rounds, peer / rounds, open / peer);

  menu.Toggle();
  double frame = 0.0;
  for (int r = 0; r < rounds; ++r) {
    const auto start = std::chrono::steady_clock::now();
    menu.RefillBrowser();
    device->getVideoDriver()->beginScene(true, true, irr::video::SColor(255, 0, 0, 0));
    device->getGUIEnvironment()->drawAll();
    device->getVideoDriver()->endScene();
    frame += Ms(start);
  }
  std::printf("a frame's GUI work with the menu open: %.3f ms (target < 2 ms)\n", frame / rounds);

  long early = 0;
  for (int i = 0; i < 100000; ++i) {
    menu.AddConsoleLine(("console line number " + std::to_string(i)).c_str());
    if (i == 9999) early = ResidentKb();
  }
  std::printf("resident memory after 10 000 console lines: %ld kB; after 100 000: %ld kB (console holds %u lines)\n",
              early, ResidentKb(), menu.Console()->getItemCount());
  device->drop();
  return 0;
}
