#include "host/gHost.h"

#include <irrlicht.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "audio/_gAudio.h"
#include "binding/gConsole.h"
#include "binding/gScriptMachine.h"
#include "clock/_gClock.h"
#include "graphics/_gGraphics.h"
#include "graphics/graImageLoader.h"
#include "graphics/graLoadProbe.h"
#include "host/gApiReference.h"
#include "graphics/sceGraphics.h"
#include "host/gDeveloperMenu.h"
#include "host/gFixedClock.h"
#include "host/gFrame.h"
#include "host/gInputRecorder.h"
#include "host/gInputReplay.h"
#include "host/gPack.h"
#include "host/gReload.h"
#include "host/gObjectComponents.h"
#include "host/gPackage.h"
#include "host/gPackageCheck.h"
#include "host/gPlayerScriptApi.h"
#include "host/gScreenshot.h"
#include "host/gScriptLoader.h"
#include "input/_gInput.h"
#include "network/_gNetwork.h"
#include "physics/scePhysics.h"
#include "platform/gHidSim.h"
#include "platform/gIsolated.h"
#include "network/netScoreServer.h"
#include "platform/gMilliClock.h"
#include "platform/gStopSignal.h"
#include "platform/gWindowSystem.h"
#include "scene/gScene.h"
#include "script/vm/gmMachine.h"

gHost::gHost() = default;
gHost::~gHost() {
  if (!menu) return;
  if (gFrame::menu == menu.get()) gFrame::menu = nullptr;
  if (_gInput::instance && _gInput::instance->menu == menu.get()) _gInput::instance->menu = nullptr;
}

int gHost::Run(int argc, const char* const* argv) {
  int status = 0;
  if (!Start(argc, argv, &status)) return status;
  RunMainLoop();
  return Finish();
}

bool gHost::Start(int argc, const char* const* argv, int* a_status) {
  program = argc > 0 ? argv[0] : "ombrix";
  *a_status = Begin(argc, argv);
  return *a_status == kRunning;
}

int gHost::Begin(int argc, const char* const* argv) {
  commandLine = gCommandLine::Parse(argc, argv);
  if (commandLine.action == gCommandLine::SHOW_VERSION) {
    gPrintVersion();
    return 0;
  }
  if (commandLine.action == gCommandLine::SHOW_HELP) {
    gPrintUsage(argc > 0 ? argv[0] : "ombrix");
    return 0;
  }
  if (commandLine.action == gCommandLine::SHOW_API) {
    // The machine as a game gets it, on a device without a window: no sound, network or package.
    commandLine.window = false;
    BuildScriptHost();
    StartClock();
    if (!CreateDevice()) return kNoDevice;
    std::string text;
    std::string error;
    if (!gApiReference(scriptHost->GetMachine(), commandLine.json, text, error)) {
      std::fprintf(stderr, "ombrix: %s\n", error.c_str());
      return 1;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return 0;
  }
  if (commandLine.action == gCommandLine::UNKNOWN_OPTION) {
    std::fprintf(stderr, "%s\n", commandLine.error.c_str());
    gPrintUsage(argc > 0 ? argv[0] : "ombrix", stderr);
    return gCommandLine::kUnknownOption;
  }
  if (commandLine.action == gCommandLine::BAD_ARGUMENT) {
    std::fprintf(stderr, "ombrix: %s (--help lists the options)\n", commandLine.error.c_str());
    return gCommandLine::kBadArgument;
  }
  if (!commandLine.pack.empty()) return PackDirectory();
  // Names given on the command line are relative to where the player was started; a
  // developer package is mounted by entering its directory.
  if (!ReadInputFile()) return gCommandLine::kBadArgument;
  if (!commandLine.record.empty()) {
    recorder = std::make_unique<gInputRecorder>();
    std::string error;
    if (!recorder->Open(commandLine.record, error)) {
      std::fprintf(stderr, "ombrix: %s\n", error.c_str());
      return gCommandLine::kBadArgument;
    }
    receiver.recorder = recorder.get();
  }
  if (!commandLine.screenshot.empty()) {
    std::error_code failed;
    const std::filesystem::path absolute = std::filesystem::absolute(commandLine.screenshot, failed);
    if (!failed) commandLine.screenshot = absolute.string();
  }
  if (commandLine.check) return CheckPackage();

  // Installed before anything is built: a stop asked for during start-up is then honoured by
  // the first frame, instead of killing the process mid-way with the default action.
  gStopSignal::Install();
  if (!commandLine.checksum) {
    gIsolated::beforeFork = _gAudio::WaitAhead;
    _gAudio::OpenAhead();
  }
  BuildScriptHost();
  StartClock();
  if (!CreateDevice()) {
    _gAudio::DropAhead();
    return kNoDevice;
  }
  MountPackage();
  if (commandLine.checksum) {
    // A checksum run stops here and tears nothing down.
    PrintChecksum();
    return 0;
  }

  SetUpInput();
  BuildConsole();
  OpenAudio();
  InstallContactCallback();
  StartNetwork();
  // A start script that is missing or does not compile ends the run; the window and the
  // sound device are still closed in order, so that their libraries have nothing to complain
  // about at exit. Under --strict it is a script error like any other.
  if (!RunStartScript()) {
    SayWherePackageWasLookedFor();
    Shutdown();
    return commandLine.strict ? kScriptErrors : kNoStartScript;
  }
  PrepareReload();
  return kRunning;
}

int gHost::Finish() {
  if (frame) framesRun = frame->frames;
  EndRecording();
  const bool pictureOk = commandLine.screenshot.empty() || TakeScreenshot();
  Shutdown();
  if (!pictureOk) return kNoScreenshot;
  if (commandLine.strict && errorsLogged > 0) return kScriptErrors;
  return 0;
}

// A malformed file is refused as a whole, before anything is created.
bool gHost::ReadInputFile() {
  if (commandLine.input.empty()) return true;
  replay = std::make_unique<gInputReplay>();
  std::string error;
  if (replay->Load(commandLine.input, error)) return true;
  std::fprintf(stderr, "ombrix: %s\n", error.c_str());
  return false;
}

// "--check" mounts the package as for play on a device without a window, and compiles and
// inspects instead of running: no script host, sound or network.
int gHost::CheckPackage() {
  commandLine.window = false;
  if (!CreateDevice()) return kNoDevice;
  const int problems = gPackageCheck::Run(device, commandLine.package, commandLine.developer);
  device->drop();
  device = nullptr;
  return problems == 0 ? 0 : 1;
}

// "--pack" checks as "--check --dev" does, on a device without a window, then writes.
int gHost::PackDirectory() {
  commandLine.window = false;
  if (!CreateDevice()) return kNoDevice;
  const int status = gPack::Run(device, commandLine.pack, commandLine.packOutput);
  device->drop();
  device = nullptr;
  return status;
}

// The script machine, the whole script API and the module objects; no device, window or
// sound device may exist yet, since the modules are created here and find them later.
void gHost::BuildScriptHost() {
  scriptHost = gNewScriptHost(commandLine.developer, gPlayerScriptApi());
  scriptHost->loadScript = [](gScriptHost* a_host, const char* a_name) {
    return gScriptLoader::Load(a_host->GetMachine(), a_name);
  };
  machine = scriptHost->ReleaseMachine();
  gObjectComponents::Install();
}

// Records the start time and seeds the generator behind the script function Random. The
// module is normally made by the script API's "global Clock = _Clock();".
void gHost::StartClock() {
  if (!_gClock::instance) _gClock::instance = new _gClock();
  // A recording counts game time as a fixed-clock run does, so that its replay matches it;
  // the frames are paced to real time between frames instead (BetweenFrames).
  if ((commandLine.fixedClock || recorder) && !fixedTime) fixedTime = std::make_unique<gFixedClock>();
  _gClock::instance->Initialise(fixedTime ? fixedTime.get() : &gMilliClock::System(), scriptHost->GetMachine());
  gScene::machine = scriptHost->GetMachine();
}

bool gHost::CreateDevice() {
  using namespace irr;
  const bool window = commandLine.window;
  if (window) gWindowSystem::TolerateProtocolErrors();
  // A fixed-clock run goes as fast as the machine allows, so it does not wait for the
  // display's refresh either.
  device = createDevice(window ? video::EDT_OPENGL : video::EDT_NULL, core::dimension2d<u32>(1024, 768), 32,
                        commandLine.fullscreen,
                        /*stencilbuffer=*/window, /*vsync=*/window && !commandLine.fixedClock, &receiver);
  if (!device) {
    std::fprintf(stderr,
                 "ombrix: could not create the %s graphics device (is there a display?); "
                 "--nowindow runs without a window\n",
                 window ? "OpenGL" : "null");
    return false;
  }
  // The module is normally made by the script API's "global Graphics = _Graphics();".
  if (!_gGraphics::instance) _gGraphics::instance = new _gGraphics();
  _gGraphics::instance->device = device;
  video::IVideoDriver* driver = device->getVideoDriver();
  graImageLoader::Install(driver);
  driver->setTextureCreationFlag(video::ETCF_ALWAYS_32_BIT, true);
  driver->setTextureCreationFlag(video::ETCF_CREATE_MIP_MAPS, true);
  // Every frame of the main loop first closes the frame in progress, so the first one is
  // opened here.
  driver->beginScene(true, true, video::SColor(128, 10, 10, 10));
  return true;
}

// The package's meshes and pictures are tried from here on, beside the rest of start-up
// and the start script. A reload that changed none of them keeps the verdicts it has: the
// trial would only find the same again, at the cost of a child process.
void gHost::MountPackage(bool a_sameMedia) {
  // Asked before mounting, which enters a developer package's directory.
  std::error_code failed;
  const std::string& name = commandLine.package;
  packageFound = commandLine.developer ? std::filesystem::is_directory(name, failed)
                                       : std::filesystem::exists(name + ".qvp", failed);
  irr::io::IFileSystem* files = device->getFileSystem();
  if (startDirectory.empty()) startDirectory = files->getWorkingDirectory().c_str();
  scriptHost->checksum = gPackage::Mount(device->getFileSystem(), commandLine.package, commandLine.developer);
  if (!commandLine.checksum && !a_sameMedia) graLoadProbe::BeginPackage(device, commandLine.developer, "start.qv");
}

void gHost::PrintChecksum() {
  std::printf("Checksum for the script %s is:\n", commandLine.package.c_str());
  std::fflush(stdout);
  std::printf("%s\n", scriptHost->checksum.c_str());
  std::fflush(stdout);
}

// Hands the device to the event receiver, clears the key and mouse states and sets the
// running flag that keeps the main loop going.
void gHost::SetUpInput() {
  if (!_gInput::instance) _gInput::instance = new _gInput();
  receiver.inner = &_gInput::instance->receiver;
  _gInput::instance->Setup(device, scriptHost->GetMachine(), commandLine.developer);
  // Replayed events are the game's own input, not the desktop's: they reach the game
  // whether or not the window has the focus (a bare X server never gives it one).
  _gInput::instance->alwaysActive = !commandLine.window || replay;
  // Runs that must repeat exactly (--fixed-clock, and a recording meant to be replayed)
  // connect the remote inside the frame, so it connects in the same frame every time.
  if ((commandLine.fixedClock || recorder) && _gInput::instance->wiimote)
    _gInput::instance->wiimote->connectInStep = true;
  if (!commandLine.wiimoteSim.empty()) SimulateWiimote();
  if (recorder && _gInput::instance->wiimote) _gInput::instance->wiimote->keepReports = true;
  if (replay && replay->HasWiimoteReports()) ReplayWiimote();
}

// The reports of an "--input" file go to a simulated remote of their own (or to the one of
// --wiimote-sim), which the driver connects to as to any remote. Each frame's reports are
// sent at the start of its input step and decoded before the step reads the remote's state.
void gHost::ReplayWiimote() {
  if (!wiimoteSim) {
    wiimoteSim = std::make_unique<gHidSimulation>(gMilliClock::System());
    _gInput::instance->wiimote->UseTransport(*wiimoteSim);
  }
  // A recording says in which frame its remote connected: the remote comes then.
  if (replay->HasWiimoteConnect() && !replayRemote) {
    replay->wiimoteConnect = [this] {
      if (!replayRemote) replayRemote = wiimoteSim->AddRemote();
      if (_gInput::instance && _gInput::instance->wiimote) _gInput::instance->wiimote->AttemptNow();
    };
  }
  if (!replayRemote && !replay->wiimoteConnect) replayRemote = wiimoteSim->AddRemote();
  replay->wiimote = [this](const std::vector<std::vector<std::uint8_t>>& a_reports) {
    inpWiimote* wiimote = _gInput::instance ? _gInput::instance->wiimote.get() : nullptr;
    inpWiiDriver* driver = wiimote ? wiimote->driver.get() : nullptr;
    if (!replayRemote || !driver || !driver->IsConnected()) return;
    const std::uint64_t before = driver->DecodedReports();
    for (const std::vector<std::uint8_t>& report : a_reports) replayRemote->Inject(report.data(), report.size());
    // A generous limit only against a broken link: the simulated remote answers at once.
    driver->WaitForReports(before + a_reports.size(), 10000);
  };
}

// The data reports the frame that just ended showed the game, after the frame the remote
// connected in: its replay connects a remote then.
void gHost::RecordWiimote() {
  inpWiimote* wiimote = _gInput::instance ? _gInput::instance->wiimote.get() : nullptr;
  if (!recorder || !wiimote || !wiimote->driver) return;
  const bool connected = wiimote->IsConnected();
  if (connected && !recordedConnected) recorder->OnWiimoteConnect();
  recordedConnected = connected;
  for (const std::vector<std::uint8_t>& report : wiimote->driver->published) recorder->OnWiimoteReport(report);
  wiimote->driver->published.clear();
}

void gHost::EndRecording() {
  if (!recorder) return;
  RecordWiimote();
  receiver.recorder = nullptr;
  const bool written = recorder->Close();
  recorder.reset();
  const auto quoted = [](const std::string& a_text) {
    if (a_text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-./=:+,") ==
        std::string::npos)
      return a_text;
    std::string text = "'";
    for (char c : a_text) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
  };
  if (!written) {
    std::printf("The recording %s could not be written completely\n", commandLine.record.c_str());
  } else {
    std::printf("Recorded %u frames of input to %s\n", framesRun, commandLine.record.c_str());
    std::printf("Replay it with: %s --input %s --fixed-clock --frames %u%s%s %s\n", quoted(program).c_str(),
                quoted(commandLine.record).c_str(), framesRun, commandLine.window ? "" : " --nowindow",
                commandLine.developer ? " --dev" : "", quoted(commandLine.package).c_str());
  }
  std::fflush(stdout);
}

// --wiimote-sim FILE: the Wiimote is a simulated remote that sends FILE's input reports,
// each so many milliseconds after the link first opens, and answers the player as a remote
// does; every output report it gets becomes a line of FILE.out, which each run starts anew.
void gHost::SimulateWiimote() {
  const std::string& path = commandLine.wiimoteSim;
  wiimoteSim = std::make_unique<gHidSimulation>(gMilliClock::System());
  _gInput::instance->wiimote->UseTransport(*wiimoteSim);
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "ombrix: cannot read the Wiimote simulation %s; no Wiimote will connect\n", path.c_str());
    return;
  }
  std::shared_ptr<gHidSimRemote> remote = wiimoteSim->AddRemote();
  replayRemote = remote;
  std::string problems;
  if (!remote->LoadScript(in, &problems))
    std::fprintf(stderr, "ombrix: %s: lines skipped:\n%s", path.c_str(), problems.c_str());
  std::shared_ptr<std::FILE> out(std::fopen((path + ".out").c_str(), "w"), [](std::FILE* a_f) {
    if (a_f) std::fclose(a_f);
  });
  if (!out) {
    std::fprintf(stderr, "ombrix: cannot write %s.out; the output reports are not kept\n", path.c_str());
    return;
  }
  remote->OnOutput([out](const gHidReport& a_report) {
    for (std::size_t i = 0; i < a_report.size(); ++i)
      std::fprintf(out.get(), i + 1 < a_report.size() ? "%02X " : "%02X\n", unsigned(a_report[i]));
    std::fflush(out.get());
  });
}

// The developer console, built hidden. What it shows (script print output, each frame's new
// log entries, the components' messages) also goes to standard output, in order. Outside
// developer mode a window shows the newest script error for a few seconds instead.
void gHost::BuildConsole() {
  menu.reset(new gDeveloperMenu());
  menu->Setup(device, scriptHost->GetMachine(), _gInput::instance, !commandLine.developer && commandLine.window);
  _gInput::instance->menu = menu.get();
  gFrame::menu = menu.get();
  gmMachine::s_printCallback = gFrame::PrintScriptOutput;
  gConsole::SetSink(gFrame::PrintLine);
}

// Without a sound device the game goes on silently. The module is normally made by the
// script API's "global Audio = _Audio();".
void gHost::OpenAudio() {
  if (!_gAudio::instance) _gAudio::instance = new _gAudio();
  _gAudio::instance->Open();
}

// The physics library's global contact-added hook.
void gHost::InstallContactCallback() { scePhysics::InstallContactCallback(); }

// The socket library, before any script can start a request.
void gHost::StartNetwork() {
  _gNetwork::Init();
  if (!commandLine.scoreHost.empty()) netScoreServer::Set(commandLine.scoreHost.c_str(), commandLine.scorePort);
}

// Loads and runs "start.qv" from the mounted package.
bool gHost::RunStartScript() { return gScriptLoader::Load(machine.get(), "start.qv"); }

// After "Script start.qv not found!": when there was no package at all, where it was looked
// for and what to try instead, on standard error beside the player's other complaints.
void gHost::SayWherePackageWasLookedFor() {
  if (packageFound) return;
  std::error_code failed;
  const std::string& name = commandLine.package;
  const bool developer = commandLine.developer;
  const std::string looked = developer ? name : name + ".qvp";
  const std::filesystem::path where = std::filesystem::absolute(looked, failed);
  std::string line = "ombrix: no package " + looked + " (looked for " + (developer ? "the directory " : "") +
                     (failed ? looked : where.string()) + "): ";
  if (developer)
    line += "give the game's directory, e.g. --dev path/to/Mygame, or drop --dev to play Mygame.qvp";
  else if (std::filesystem::is_directory(name, failed))
    line += "add --dev to play the directory " + name + ", or give the path of a .qvp package";
  else
    line += "give the package's path, e.g. ombrix path/to/Mygame.qvp, or start the player in its folder";
  std::fprintf(stderr, "%s\n", line.c_str());
}

// Runs while the input module's running flag is set; a stop signal ends it after the frame
// in progress, as closing the window does.
void gHost::RunMainLoop() {
  PrepareFrame();
  double stepTimes[gFrame::kStepCount] = {};
  if (commandLine.frameTimes) frame->stepTimes = stepTimes;
  frame->Loop(&gStopSignal::Requested);
  frame->PrintStepTimes(stderr);
  frame->stepTimes = nullptr;
  framesRun = frame->frames;
}

void gHost::PrepareFrame() {
  frame = std::make_unique<gFrame>();
  frame->machine = machine.get();
  frame->input = _gInput::instance;
  frame->clock = _gClock::instance;
  if (replay) {
    replay->device = device;
    frame->replay = replay.get();
  }
  frame->lastFrame = commandLine.frames;
  // A recording's game time is a fixed-clock run's, and so is the engine's own clock that
  // moves particles: its replay then draws the same pictures.
  if (commandLine.fixedClock || recorder) {
    frame->engineTimer = device->getTimer();
    frame->engineTimer->stop();
  }
  frame->beforeFrame = [this] { BetweenFrames(); };
}

// F5 and Ctrl+R, and --watch, in developer mode only: a shipped game has no files to change.
void gHost::PrepareReload() {
  if (!commandLine.developer) return;
  receiver.reloadKeys = true;
  packageDirectory = device->getFileSystem()->getWorkingDirectory().c_str();
  snapshot = gReload::Take(packageDirectory);
  if (!commandLine.watch) return;
  watch = std::make_unique<gPackageWatch>();
  if (!watch->Start(packageDirectory)) watch.reset();
}

// A reload asked for during a frame happens between frames, when no script runs.
void gHost::BetweenFrames() {
  if (recorder) {
    RecordWiimote();
    const unsigned next = frame->frames + 1;
    recorder->frame = next;
    if (next == 1) recordStart = std::chrono::steady_clock::now();
    std::this_thread::sleep_until(recordStart + std::chrono::microseconds((next - 1) * 1000000ull / 30));
  }
  if (watch && watch->Due()) receiver.reloadAsked = true;
  if (!receiver.reloadAsked) return;
  receiver.reloadAsked = false;
  Reload();
}

bool gHost::Reload() {
  const auto started = std::chrono::steady_clock::now();
  const std::vector<std::string> problems = gReload::Problems(packageDirectory, device->getFileSystem());
  if (!problems.empty()) {
    for (const std::string& line : problems) gFrame::PrintLine(line.c_str());
    gFrame::PrintLine("Not reloaded: the game goes on as it was; the next good save reloads it");
    if (menu) {
      std::string shown = "Not reloaded: " + problems.front();
      if (problems.size() > 1) shown += " (and " + std::to_string(problems.size() - 1) + " more on the console)";
      menu->ShowReloadProblem(shown);
    }
    return false;
  }
  const gReload::Snapshot now = gReload::Take(packageDirectory);
  const std::set<std::string> changed = gReload::Changed(snapshot, now);
  EndGame(changed);
  snapshot = now;
  NewGame(std::all_of(changed.begin(), changed.end(), gReload::IsScript));
  if (menu) menu->ShowReloadProblem("");
  const long long ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  gFrame::PrintLine(("Reloaded in " + std::to_string(ms) + " ms").c_str());
  return true;
}

// Each module ends its part of the game, in the reverse of the order the game made them:
// requests and timers that would call into scripts, the scenes' pictures, the scenes with
// their objects, the physics worlds, the sounds, the graphics handles and texts, the input
// callbacks, and last the machine that every one of them called into. What the process
// keeps (window, devices, the Wiimote, the engine's loaded files) stays.
void gHost::EndGame(const std::set<std::string>& a_changedFiles) {
  if (!machine) return;
  errorsLogged += machine->GetLog().GetEntryCount();
  if (_gNetwork::instance) _gNetwork::instance->Teardown();
  if (_gClock::instance) _gClock::instance->Teardown();
  sceGraphics::DestroyAll();
  gScene::DestroyAll();
  scePhysics::DestroyAll();
  if (_gAudio::instance) _gAudio::instance->Teardown();
  if (_gGraphics::instance) _gGraphics::instance->Teardown(a_changedFiles);
  if (_gInput::instance) _gInput::instance->Teardown();
  if (menu) menu->UseMachine(nullptr);
  if (frame) frame->UseMachine(nullptr);
  gScene::machine = nullptr;
  scriptHost.reset();
  machine.reset();
}

// The start-up steps that belong to a game, again, on the devices the process kept.
void gHost::NewGame(bool a_sameMedia) {
  BuildScriptHost();
  StartClock();
  irr::io::IFileSystem* files = device->getFileSystem();
  files->changeWorkingDirectoryTo(startDirectory.c_str());
  while (files->getFileArchiveCount() > 0) files->removeFileArchive(0u);
  MountPackage(a_sameMedia);
  _gInput::instance->Setup(device, scriptHost->GetMachine(), commandLine.developer);
  if (menu) menu->UseMachine(machine.get());
  if (frame) frame->UseMachine(machine.get());
  RunStartScript();
}

// Of the last frame, which only a run that got to the end of its "--frames" has.
bool gHost::TakeScreenshot() {
  std::string error;
  if (framesRun < commandLine.frames)
    error =
        "the run stopped after " + std::to_string(framesRun) + " of " + std::to_string(commandLine.frames) + " frames";
  else if (gScreenshot::WriteBackBuffer(device, commandLine.screenshot, error))
    return true;
  std::fprintf(stderr, "ombrix: no screenshot written: %s\n", error.c_str());
  return false;
}

// In this order: the game, the device (which closes the window), the sound device, the
// Wiimote.
void gHost::Shutdown() {
  // What the trial found is remembered for the next start, even of a run too short to
  // have needed every verdict.
  graLoadProbe::Finish();
  EndGame();
  gFrame::menu = nullptr;
  if (_gInput::instance) _gInput::instance->menu = nullptr;
  if (_gGraphics::instance) _gGraphics::instance->device = nullptr;
  device->drop();
  device = nullptr;
  if (_gAudio::instance) _gAudio::instance->Close();
  if (_gInput::instance) _gInput::instance->ShutdownWiimote();
}
