#include "host/gFrame.h"

#include <irrlicht.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "audio/_gAudio.h"
#include "clock/_gClock.h"
#include "graphics/_gGraphics.h"
#include "host/gDeveloperMenu.h"
#include "host/gInputReplay.h"
#include "input/_gInput.h"
#include "network/_gNetwork.h"
#include "physics/scePhysics.h"
#include "scene/gScene.h"
#include "script/vm/gmMachine.h"

void gFrame::Run() {
  if (beforeFrame) beforeFrame();
  if (stepTimes) {
    RunTimed();
  } else {
    ShowLog();
    PollNetwork();
    StepPhysics();
    UpdateInput();
    UpdateScenes();
    MoveListener();
    Render();
    TickClock();
  }
  ++frames;
}

// The same steps, each timed; only runs that asked for the figures pay for the clock reads.
void gFrame::RunTimed() {
  void (gFrame::*const steps[kStepCount])() = {&gFrame::ShowLog,     &gFrame::PollNetwork,  &gFrame::StepPhysics,
                                               &gFrame::UpdateInput, &gFrame::UpdateScenes, &gFrame::MoveListener,
                                               &gFrame::Render,      &gFrame::TickClock};
  auto last = std::chrono::steady_clock::now();
  for (int i = 0; i < kStepCount; ++i) {
    (this->*steps[i])();
    const auto now = std::chrono::steady_clock::now();
    stepTimes[i] += std::chrono::duration<double>(now - last).count();
    last = now;
  }
}

void gFrame::PrintStepTimes(std::FILE* a_out) const {
  if (!stepTimes || frames == 0) return;
  static const char* const kNames[kStepCount] = {"log",
                                                 "network",
                                                 "physics",
                                                 "input (and its callbacks)",
                                                 "objects (their functions and poses)",
                                                 "listener",
                                                 "render",
                                                 "clock (timers, and the wait for the next frame)"};
  double busy = 0.0;
  for (int i = 0; i < kStepCount; ++i) busy += i + 1 < kStepCount ? stepTimes[i] : 0.0;
  std::fprintf(a_out, "frame times over %u frames, mean ms per frame:\n", frames);
  for (int i = 0; i < kStepCount; ++i)
    std::fprintf(a_out, "  %-48s %8.3f\n", kNames[i], stepTimes[i] * 1000.0 / frames);
  std::fprintf(a_out, "  %-48s %8.3f of the 33.333 budget\n", "all but the clock step", busy * 1000.0 / frames);
}

void gFrame::Loop(bool (*a_stopRequested)()) {
  while (input && input->running) {
    Run();
    if (a_stopRequested && a_stopRequested()) input->running = 0;
    if (lastFrame && frames >= lastFrame) input->running = 0;
  }
  // Each frame shows what was logged since the one before, so the entries of the last
  // frame (a failing timer, a broken script it loaded) would otherwise never be seen.
  ShowLog();
}

gDeveloperMenu* gFrame::menu = nullptr;

void gFrame::PrintLine(const char* a_text) { Print(a_text, false); }

// Log entries set themselves apart with line breaks of their own ("\r\ncallstack.."), which
// would be empty lines here.
void gFrame::PrintLogEntry(const char* a_text) {
  Print(a_text, true);
  if (menu) menu->OnLogEntry(a_text);
}

void gFrame::Print(const char* a_text, bool a_skipEmpty) {
  const char* line = a_text;
  for (;;) {
    const size_t length = std::strcspn(line, "\n");
    const bool last = line[length] == '\0';
    size_t shown = length;
    while (shown > 0 && line[shown - 1] == '\r') --shown;
    // A text that ends in a line break is one line, not a line and an empty one.
    const bool trailing = last && length == 0 && line != a_text;
    if (!trailing && !(a_skipEmpty && shown == 0)) {
      std::fwrite(line, 1, shown, stdout);
      std::fputc('\n', stdout);
      if (menu) menu->AddConsoleLine(std::string(line, shown).c_str());
    }
    if (last) break;
    line += length + 1;
  }
  std::fflush(stdout);
}

void gFrame::PrintScriptOutput(gmMachine*, const char* a_text) { PrintLine(a_text ? a_text : ""); }

// Entries written since the last frame, resumed from the number of the first one not yet
// shown: the log is shared with others who read it from the start, and it drops its oldest
// entries on its own.
void gFrame::ShowLog() {
  if (!machine) return;
  gmLog& log = machine->GetLog();
  while (const char* entry = log.Next(m_logShown)) PrintLogEntry(entry);
}

// The network channels' poll and the score answers.
void gFrame::PollNetwork() {
  if (_gNetwork::instance) _gNetwork::instance->Poll();
}

// Every scene's physics world, one step each.
void gFrame::StepPhysics() { scePhysics::StepAll(); }

void gFrame::UpdateInput() {
  if (replay) replay->Apply(frames + 1);
  if (input) input->Update();
  // The menu's browser is refilled here, after the event pass, not inside a list box's own
  // event handler.
  if (menu) menu->AfterEvents();
}

void gFrame::UpdateScenes() { gScene::UpdateAll(); }

// The sound listener follows its object.
void gFrame::MoveListener() {
  if (_gAudio::instance) _gAudio::instance->MoveListener();
}

// Presents the frame in progress and renders the next through every active camera, then the
// texts and the GUI. The new frame stays drawn and not yet presented until the next Render,
// so its back buffer can be read right after this step.
void gFrame::Render() {
  if (engineTimer) engineTimer->setTime(static_cast<irr::u32>(frames * 1000ull / 30));
  if (_gGraphics::instance) _gGraphics::instance->RenderFrame();
}

void gFrame::TickClock() {
  if (clock) clock->Tick();
}
