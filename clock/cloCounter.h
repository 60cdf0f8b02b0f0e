#pragma once
// A stopwatch counting frames of the frame clock (script type Counter). It reads the clock
// module's frame counter, so it counts the frames the game ran, skipped slots included.
#include <cstdint>

class gmMachineEx;

class cloCounter {
 public:
  cloCounter();
  ~cloCounter();
  cloCounter(const cloCounter&) = delete;
  cloCounter& operator=(const cloCounter&) = delete;

  void Start();
  void Stop();
  void Reset();
  int GetTick() const;
  // The time in the counter's own buffer: "MM:SS.hh" or "MM:SS" from the first minute on,
  // "SS.hh" or "00:SS" before it; a_hundredths not 0 selects the forms with hundredths. The
  // text stays valid until this counter formats again.
  const char* GetFormatedTime(int a_hundredths);  // sic: the script method's name

  // Counters that scripts make are never freed: a text that GetFormatedTime returned points
  // into one, and a script may keep the text longer than the counter. Every counter is
  // listed until it is destroyed, so those stay reachable to the end.
  static int RegisterScriptType(gmMachineEx* a_machine);

  std::uint32_t startFrame = 0;
  std::uint32_t total = 0;
  int stopped = 1;
  char text[20] = {};

 private:
  static std::uint32_t Now();
};
