#include "script/lib/gmCoreLib.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "script/lib/gmLibNumbers.h"
#include "script/vm/gmMachine.h"
#include "script/vm/gmThread.h"

namespace {

// A text that grows in the machine's size-class storage. It exists (data non-null) from
// the first append on, even an empty one: format tells "nothing appended" from "appended
// an empty text" by that.
class gmGrowingText {
 public:
  explicit gmGrowingText(gmMachine* a_machine) : m_machine(a_machine) {}
  ~gmGrowingText() {
    if (m_data) m_machine->Free(m_data);
  }
  gmGrowingText(const gmGrowingText&) = delete;
  gmGrowingText& operator=(const gmGrowingText&) = delete;

  void Append(const char* a_text, size_t a_length) {
    if (!m_data || m_length + a_length + 1 > m_capacity) {
      // Grown by the length needed plus some slack, so runs of short appends rarely copy.
      size_t capacity = m_capacity + a_length + 64;
      char* data = static_cast<char*>(m_machine->Alloc(capacity));
      if (m_data) {
        std::memcpy(data, m_data, m_length);
        m_machine->Free(m_data);
      }
      m_data = data;
      m_capacity = capacity;
    }
    std::memcpy(m_data + m_length, a_text, a_length);
    m_length += a_length;
    m_data[m_length] = '\0';
  }
  void Append(const char* a_text) { Append(a_text, std::strlen(a_text)); }

  bool Empty() const { return m_data == nullptr; }
  const char* Text() const { return m_data ? m_data : ""; }
  size_t Length() const { return m_length; }

 private:
  gmMachine* m_machine;
  char* m_data = nullptr;
  size_t m_length = 0;
  size_t m_capacity = 0;
};

// ---- Version and types --------------------------------------------------------------

int gmfVersion(gmThread* a_thread) {
  a_thread->PushNewString("1.24");
  return GM_NATIVE_OK;
}

int gmfTypeId(gmThread* a_thread) {
  if (a_thread->GetNumParams() > 0) a_thread->PushInt(a_thread->ParamType(0));
  return GM_NATIVE_OK;
}

int gmfTypeName(gmThread* a_thread) {
  if (a_thread->GetNumParams() > 0) {
    gmMachine* machine = a_thread->GetMachine();
    a_thread->PushNewString(machine->TypeName(a_thread->ParamType(0)));
  }
  return GM_NATIVE_OK;
}

// Returns 1 when the slot was set, 0 for a name that is no operator's or a type id no type
// has (the id reaches the type registry as an index).
int gmfTypeRegisterOperator(gmThread* a_thread) {
  GM_EXPECT_PARAMS(3);
  GM_EXPECT_INT_PARAM(type, 0);
  GM_EXPECT_STRING_PARAM(name, 1);
  GM_EXPECT_FUNCTION_PARAM(function, 2);
  gmMachine* machine = a_thread->GetMachine();
  int op = gmGetOperatorType(name);
  bool set =
      op != O_MAXOPERATORS && machine->IsValidType(type) && machine->SetTypeOperator(type, op, function, nullptr);
  a_thread->PushInt(set ? 1 : 0);
  return GM_NATIVE_OK;
}

// A type id no type has is a script error: the value would otherwise vanish silently.
int gmfTypeRegisterVariable(gmThread* a_thread) {
  GM_EXPECT_PARAMS(3);
  GM_EXPECT_INT_PARAM(type, 0);
  GM_EXPECT_STRING_PARAM(name, 1);
  (void)name;  // the key is the string object itself
  gmMachine* machine = a_thread->GetMachine();
  if (!machine->IsValidType(type)) {
    a_thread->LogError("type %d is not registered", type);
    return GM_NATIVE_ERROR;
  }
  machine->SetTypeVariable(type, a_thread->Param(1), a_thread->Param(2));
  return GM_NATIVE_OK;
}

// ---- Threads that are executing ------------------------------------------------------
// A native that runs script code (doString, LoadScript, NewScene, a callback) leaves its
// calling thread in the middle of execution further up the C stack. The code it runs must
// not rebuild that thread's stack for a new state: its interpreter loop still works on it.
// (Ending it is safe: the machine completes the kill when control returns to it.) Such a
// thread is executing; a thread whose bottom call is a native being run by `thread` or by
// the exit function's caller is listed by the guard for the duration.

std::vector<gmThread*>& BusyThreads() {
  thread_local std::vector<gmThread*> busy;
  return busy;
}

bool IsBusy(const gmThread* a_thread) {
  if (a_thread->IsExecuting()) return true;
  for (const gmThread* t : BusyThreads())
    if (t == a_thread) return true;
  return false;
}

class gmBusyScope {
 public:
  explicit gmBusyScope(gmThread* a_thread) { BusyThreads().push_back(a_thread); }
  ~gmBusyScope() { BusyThreads().pop_back(); }
  gmBusyScope(const gmBusyScope&) = delete;
  gmBusyScope& operator=(const gmBusyScope&) = delete;
};

gmuint MachineTime(gmMachine* a_machine) { return a_machine->GetTime(); }

// ---- Collector and memory -------------------------------------------------------------

int gmfSysCollectGarbage(gmThread* a_thread) {
  bool force = a_thread->ParamInt(0, 0) != 0;
  a_thread->PushInt(a_thread->GetMachine()->Collect(force) ? 1 : 0);
  return GM_NATIVE_OK;
}

int gmfSysGetMemoryUsage(gmThread* a_thread) {
  // Script ints are 32 bits: a heap past 2 GiB reads as the largest int, never negative.
  const long long usage = a_thread->GetMachine()->GetCurrentMemoryUsage();
  a_thread->PushInt(usage > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<gmint>(usage));
  return GM_NATIVE_OK;
}

int gmfSysSetDesiredMemoryUsageHard(gmThread* a_thread) {
  GM_EXPECT_PARAMS(1);
  GM_EXPECT_INT_PARAM(bytes, 0);
  // A negative limit means nothing; 0 already collects fully on every call.
  a_thread->GetMachine()->desiredMemoryHard = bytes < 0 ? 0 : bytes;
  return GM_NATIVE_OK;
}

int gmfSysSetDesiredMemoryUsageSoft(gmThread* a_thread) {
  GM_EXPECT_PARAMS(1);
  GM_EXPECT_INT_PARAM(bytes, 0);
  a_thread->GetMachine()->desiredMemorySoft = bytes < 0 ? 0 : bytes;
  return GM_NATIVE_OK;
}

int gmfSysGetDesiredMemoryUsageHard(gmThread* a_thread) {
  a_thread->PushInt(a_thread->GetMachine()->desiredMemoryHard);
  return GM_NATIVE_OK;
}

int gmfSysGetDesiredMemoryUsageSoft(gmThread* a_thread) {
  a_thread->PushInt(a_thread->GetMachine()->desiredMemorySoft);
  return GM_NATIVE_OK;
}

int gmfSysSetDesiredMemoryUsageAuto(gmThread* a_thread) {
  GM_EXPECT_PARAMS(1);
  GM_EXPECT_INT_PARAM(flag, 0);
  a_thread->GetMachine()->autoMemoryLimits = flag != 0;
  return GM_NATIVE_OK;
}

int gmfSysGetStatsGCNumFullCollects(gmThread* a_thread) {
  a_thread->PushInt(a_thread->GetMachine()->statFullCollects);
  return GM_NATIVE_OK;
}

int gmfSysGetStatsGCNumIncCollects(gmThread* a_thread) {
  a_thread->PushInt(a_thread->GetMachine()->statIncCollects);
  return GM_NATIVE_OK;
}

int gmfSysGetStatsGCNumWarnings(gmThread* a_thread) {
  a_thread->PushInt(a_thread->GetMachine()->statWarnings);
  return GM_NATIVE_OK;
}

int gmfSysIsGCRunning(gmThread* a_thread) {
  a_thread->PushInt(a_thread->GetMachine()->GetGC()->IsOff() ? 0 : 1);
  return GM_NATIVE_OK;
}

int gmfSysTime(gmThread* a_thread) {
  a_thread->PushInt(static_cast<gmint>(MachineTime(a_thread->GetMachine())));
  return GM_NATIVE_OK;
}

// ---- Running text -------------------------------------------------------------------

// Compile errors are already in the log, so failing the caller adds no message.
int gmfDoString(gmThread* a_thread) {
  GM_EXPECT_PARAMS(1);
  GM_EXPECT_STRING_PARAM(text, 0);
  bool runNow = a_thread->ParamInt(1, 1) != 0;
  gmVariable self = a_thread->GetNumParams() > 2 ? a_thread->Param(2) : gmVariable::Null();
  int id = 0;
  int errors;
  {
    gmBusyScope busy(a_thread);
    errors = a_thread->GetMachine()->RunString(text, &id, runNow, nullptr, &self);
  }
  if (errors) return GM_NATIVE_ERROR;
  a_thread->PushInt(id);
  return GM_NATIVE_OK;
}

int gmfGlobals(gmThread* a_thread) {
  a_thread->PushTable(a_thread->GetMachine()->GetGlobals());
  return GM_NATIVE_OK;
}

// ---- Threads --------------------------------------------------------------------------

int gmfThreadTime(gmThread* a_thread) {
  gmuint now = MachineTime(a_thread->GetMachine());
  a_thread->PushInt(static_cast<gmint>(now - a_thread->startTime));
  return GM_NATIVE_OK;
}

int gmfThreadId(gmThread* a_thread) {
  a_thread->PushInt(a_thread->GetId());
  return GM_NATIVE_OK;
}

int gmfThreadAllIds(gmThread* a_thread) {
  gmMachine* machine = a_thread->GetMachine();
  // Pushed first so the table is reachable while the ids go in.
  gmTableObject* table = a_thread->PushNewTable();
  for (int state : {gmThread::RUNNING, gmThread::BLOCKED, gmThread::SLEEPING, gmThread::EXCEPTION}) {
    for (gmThread* t = machine->GetFirstThread(state); t; t = t->GetNextInList())
      table->Set(machine, gmVariable(table->Count()), gmVariable(static_cast<gmint>(t->GetId())));
  }
  return GM_NATIVE_OK;
}

int gmfThreadKill(gmThread* a_thread) {
  const gmVariable& target = a_thread->Param(0);
  if (!target.IsInt() || target.GetInt() == 0 || target.GetInt() == a_thread->GetId()) return GM_NATIVE_KILL;
  gmMachine* machine = a_thread->GetMachine();
  if (gmThread* victim = machine->FindThread(target.GetInt())) machine->SwitchThreadState(victim, gmThread::KILLED);
  return GM_NATIVE_OK;
}

// Pending and exception threads are left alone.
int gmfThreadKillAll(gmThread* a_thread) {
  bool killSelf = a_thread->ParamInt(0, 0) != 0;
  gmMachine* machine = a_thread->GetMachine();
  for (int state : {gmThread::RUNNING, gmThread::SLEEPING, gmThread::BLOCKED}) {
    gmThread* t = machine->GetFirstThread(state);
    while (t) {
      gmThread* next = t->GetNextInList();
      if (t != a_thread && t->GetState() == state) machine->SwitchThreadState(t, gmThread::KILLED);
      t = next;
    }
  }
  return killSelf ? GM_NATIVE_KILL : GM_NATIVE_OK;
}

// The new thread gets the `this` of this call, the function and the further arguments. A
// script function is left ready in the running list; a native one has run here already.
int gmfThread(gmThread* a_thread) {
  GM_EXPECT_PARAMS(1);
  GM_EXPECT_FUNCTION_PARAM(function, 0);
  gmMachine* machine = a_thread->GetMachine();
  int id = 0;
  gmThread* thread = machine->NewThread(&id);
  int numArgs = a_thread->GetNumParams() - 1;
  if (!thread->Touch(numArgs + 2)) {
    machine->SwitchThreadState(thread, gmThread::KILLED);
    a_thread->LogError("stack overflow");
    return GM_NATIVE_ERROR;
  }
  thread->PushValue(*a_thread->GetThis());
  thread->PushFunction(function);
  for (int i = 1; i <= numArgs; ++i) thread->PushValue(a_thread->Param(i));
  int result;
  {
    gmBusyScope busy(a_thread);
    gmBusyScope calleeBusy(thread);
    result = thread->PushCall(numArgs);
  }
  // A native that finished or failed at once leaves nothing to run: kept in the running
  // list, the thread would never leave it.
  if (result == gmThread::KILLED || result == gmThread::CALL_FAILED)
    machine->SwitchThreadState(thread, gmThread::KILLED);
  a_thread->PushInt(id);
  return GM_NATIVE_OK;
}

int gmfYield(gmThread*) { return GM_NATIVE_YIELD; }

int gmfExit(gmThread*) { return GM_NATIVE_KILL; }

// The truth test here is the payload alone: a user type's bool operator is not consulted.
int gmfAssert(gmThread* a_thread) {
  if (a_thread->GetNumParams() > 0 && a_thread->Param(0).IsTrue()) return GM_NATIVE_OK;
  const char* message = a_thread->ParamString(1, "assert failed");
  a_thread->LogError("%s", message);
  return GM_NATIVE_ERROR;
}

int gmfSleep(gmThread* a_thread) {
  GM_EXPECT_PARAMS(1);
  const gmVariable duration = a_thread->Param(0);
  gmint milliseconds = 0;
  if (duration.IsInt())
    milliseconds = static_cast<gmint>(static_cast<gmuint>(duration.GetInt()) * 1000u);
  else if (duration.IsFloat())
    milliseconds = gmFloatToInt(std::floor(duration.GetFloat() * 1000.0f));
  a_thread->wakeTime = MachineTime(a_thread->GetMachine()) + static_cast<gmuint>(milliseconds);
  return GM_NATIVE_SLEEP;
}

// Signals and blocks. Nothing in this machine resumes a blocked or pending thread, but the
// records stay observable: a pending thread keeps further signals queued for its next block.
int gmfSignal(gmThread* a_thread) {
  GM_EXPECT_PARAMS(1);
  a_thread->GetMachine()->GetBlocks().Signal(a_thread->GetMachine(), a_thread->Param(0), a_thread->GetId(),
                                             a_thread->ParamInt(1, 0));
  return GM_NATIVE_OK;
}

int gmfBlock(gmThread* a_thread) {
  GM_EXPECT_PARAMS(1);
  int match = a_thread->GetMachine()->GetBlocks().Block(a_thread, a_thread->GetBase(), a_thread->GetNumParams());
  if (match < 0) return GM_NATIVE_BLOCK;
  const gmVariable value = a_thread->Param(match);  // pushing may move the stack
  a_thread->PushValue(value);
  return GM_NATIVE_OK;
}

// ---- Thread states ------------------------------------------------------------------
// A thread that has called stateSet holds a "gmState" user object in slot 0 of its stack,
// below its bottom call (which then has base 3). The record keeps the current, previous
// and exit functions; the type's trace marks them, so a state function stays alive exactly
// as long as the thread that runs it.

struct gmStateRecord {
  gmFunctionObject* current;
  gmFunctionObject* previous;
  gmFunctionObject* exit;
};

bool StateTrace(gmMachine*, gmUserObject* a_object, gmGarbageCollector* a_gc, int, int& a_workDone) {
  const gmStateRecord* record = static_cast<const gmStateRecord*>(a_object->user);
  ++a_workDone;
  if (record) {
    for (gmFunctionObject* f : {record->current, record->previous, record->exit}) {
      if (f) {
        a_gc->GetNextObject(f);
        ++a_workDone;
      }
    }
  }
  return true;
}

void StateDestruct(gmMachine* a_machine, gmUserObject* a_object) {
  if (a_object->user) a_machine->Free(a_object->user);
  a_object->user = nullptr;
}

// The thread's state record, or null when it has none.
gmStateRecord* StateOf(const gmThread* a_thread) {
  if (a_thread->GetTopIndex() < 1) return nullptr;
  const gmVariable& slot = a_thread->GetBottom()[0];
  if (slot.type != GM_USER) return nullptr;
  return static_cast<gmStateRecord*>(slot.GetUserObject()->user);
}

// Replaces a_target's whole call stack by [state, this, function, arguments...], the
// function and arguments being a_caller's parameters from a_first on. The caller's
// parameters are copied aside first: a_caller may be a_target. Returns the number of
// arguments that follow the function, or -1 when the stack cannot hold them (nothing
// changed then).
int RebuildForState(gmThread* a_caller, gmThread* a_target, int a_first) {
  gmMachine* machine = a_caller->GetMachine();
  int numArgs = a_caller->GetNumParams() - a_first - 1;
  gmFunctionObject* function = a_caller->Param(a_first).GetFunctionObject();
  gmVariable self = a_target == a_caller
                        ? *a_caller->GetThis()
                        : (a_target->GetBaseIndex() >= 2 ? a_target->GetBase()[-2] : gmVariable::Null());
  std::vector<gmVariable> args(a_caller->GetBase() + a_first + 1, a_caller->GetBase() + a_first + 1 + numArgs);

  gmStateRecord* record = StateOf(a_target);
  gmVariable stateObject;
  if (record) {
    stateObject = a_target->GetBottom()[0];
    if (record->exit) {
      // The exit function runs to completion on a thread of its own, with the state's
      // `this`; everything it needs is still on a_target's stack meanwhile.
      gmFunctionObject* exitFunction = record->exit;
      record->exit = nullptr;
      int exitId = 0;
      int targetId = a_target->GetId();
      {
        gmBusyScope callerBusy(a_caller);
        gmBusyScope targetBusy(a_target);
        if (gmThread* exitThread = machine->NewThreadCalling(self, exitFunction, &exitId)) exitThread->Run();
      }
      // The exit function may have ended the thread (it can name it by id).
      if (machine->FindThread(targetId) != a_target || !StateOf(a_target)) return -1;
      record = StateOf(a_target);
      stateObject = a_target->GetBottom()[0];
    }
    record->previous = record->current;
    record->current = function;
    record->exit = nullptr;
  } else {
    record = static_cast<gmStateRecord*>(machine->Alloc(sizeof(gmStateRecord)));
    *record = gmStateRecord{function, nullptr, nullptr};
    stateObject.SetUser(machine->MakeUserObject(record, GM_USER));
  }

  a_target->Reset(true);
  a_target->startTime = MachineTime(machine);
  if (!a_target->Touch(3 + numArgs)) return -1;
  a_target->PushValue(stateObject);
  a_target->PushValue(self);
  a_target->PushFunction(function);
  for (const gmVariable& arg : args) a_target->PushValue(arg);
  return numArgs;
}

int gmfStateSet(gmThread* a_thread) {
  GM_EXPECT_PARAMS(1);
  GM_EXPECT_FUNCTION_PARAM(function, 0);
  (void)function;
  if (RebuildForState(a_thread, a_thread, 0) < 0) return GM_NATIVE_KILL;
  return GM_NATIVE_RESTART;
}

int gmfStateSetOnThread(gmThread* a_thread) {
  GM_EXPECT_PARAMS(2);
  GM_EXPECT_INT_PARAM(id, 0);
  GM_EXPECT_FUNCTION_PARAM(function, 1);
  (void)function;
  if (id == a_thread->GetId()) {
    a_thread->LogError("use setstate() on own thread");  // the message scripts see; keep it
    return GM_NATIVE_ERROR;
  }
  gmMachine* machine = a_thread->GetMachine();
  gmThread* target = machine->FindThread(id);
  // A thread executing further up the C stack is treated like one that does not exist.
  if (!target || IsBusy(target)) return GM_NATIVE_OK;
  int numArgs = RebuildForState(a_thread, target, 1);
  if (numArgs < 0) return GM_NATIVE_OK;
  {
    gmBusyScope busy(a_thread);
    gmBusyScope targetBusy(target);
    target->PushCall(numArgs);
  }
  machine->SwitchThreadState(target, gmThread::RUNNING);
  return GM_NATIVE_OK;
}

// Shared by stateGet and stateGetLast.
int StateGet(gmThread* a_thread, bool a_previous) {
  gmThread* target = a_thread;
  if (a_thread->GetNumParams() > 0) {
    GM_EXPECT_INT_PARAM(id, 0);
    target = a_thread->GetMachine()->FindThread(id);
    if (!target) {
      a_thread->PushNull();
      return GM_NATIVE_OK;
    }
  }
  if (const gmStateRecord* record = StateOf(target)) {
    gmFunctionObject* function = a_previous ? record->previous : record->current;
    if (function) a_thread->PushFunction(function);
  }
  return GM_NATIVE_OK;
}

int gmfStateGet(gmThread* a_thread) { return StateGet(a_thread, false); }
int gmfStateGetLast(gmThread* a_thread) { return StateGet(a_thread, true); }

int gmfStateSetExitFunction(gmThread* a_thread) {
  GM_EXPECT_PARAMS(1);
  GM_EXPECT_FUNCTION_PARAM(function, 0);
  if (gmStateRecord* record = StateOf(a_thread)) record->exit = function;
  return GM_NATIVE_OK;
}

// ---- Tables ---------------------------------------------------------------------------

int gmfTableCount(gmThread* a_thread) {
  GM_EXPECT_PARAMS(1);
  GM_EXPECT_TABLE_PARAM(table, 0);
  a_thread->PushInt(table->Count());
  return GM_NATIVE_OK;
}

int gmfTableDuplicate(gmThread* a_thread) {
  GM_EXPECT_PARAMS(1);
  GM_EXPECT_TABLE_PARAM(table, 0);
  a_thread->PushTable(table->Duplicate(a_thread->GetMachine()));
  return GM_NATIVE_OK;
}

// ---- Text output ----------------------------------------------------------------------

// Every argument's text followed by one space, handed over as one text.
int gmfPrint(gmThread* a_thread) {
  int count = a_thread->GetNumParams();
  if (count == 0) return GM_NATIVE_OK;
  gmMachine* machine = a_thread->GetMachine();
  gmGrowingText text(machine);
  char buffer[256];
  for (int i = 0; i < count; ++i) {
    text.Append(machine->ValueToText(a_thread->Param(i), buffer, sizeof(buffer)));
    text.Append(" ", 1);
  }
  if (gmMachine::s_printCallback) gmMachine::s_printCallback(machine, text.Text());
  return GM_NATIVE_OK;
}

// Appends the unsigned 32-bit value in base 2, without leading zeros.
void AppendBinary(gmGrowingText& a_text, gmuint a_value) {
  char digits[33];
  int n = 32;
  digits[n] = '\0';
  do {
    digits[--n] = static_cast<char>('0' + (a_value & 1u));
    a_value >>= 1;
  } while (a_value);
  a_text.Append(digits + n, static_cast<size_t>(32 - n));
}

// The digits of a_value in base 10 or 16 (lower case), as printf writes them, ending at
// a_end; returns where they start. Games format scores every frame: printf's machinery costs
// more than the conversion.
char* UnsignedDigits(gmuint a_value, gmuint a_base, char* a_end) {
  do {
    *--a_end = "0123456789abcdef"[a_value % a_base];
    a_value /= a_base;
  } while (a_value);
  return a_end;
}

void AppendUnsigned(gmGrowingText& a_text, gmuint a_value, gmuint a_base, bool a_negative = false) {
  char digits[16];
  char* end = digits + sizeof(digits);
  char* start = UnsignedDigits(a_value, a_base, end);
  if (a_negative) *--start = '-';
  a_text.Append(start, static_cast<size_t>(end - start));
}

// printf's flags, width and precision between "%" and a conversion letter ("%-8s",
// "%5.1f", "%03d"). Width and precision are capped, so a format cannot ask for a text of
// gigabytes.
struct gmFormatDirective {
  std::string flags;
  int width = -1;
  int precision = -1;
};
const int kMaxFormatWidth = 512;

// Reads the directive starting at a_p (just after the "%"); returns where the letter should be.
const char* ReadFormatDirective(const char* a_p, gmFormatDirective& a_directive) {
  while (*a_p && std::strchr("-+ #0", *a_p)) a_directive.flags += *a_p++;
  auto number = [&a_p]() {
    int value = 0;
    while (*a_p >= '0' && *a_p <= '9') value = std::min(value * 10 + (*a_p++ - '0'), kMaxFormatWidth);
    return value;
  };
  if (*a_p >= '0' && *a_p <= '9') a_directive.width = number();
  if (*a_p == '.') {
    ++a_p;
    a_directive.precision = number();
  }
  return a_p;
}

// One conversion with its directive; a_letter is lower case. Flags that C leaves undefined for a
// conversion are dropped, so every directive has a defined result.
void AppendWithDirective(gmGrowingText& a_text, char a_letter, const gmFormatDirective& a_directive,
                         const gmVariable& a_arg) {
  static const char* const kAllowed[] = {"-0", "-", "-+ 0", "-+ 0#", "-+ 0#", "-", "-0", "-0#"};
  const char* letters = "bcdefsux";
  const char* allowed = kAllowed[std::strchr(letters, a_letter) - letters];
  std::string flags;
  for (char flag : a_directive.flags)
    if (std::strchr(allowed, flag) && flags.find(flag) == std::string::npos) flags += flag;
  const bool left = flags.find('-') != std::string::npos;
  const gmint i = a_arg.IsInt() ? a_arg.GetInt() : 0;
  const double f = a_arg.IsFloat() ? static_cast<double>(a_arg.GetFloat()) : 0.0;

  if (a_letter == 's' || a_letter == 'b') {
    std::string body;
    if (a_letter == 's') {
      if (a_arg.IsString())
        body.assign(a_arg.GetStringObject()->GetString(), static_cast<size_t>(a_arg.GetStringObject()->GetLength()));
      if (a_directive.precision >= 0 && body.size() > static_cast<size_t>(a_directive.precision))
        body.resize(static_cast<size_t>(a_directive.precision));
    } else {
      gmuint value = static_cast<gmuint>(i);
      do {
        body.insert(body.begin(), static_cast<char>('0' + (value & 1u)));
        value >>= 1;
      } while (value);
      if (a_directive.precision > static_cast<int>(body.size()))
        body.insert(0, static_cast<size_t>(a_directive.precision) - body.size(), '0');
    }
    const size_t width = a_directive.width > 0 ? static_cast<size_t>(a_directive.width) : 0;
    if (body.size() < width) {
      const bool zeros = a_letter == 'b' && !left && a_directive.precision < 0 && flags.find('0') != std::string::npos;
      if (left)
        body.append(width - body.size(), ' ');
      else
        body.insert(0, width - body.size(), zeros ? '0' : ' ');
    }
    a_text.Append(body.data(), body.size());
    return;
  }

  std::string conversion = "%" + flags;
  if (a_directive.width >= 0) conversion += std::to_string(a_directive.width);
  if (a_directive.precision >= 0 && a_letter != 'c') conversion += "." + std::to_string(a_directive.precision);
  conversion += a_letter;
  char buffer[kMaxFormatWidth * 2 + 64];
  int length = 0;
  switch (a_letter) {
    case 'c':
      length = std::snprintf(buffer, sizeof(buffer), conversion.c_str(), i);
      break;
    case 'd':
      length = std::snprintf(buffer, sizeof(buffer), conversion.c_str(), i);
      break;
    case 'u':
    case 'x':
      length = std::snprintf(buffer, sizeof(buffer), conversion.c_str(), static_cast<gmuint>(i));
      break;
    default:
      length = std::snprintf(buffer, sizeof(buffer), conversion.c_str(), f);
      break;
  }
  if (length > 0) a_text.Append(buffer, std::min(static_cast<size_t>(length), sizeof(buffer) - 1));
}

int gmfFormat(gmThread* a_thread) {
  GM_EXPECT_PARAMS(1);
  GM_EXPECT_STRING_PARAM(format, 0);
  gmMachine* machine = a_thread->GetMachine();
  gmGrowingText text(machine);
  int index = 1;
  char buffer[64];
  for (const char* p = format; *p; ++p) {
    if (*p != '%') {
      // Copy the run of plain characters at once.
      const char* end = p;
      while (end[1] && end[1] != '%') ++end;
      text.Append(p, static_cast<size_t>(end - p + 1));
      p = end;
      continue;
    }
    ++p;
    if (!*p) break;  // a lone trailing "%" ends the text
    if (*p == '%') {
      text.Append("%", 1);
      continue;
    }
    gmFormatDirective directive;
    const char* letter = ReadFormatDirective(p, directive);
    if (letter != p) {
      // Without a conversion letter after them, the "%" and the character after it vanish
      // as before the directive was read.
      if (!*letter || !std::strchr("bcdefsux", std::tolower(static_cast<unsigned char>(*letter)))) continue;
      const gmVariable arg = index < a_thread->GetNumParams() ? a_thread->Param(index) : gmVariable::Null();
      AppendWithDirective(text, static_cast<char>(std::tolower(static_cast<unsigned char>(*letter))), directive, arg);
      p = letter;
      ++index;
      continue;
    }
    const gmVariable arg = index < a_thread->GetNumParams() ? a_thread->Param(index) : gmVariable::Null();
    gmint i = arg.IsInt() ? arg.GetInt() : 0;
    double f = arg.IsFloat() ? static_cast<double>(arg.GetFloat()) : 0.0;
    switch (std::tolower(static_cast<unsigned char>(*p))) {
      case 'b':
        AppendBinary(text, static_cast<gmuint>(i));
        break;
      case 'c':
        std::snprintf(buffer, sizeof(buffer), "%c", i);
        text.Append(buffer, 1);
        break;
      case 'd':
        AppendUnsigned(text, i < 0 ? 0u - static_cast<gmuint>(i) : static_cast<gmuint>(i), 10, i < 0);
        break;
      case 'u':
        AppendUnsigned(text, static_cast<gmuint>(i), 10);
        break;
      case 'x':
        AppendUnsigned(text, static_cast<gmuint>(i), 16);
        break;
      case 'e':
        text.Append(buffer, static_cast<size_t>(std::snprintf(buffer, sizeof(buffer), "%e", f)));
        break;
      case 'f':
        // A float's "%f" text is at most 47 characters (3.4e38 has 39 integer digits).
        text.Append(buffer, static_cast<size_t>(std::snprintf(buffer, sizeof(buffer), "%f", f)));
        break;
      case 's':
        if (arg.IsString())
          text.Append(arg.GetStringObject()->GetString(), static_cast<size_t>(arg.GetStringObject()->GetLength()));
        else
          text.Append("", 0);
        break;
      default:
        continue;  // an unknown conversion vanishes and uses no argument
    }
    ++index;
  }
  if (!text.Empty()) a_thread->PushNewString(text.Text(), static_cast<int>(text.Length()));
  return GM_NATIVE_OK;
}

// Registration order is part of the interface: hosts and tools list the globals in it.
const gmFunctionEntry s_coreLib[] = {
    {"gmVersion", gmfVersion, 0, ""},
    {"typeId", gmfTypeId, 0, "value"},
    {"typeName", gmfTypeName, 0, "value"},
    {"typeRegisterOperator", gmfTypeRegisterOperator, 0, "typeId, operatorName, function"},
    {"typeRegisterVariable", gmfTypeRegisterVariable, 0, "typeId, name, value"},
    {"sysCollectGarbage", gmfSysCollectGarbage, 0, "[force]"},
    {"sysGetMemoryUsage", gmfSysGetMemoryUsage, 0, ""},
    {"sysSetDesiredMemoryUsageHard", gmfSysSetDesiredMemoryUsageHard, 0, "bytes"},
    {"sysSetDesiredMemoryUsageSoft", gmfSysSetDesiredMemoryUsageSoft, 0, "bytes"},
    {"sysGetDesiredMemoryUsageHard", gmfSysGetDesiredMemoryUsageHard, 0, ""},
    {"sysGetDesiredMemoryUsageSoft", gmfSysGetDesiredMemoryUsageSoft, 0, ""},
    {"sysSetDesiredMemoryUsageAuto", gmfSysSetDesiredMemoryUsageAuto, 0, "on"},
    {"sysGetStatsGCNumFullCollects", gmfSysGetStatsGCNumFullCollects, 0, ""},
    {"sysGetStatsGCNumIncCollects", gmfSysGetStatsGCNumIncCollects, 0, ""},
    {"sysGetStatsGCNumWarnings", gmfSysGetStatsGCNumWarnings, 0, ""},
    {"sysIsGCRunning", gmfSysIsGCRunning, 0, ""},
    {"sysTime", gmfSysTime, 0, ""},
    {"doString", gmfDoString, 0, "text, [runNow], [this]"},
    {"globals", gmfGlobals, 0, ""},
    {"threadTime", gmfThreadTime, 0, ""},
    {"threadId", gmfThreadId, 0, ""},
    {"threadAllIds", gmfThreadAllIds, 0, ""},
    {"threadKill", gmfThreadKill, 0, "[threadId]"},
    {"threadKillAll", gmfThreadKillAll, 0, "[killSelf]"},
    {"thread", gmfThread, 0, "function, ..."},
    {"yield", gmfYield, 0, ""},
    {"exit", gmfExit, 0, ""},
    {"assert", gmfAssert, 0, "condition, [message]"},
    {"sleep", gmfSleep, 0, "seconds"},
    {"signal", gmfSignal, 0, "value, [threadId]"},
    {"block", gmfBlock, 0, "value, ..."},
    {"stateSet", gmfStateSet, 0, "function, ..."},
    {"stateSetOnThread", gmfStateSetOnThread, 0, "threadId, function, ..."},
    {"stateGet", gmfStateGet, 0, "[threadId]"},
    {"stateGetLast", gmfStateGetLast, 0, "[threadId]"},
    {"stateSetExitFunction", gmfStateSetExitFunction, 0, "function"},
    {"tableCount", gmfTableCount, 0, "table"},
    {"tableDuplicate", gmfTableDuplicate, 0, "table"},
    {"print", gmfPrint, 0, "..."},
    {"format", gmfFormat, 0, "format, ..."},
};

static_assert(static_cast<int>(std::size(s_coreLib)) == 40, "the core library is forty functions");

}  // namespace

void gmBindCoreLib(gmMachine* a_machine) {
  a_machine->SetTypeCallbacks(GM_USER, StateTrace, StateDestruct, nullptr);
  gmRegisterNatives(a_machine, s_coreLib, static_cast<int>(std::size(s_coreLib)));
}
