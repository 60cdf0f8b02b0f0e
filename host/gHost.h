#pragma once
// The player's life from command line to exit, one member function per step in the order
// the steps run. Subsystems that are not built yet have their step here, empty, so that
// each lands in its place.
#include <memory>
#include <string>

#include "host/gCommandLine.h"
#include "host/gDeviceReceiver.h"

namespace irr {
class IrrlichtDevice;
}
class gmMachine;
class gMilliClock;
class gScriptHost;
class gDeveloperMenu;
class gInputReplay;
class gHidSimulation;

class gHost {
 public:
  // Exit status when the graphics device cannot be created; 0 and -1 are the player's own.
  static constexpr int kNoDevice = 1;
  // Exit status of a "--screenshot" run whose picture could not be written.
  static constexpr int kNoScreenshot = 1;
  // Exit status of a "--strict" run in which a script error was logged.
  static constexpr int kScriptErrors = 3;

  gCommandLine commandLine;
  gDeviceReceiver receiver;
  irr::IrrlichtDevice* device = nullptr;
  std::unique_ptr<gmMachine> machine;
  // Registered the script API and loads scripts for LoadScript; `machine` above is the
  // machine it built, handed over to the player.
  std::unique_ptr<gScriptHost> scriptHost;
  std::unique_ptr<gDeveloperMenu> menu;
  // "--input": read before anything is created, replayed by the main loop.
  std::unique_ptr<gInputReplay> replay;
  // "--fixed-clock": the frame clock's time source instead of the system's.
  std::unique_ptr<gMilliClock> fixedTime;
  // Frames the main loop ran.
  unsigned framesRun = 0;
  // The simulated Wiimote of --wiimote-sim; outlives the Wiimote driver.
  std::unique_ptr<gHidSimulation> wiimoteSim;

  gHost();
  ~gHost();

  // Runs the whole program and returns the process exit status.
  int Run(int argc, const char* const* argv);

 private:
  bool ReadInputFile();
  int CheckPackage();
  int PackDirectory();
  void BuildScriptHost();
  void StartClock();
  bool CreateDevice();
  void MountPackage();
  void PrintChecksum();
  void SetUpInput();
  void SimulateWiimote();
  void BuildConsole();
  void OpenAudio();
  void InstallContactCallback();
  void StartNetwork();
  bool RunStartScript();
  void RunMainLoop();
  bool TakeScreenshot();
  void Shutdown();
};
