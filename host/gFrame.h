#pragma once
#include <cstdio>
#include <functional>
// One frame of the running game as a callable unit, and the loop that repeats it. The
// steps run in a fixed order. Tests drive frames one by one with a fake clock.
class gmMachine;
class _gClock;
class _gInput;
class gDeveloperMenu;
class gInputReplay;
namespace irr {
class ITimer;
}

class gFrame {
 public:
  gmMachine* machine = nullptr;
  _gInput* input = nullptr;
  _gClock* clock = nullptr;
  // Events replayed at the start of their frame's input step; null for none.
  gInputReplay* replay = nullptr;
  // The loop ends after this frame; 0 runs until stopped.
  unsigned lastFrame = 0;
  // When set (--fixed-clock), the 3D engine's own clock, which moves particles, is stopped
  // and set to the frame count's time before each render, so what a frame shows does not
  // depend on how fast the machine draws.
  irr::ITimer* engineTimer = nullptr;

  // Called before every frame, when no script runs (the developer's reload).
  std::function<void()> beforeFrame;

  // Runs one frame; the clock step at its end waits for the frame's slot.
  void Run();
  // A reload's new machine: its log is shown from its first entry.
  void UseMachine(gmMachine* a_machine) {
    machine = a_machine;
    m_logShown = 0;
  }
  // Runs frames while the input module's running flag is set and lastFrame is not passed.
  // a_stopRequested, when given, is asked after every frame; a yes clears the flag, so the
  // frame in progress finishes. What the last frame logged is shown before it returns.
  void Loop(bool (*a_stopRequested)() = nullptr);

  // Console lines (script print output, the machine's log entries, the components'
  // messages) go to standard output, one line each, and to the developer menu's console
  // when there is one.
  static gDeveloperMenu* menu;
  static void PrintLine(const char* a_text);
  static void PrintLogEntry(const char* a_text);
  static void PrintScriptOutput(gmMachine* a_machine, const char* a_text);

  // Frames run so far.
  unsigned frames = 0;

  // With an array of kStepCount seconds, each step's time is added to its entry (the
  // player's --frame-times); null, the usual case, times nothing.
  static constexpr int kStepCount = 8;
  double* stepTimes = nullptr;
  // The mean time per frame of each step, for --frame-times.
  void PrintStepTimes(std::FILE* a_out) const;

 private:
  static void Print(const char* a_text, bool a_skipEmpty);
  void RunTimed();
  void ShowLog();
  void PollNetwork();
  void StepPhysics();
  void UpdateInput();
  void UpdateScenes();
  void MoveListener();
  void Render();
  void TickClock();

  long long m_logShown = 0;
};
