#pragma once
// The player's life from command line to exit, one member function per step in the order
// the steps run.
#include <chrono>
#include <memory>
#include <set>
#include <string>

#include "host/gCommandLine.h"
#include "host/gDeviceReceiver.h"
#include "host/gReload.h"

namespace irr {
class IrrlichtDevice;
}
class gmMachine;
class gMilliClock;
class gScriptHost;
class gDeveloperMenu;
class gInputReplay;
class gHidSimulation;
class gFrame;
class gInputRecorder;
class gHidSimRemote;

class gHost {
 public:
  // Exit status when the graphics device cannot be created; 0 and -1 are the player's own.
  static constexpr int kNoDevice = 1;
  // Exit status of a "--screenshot" run whose picture could not be written.
  static constexpr int kNoScreenshot = 1;
  // Exit status of a "--strict" run in which a script error was logged.
  static constexpr int kScriptErrors = 3;
  // Exit status when the start script is missing or does not compile (without --strict).
  static constexpr int kNoStartScript = -1;

  // Whether the package (archive, or directory in developer mode) was there to mount.
  bool packageFound = false;

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

  // Run in three parts, for in-process sessions that drive the frames themselves: Start does
  // everything before the main loop and says whether the game runs (when not, *a_status is
  // the exit status); `frame` is then the loop's frame, built by PrepareFrame; Finish ends
  // the run and returns the exit status.
  bool Start(int argc, const char* const* argv, int* a_status);
  void PrepareFrame();
  int Finish();
  // Ends the game and loads the package again in place, keeping the window, the devices and
  // what the engine loaded from unchanged files; a package whose scripts do not compile (or
  // that has no start script) is not reloaded, and the running game goes on. Says which on
  // the console.
  bool Reload();
  // Every module's teardown of the game, in the reverse order of creation; the machine last.
  void EndGame(const std::set<std::string>& a_changedFiles = {});

  std::unique_ptr<gFrame> frame;
  // Script errors logged by the games of this run, counted as each game ends.
  long errorsLogged = 0;

 private:
  static constexpr int kRunning = -1000;
  int Begin(int argc, const char* const* argv);
  void PrepareReload();
  void BetweenFrames();
  void NewGame(bool a_sameMedia);
  bool ReadInputFile();
  int CheckPackage();
  int PackDirectory();
  void BuildScriptHost();
  void StartClock();
  bool CreateDevice();
  void MountPackage(bool a_sameMedia = false);
  void PrintChecksum();
  void SetUpInput();
  void SimulateWiimote();
  void BuildConsole();
  void OpenAudio();
  void InstallContactCallback();
  void StartNetwork();
  bool RunStartScript();
  void SayWherePackageWasLookedFor();
  void RunMainLoop();
  bool TakeScreenshot();
  void Shutdown();

  // Where the player started and the developer package's directory: a reload mounts again
  // from the first, and watches and compares the files of the second.
  std::string startDirectory;
  std::string packageDirectory;
  gReload::Snapshot snapshot;
  std::unique_ptr<gPackageWatch> watch;
  // "--record": the recording, and the real time its frames are paced to.
  std::unique_ptr<gInputRecorder> recorder;
  std::chrono::steady_clock::time_point recordStart;
  std::string program;
  // The simulated remote of --wiimote-sim, which also plays the Wiimote reports of an
  // "--input" file (one is made for them without --wiimote-sim).
  std::shared_ptr<gHidSimRemote> replayRemote;
  // "--record": whether the remote was connected at the end of the last frame recorded.
  bool recordedConnected = false;
  void RecordWiimote();
  void ReplayWiimote();
  void EndRecording();
};
