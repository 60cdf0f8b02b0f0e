#include "clock/cloCounter.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "binding/gmNativeType.h"
#include "clock/_gClock.h"

namespace {

std::vector<cloCounter*>& AllCounters() {
  static std::vector<cloCounter*>* all = new std::vector<cloCounter*>();
  return *all;
}

}  // namespace

cloCounter::cloCounter() { AllCounters().push_back(this); }

cloCounter::~cloCounter() {
  std::vector<cloCounter*>& all = AllCounters();
  auto it = std::find(all.begin(), all.end(), this);
  if (it == all.end()) return;
  *it = all.back();
  all.pop_back();
}

std::uint32_t cloCounter::Now() { return _gClock::instance ? _gClock::instance->frameCounter : 0; }

void cloCounter::Start() {
  if (!stopped) return;
  startFrame = Now();
  stopped = 0;
}

void cloCounter::Stop() {
  if (stopped) return;
  total += Now() - startFrame;
  stopped = 1;
}

void cloCounter::Reset() {
  total = 0;
  stopped = 1;
}

int cloCounter::GetTick() const { return static_cast<int>(stopped ? total : Now() - startFrame + total); }

int cloCounter::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<cloCounter> type(a_machine, "Counter");
  type.Constructor<>();
  type.Method("GetFormatedTime", &cloCounter::GetFormatedTime);
  type.Method("Reset", &cloCounter::Reset);
  type.Method("Start", &cloCounter::Start);
  type.Method("Stop", &cloCounter::Stop);
  type.Method("GetTick", &cloCounter::GetTick);
  return type.Register();
}

const char* cloCounter::GetFormatedTime(int a_hundredths) {
  // In 64 bits: frames times 30 leaves 32 bits after 16 days of counting.
  const std::uint64_t ms = std::uint64_t(static_cast<std::uint32_t>(GetTick())) * _gClock::kFrameMilliseconds;
  const std::uint64_t whole = ms / 1000u * 1000u;
  const unsigned long long minutes = whole / 60000u;
  const unsigned seconds = static_cast<unsigned>(whole / 1000u % 60u);
  const unsigned hundredths = static_cast<unsigned>((ms - whole) / 10u);
  if (minutes != 0) {
    if (a_hundredths)
      std::snprintf(text, sizeof text, "%02llu:%02u.%02u", minutes, seconds, hundredths);
    else
      std::snprintf(text, sizeof text, "%02llu:%02u", minutes, seconds);
  } else if (a_hundredths) {
    std::snprintf(text, sizeof text, "%02u.%02u", seconds, hundredths);
  } else {
    std::snprintf(text, sizeof text, "00:%02u", seconds);
  }
  return text;
}
