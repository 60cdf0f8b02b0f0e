#include "clock/_gClock.h"

#include <cstdlib>

#include "binding/gmNativeType.h"
#include "platform/gMilliClock.h"
#include "scene/gScriptCall.h"

_gClock* _gClock::instance = nullptr;

_gClock::_gClock() = default;

_gClock::~_gClock() {
  ReleaseTimers();
  if (instance == this) instance = nullptr;
}

void _gClock::Initialise(gMilliClock* a_time, gmMachineEx* a_machine) {
  m_time = a_time;
  m_machine = a_machine;
  m_start = m_time->Milliseconds();
  frameCounter = 0;
  ReleaseTimers();
  m_calls.clear();
  std::srand(static_cast<unsigned>(m_start * 0.001));
  std::rand();
}

double _gClock::Elapsed() { return static_cast<std::uint32_t>(m_time->Milliseconds() - m_start) * 0.001; }

void _gClock::Tick() {
  ++frameCounter;
  // A frame that overran its slot: the slots it covered are skipped, never made up.
  if (Elapsed() > frameCounter * kFramePeriod) frameCounter = static_cast<std::uint32_t>(Elapsed() / kFramePeriod);
  WaitForSlot(frameCounter * kFramePeriod);
  m_time->Sleep(1);
  FireDue();
}

// Ends at the first millisecond reading whose time since the start reaches a_slot, as a
// loop that did nothing but read the clock would.
void _gClock::WaitForSlot(double a_slot) {
  for (;;) {
    const std::uint64_t nowUs = m_time->Microseconds();
    const std::uint32_t elapsedMs = static_cast<std::uint32_t>(nowUs / 1000u) - m_start;
    if (elapsedMs * 0.001 >= a_slot) return;
    // The first whole millisecond that reaches the slot, by the same comparison.
    std::uint32_t due = static_cast<std::uint32_t>(a_slot * 1000.0);
    while (due * 0.001 < a_slot) ++due;
    const std::uint64_t untilDue = std::uint64_t(due - elapsedMs) * 1000u - nowUs % 1000u;
    if (untilDue > kSpinMicroseconds)
      m_time->SleepMicroseconds(static_cast<std::uint32_t>(untilDue - kSpinMicroseconds));
    else
      m_time->Relax();
  }
}

void _gClock::FireDue() {
  while (m_head && m_head->delta <= 0) {
    Timer* timer = m_head;
    m_head = timer->next;
    timer->next = nullptr;
    if (!timer->function.empty() && timer->table.Get()) m_calls.push_back(Call{timer->function, timer->table});
    if (timer->kind == TIMER_CYCLIC) {
      // Queued again behind at least one frame: a period of 0 would put it back at the head
      // with nothing to wait, and this pass would fire it again without end.
      Insert(timer, timer->period > 0 ? timer->period : 1);
    } else {
      delete timer;
    }
  }
  if (m_head) --m_head->delta;

  // The calls run after the walk, so timers that scripts add or remove from them never
  // meet a list in the middle of a change. Swapped out first: a call may tick nothing, but
  // it may add timers, and a later tick must start from an empty list of calls.
  std::vector<Call> calls;
  calls.swap(m_calls);
  for (const Call& call : calls) gScriptCall::Global(m_machine, call.function.c_str(), {gmVariable(call.table.Get())});
}

void _gClock::Insert(Timer* a_timer, int a_period) {
  int remaining = a_period;
  Timer** link = &m_head;
  while (*link && remaining > (*link)->delta) {
    remaining -= (*link)->delta;
    link = &(*link)->next;
  }
  a_timer->delta = remaining;
  a_timer->next = *link;
  if (a_timer->next) a_timer->next->delta -= remaining;
  *link = a_timer;
}

int _gClock::AddTimer(int a_kind, int a_milliseconds, const char* a_function, gmTableObject* a_table) {
  Timer* timer = new Timer;
  timer->id = ++m_lastId;
  timer->kind = a_kind;
  // A negative period would enter the list with a negative delta and lengthen the wait of
  // the timer behind it; it fires at the next tick like a period of 0.
  timer->period = a_milliseconds > 0 ? a_milliseconds / kFrameMilliseconds : 0;
  timer->function = a_function ? a_function : "";
  timer->table.Set(m_machine, a_table);
  Insert(timer, timer->period);
  return timer->id;
}

void _gClock::RemoveTimer(int a_id) {
  for (Timer** link = &m_head; *link; link = &(*link)->next) {
    Timer* timer = *link;
    if (timer->id != a_id) continue;
    *link = timer->next;
    if (timer->next) timer->next->delta += timer->delta;
    delete timer;
    return;
  }
}

int _gClock::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<_gClock> type(a_machine, "_Clock");
  type.ModuleConstructor(&instance);
  type.Method("AddTimer", &_gClock::AddTimer);
  type.Method("RemoveTimer", &_gClock::RemoveTimer);
  return type.Register();
}

int _gClock::PendingTimers() const {
  int n = 0;
  for (const Timer* t = m_head; t; t = t->next) ++n;
  return n;
}

void _gClock::Teardown() {
  ReleaseTimers();
  m_calls.clear();
  m_machine = nullptr;
}

void _gClock::ReleaseTimers() {
  while (m_head) {
    Timer* next = m_head->next;
    delete m_head;
    m_head = next;
  }
}
