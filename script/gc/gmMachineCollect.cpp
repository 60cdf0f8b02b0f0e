#include "script/gc/gmMachineCollect.h"

#include <cstdlib>

#include "script/gc/gmGCRoot.h"
#include "script/gc/gmGarbageCollector.h"
#include "script/vm/gmMachine.h"
#include "script/vm/gmThread.h"

namespace {
// Incremental cycles completed within fewer calls than this mean the soft limit sits so
// close to the live heap that the collector never rests.
const int kWarnCallsPerTwoCycles = 100;
}  // namespace

namespace {
struct gmCollectingScope {
  explicit gmCollectingScope(gmGarbageCollector* a_gc) : gc(a_gc) { gc->collecting = true; }
  ~gmCollectingScope() { gc->collecting = false; }
  gmGarbageCollector* gc;
};
}  // namespace

bool gmMachine::Collect(bool a_force) {
  gmGarbageCollector* gc = GetGC();
  if (!IsGCEnabled() || gc->collecting) return false;
  gmCollectingScope scope(gc);
  if (desiredMemorySoft > desiredMemoryHard) desiredMemorySoft = desiredMemoryHard;
  ++gcCallsSince;

  if (!a_force && GetCurrentMemoryUsage() <= desiredMemoryHard) {
    if (gc->IsOff() && GetCurrentMemoryUsage() > desiredMemorySoft) {
      if (gc->DestructSomeFreeObjects(this, gc->freePerStep) == 0) {
        ++gcCyclesStarted;
        gc->StartCycle();
      }
    }
    if (!gc->IsOff() && gc->IncrementalStep(this)) {
      if (gcCyclesStarted == 2) {
        gcCyclesStarted = 0;
        if (gcCallsSince < kWarnCallsPerTwoCycles) ++statWarnings;
        gcCallsSince = 0;
      }
      ++statIncCollects;
    }
    return false;
  }

  ++statFullCollects;
  gc->FullCollect(this);
  if (autoMemoryLimits)
    gmAdjustMemoryLimits(GetCurrentMemoryUsage(), desiredMemorySoft, desiredMemoryHard, statWarnings);
  return true;
}

#ifdef GM_GC_STRESS
void gmMachine::StressCollect() {
  static const bool s_on = std::getenv("OMBRIX_GC_STRESS") != nullptr;
  gmGarbageCollector* gc = GetGC();
  if (!s_on || !IsGCEnabled() || gc->collecting) return;
  gmCollectingScope scope(gc);
  gc->FullCollect(this);
}
#endif

namespace {
// A limit from a single-precision product, truncated toward zero and kept within an int
// (1.5 times a heap past 1.4 GiB, or a product of a negative limit, would not fit).
int ToLimit(float a_value) {
  if (!(a_value > 0.0f)) return 0;
  if (a_value >= 2147483520.0f) return 0x7FFFFF80;  // the largest float below 2^31
  return static_cast<int>(a_value);
}
}  // namespace

void gmAdjustMemoryLimits(long long a_usage, int& a_soft, int& a_hard, int& a_warnings) {
  // float * int converts the int to float first: the arithmetic is single precision
  // throughout, as the limits' published figures (131071, 104856) require.
  const float usage = static_cast<float>(a_usage);
  const float soft = static_cast<float>(a_soft);
  const float hard = static_cast<float>(a_hard);

  if (a_usage >= a_soft) {
    // The live heap outgrew the soft limit: raise the limits towards 1.5 times the heap,
    // keeping soft at 90% of hard.
    int newSoft = ToLimit(hard * 0.9f);
    if (newSoft < a_soft) newSoft = a_soft;
    int newHard = ToLimit(usage * 1.5f);
    if (newHard < a_hard) newHard = a_hard;
    if (static_cast<float>(newSoft) / static_cast<float>(newHard) < 0.9f)
      a_hard = ToLimit(static_cast<float>(newSoft) * 1.1111112f);
    else
      a_hard = newHard;
    a_soft = newSoft;
    return;
  }

  if (usage / hard < 0.5f) return;

  // The heap uses more than half the hard limit but stays below soft: bring soft down by a
  // tenth of hard so incremental cycles start earlier.
  float f = soft / hard - 0.1f;
  if (f > 0.25f) {
    int newSoft = ToLimit(hard * f);
    if (newSoft > a_usage) a_soft = newSoft;
  } else {
    ++a_warnings;
  }
}

void gmMarkThreadStack(gmGarbageCollector* a_gc, const gmThread* a_thread) {
  const gmVariable* slot = a_thread->GetBottom();
  const gmVariable* top = a_thread->GetTop();
  for (; slot < top; ++slot) gmMarkValue(a_gc, *slot);
}

void gmMarkMachineRoots(gmMachine* a_machine, gmGarbageCollector* a_gc) {
  // The host marks what it holds for scripts before anything else.
  if (gmMachine::s_machineCallback) gmMachine::s_machineCallback(a_machine, MC_COLLECT_GARBAGE, nullptr);
  // Killed threads sit reset in the free list and hold nothing.
  static const int kLiveLists[] = {gmThread::RUNNING, gmThread::BLOCKED, gmThread::SLEEPING, gmThread::EXCEPTION};
  for (int list : kLiveLists) {
    for (gmThread* thread = a_machine->GetFirstThread(list); thread; thread = thread->GetNextInList())
      gmMarkThreadStack(a_gc, thread);
  }
  if (a_gc->threadRootCallback) a_gc->threadRootCallback(a_machine, a_gc);
  if (gmTableObject* globals = a_machine->GetGlobals()) a_gc->GetNextObject(globals);
  for (int type = 0; type < a_machine->GetNumTypes(); ++type) {
    if (gmTableObject* variables = a_machine->GetTypeVariables(type)) a_gc->GetNextObject(variables);
    // A script operator function (typeRegisterOperator) may be referenced nowhere else; the
    // interpreter calls it straight from the slot.
    for (int op = 0; op < O_MAXOPERATORS; ++op) {
      if (gmFunctionObject* function = a_machine->GetTypeOperator(type, op)) a_gc->GetNextObject(function);
    }
  }
  for (const gmGCRoot* root = a_gc->GetFirstRoot(); root; root = root->GetNext()) gmMarkValue(a_gc, root->Get());
}
