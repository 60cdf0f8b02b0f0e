#include "host/gHost.h"

#include <irrlicht.h>

#include <cstdio>

#include "binding/gConsole.h"
#include "binding/gScriptMachine.h"
#include "clock/_gClock.h"
#include "graphics/_gGraphics.h"
#include "host/gFrame.h"
#include "host/gObjectComponents.h"
#include "host/gPackage.h"
#include "host/gPlayerScriptApi.h"
#include "host/gScriptLoader.h"
#include "input/_gInput.h"
#include "network/_gNetwork.h"
#include "platform/gMilliClock.h"
#include "platform/gStopSignal.h"
#include "platform/gWindowSystem.h"
#include "scene/gScene.h"
#include "script/vm/gmMachine.h"

gHost::gHost() = default;
gHost::~gHost() = default;

int gHost::Run(int argc, const char* const* argv) {
  commandLine = gCommandLine::Parse(argc, argv);
  if (commandLine.action == gCommandLine::SHOW_VERSION) {
    gPrintVersion();
    return 0;
  }
  if (commandLine.action == gCommandLine::SHOW_HELP) {
    gPrintUsage(argc > 0 ? argv[0] : "ombrix");
    return 0;
  }

  // Installed before anything is built: a stop asked for during start-up is then honoured by
  // the first frame, instead of killing the process mid-way with the default action.
  gStopSignal::Install();
  BuildScriptHost();
  StartClock();
  if (!CreateDevice()) return kNoDevice;
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
  // A start script that is missing or does not compile ends the run with nothing torn down.
  if (!RunStartScript()) return -1;
  RunMainLoop();
  Shutdown();
  return 0;
}

// The script machine, the whole script API and the module objects; no device, window or
// sound device may exist yet, since the modules are created here and find them later.
void gHost::BuildScriptHost() {
  scriptHost = gNewScriptHost(commandLine.developer, gPlayerScriptApi());
  scriptHost->loadScript = [](gScriptHost* a_host, const char* a_name) {
    return gScriptLoader::Load(a_host->GetMachine(), a_name);
  };
  machine = scriptHost->ReleaseMachine();
  gInstallObjectComponents();
}

// Records the start time and seeds the generator behind the script function Random. The
// module is normally made by the script API's "global Clock = _Clock();".
void gHost::StartClock() {
  if (!_gClock::instance) _gClock::instance = new _gClock();
  _gClock::instance->Initialise(&gMilliClock::System(), scriptHost->GetMachine());
  gScene::machine = scriptHost->GetMachine();
}

bool gHost::CreateDevice() {
  using namespace irr;
  const bool window = commandLine.window;
  if (window) gWindowSystem::TolerateProtocolErrors();
  device = createDevice(window ? video::EDT_OPENGL : video::EDT_NULL,
                        core::dimension2d<u32>(1024, 768), 32, commandLine.fullscreen,
                        /*stencilbuffer=*/window, /*vsync=*/window, &receiver);
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
  driver->setTextureCreationFlag(video::ETCF_ALWAYS_32_BIT, true);
  driver->setTextureCreationFlag(video::ETCF_CREATE_MIP_MAPS, true);
  // Every frame of the main loop first closes the frame in progress, so the first one is
  // opened here.
  driver->beginScene(true, true, video::SColor(128, 10, 10, 10));
  return true;
}

void gHost::MountPackage() {
  scriptHost->checksum = gPackage::Mount(device->getFileSystem(), commandLine.package,
                                        commandLine.developer);
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
}

// The developer console, built hidden. Until it exists, what it would show (script print
// output and, each frame, the machine's new log entries) goes to standard output.
void gHost::BuildConsole() {
  gmMachine::s_printCallback = gFrame::PrintScriptOutput;
  gConsole::SetSink(gFrame::PrintLine);
}

// Without a sound device the game goes on silently.
void gHost::OpenAudio() {}

// The physics library's global contact-added hook.
void gHost::InstallContactCallback() {}

// The socket library, before any script can start a request.
void gHost::StartNetwork() { _gNetwork::Init(); }

// Loads and runs "start.qv" from the mounted package.
bool gHost::RunStartScript() { return gScriptLoader::Load(machine.get(), "start.qv"); }

// Runs while the input module's running flag is set; a stop signal ends it after the frame
// in progress, as closing the window does.
void gHost::RunMainLoop() {
  gFrame frame;
  frame.machine = machine.get();
  frame.input = _gInput::instance;
  frame.clock = _gClock::instance;
  frame.Loop(&gStopSignal::Requested);
}

// In this order: the device (which closes the window), the sound device, the Wiimote.
void gHost::Shutdown() {
  if (_gGraphics::instance) _gGraphics::instance->device = nullptr;
  device->drop();
  device = nullptr;
}
