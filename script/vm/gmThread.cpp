#include "script/vm/gmThread.h"

#include <string>

#include "script/vm/gmErrorHints.h"

#include "script/vm/gmExecCode.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "script/compiler/gmLog.h"
#include "script/vm/gmMachine.h"

const gmVariable gmThread::s_null = gmVariable::Null();

namespace {

// The capacity may double only while it is at most this many slots (8 bytes each in the
// original reckoning: a stack above 128000 bytes never grows), so stacks end at 16384.
const int kLastGrowableSlots = 16000;

}  // namespace

gmThread::gmThread(gmMachine* a_machine, int a_initialSlots) : m_machine(a_machine) {
  m_size = a_initialSlots > 0 ? a_initialSlots : INITIAL_STACK_SLOTS;
  m_stack = static_cast<gmVariable*>(std::malloc(sizeof(gmVariable) * static_cast<size_t>(m_size)));
}

gmThread::~gmThread() {
  ReleaseFrames();
  std::free(m_stack);
}

gmLog& gmThread::GetLog() const { return m_machine->GetLog(); }

void gmThread::LogError(const char* a_format, ...) {
  va_list args;
  va_start(args, a_format);
  m_machine->GetLog().LogEntryV(a_format, args);
  va_end(args);
}

void gmThread::PushNewString(const char* a_text, int a_length) { PushString(m_machine->MakeString(a_text, a_length)); }

gmTableObject* gmThread::PushNewTable() {
  gmTableObject* table = m_machine->MakeTable();
  PushTable(table);
  return table;
}

// ---- Stack ------------------------------------------------------------------------------

bool gmThread::Grow(int a_room) {
  int capacity = m_size;
  while (a_room + m_top + STACK_MARGIN >= capacity) {
    if (capacity > kLastGrowableSlots) return false;
    capacity *= 2;
  }
  if (capacity == m_size) return true;
  // Values are plain data whatever their copy operators say: moving the bytes is a move.
  void* grown = std::realloc(static_cast<void*>(m_stack), sizeof(gmVariable) * static_cast<size_t>(capacity));
  if (!grown) return false;
  m_stack = static_cast<gmVariable*>(grown);
  m_size = capacity;
  return true;
}

bool gmThread::Touch(int a_slots) {
  if (a_slots + m_top + STACK_MARGIN < m_size) return true;
  return Grow(a_slots);
}

// A native pushing past the margin. At the size limit the value replaces the top one
// rather than running off the end: the last value pushed is still the native's result.
void gmThread::GrowForPush() {
  if (Grow(1)) return;
  --m_top;
}

gmStackFrame* gmThread::NewFrame() { return m_machine->AllocFrame(); }

void gmThread::ReleaseFrames() {
  while (m_frame) {
    gmStackFrame* prev = m_frame->prev;
    m_machine->FreeFrame(m_frame);
    m_frame = prev;
  }
}

void gmThread::Reset(bool a_keepUser) {
  m_machine->GetBlocks().ReleaseBlocks(this);
  m_machine->GetBlocks().ReleaseSignals(this);
  ReleaseFrames();
  m_top = 0;
  m_base = 0;
  m_instruction = nullptr;
  m_numParams = 0;
  wakeTime = 0;
  startTime = 0;
  if (!a_keepUser) {
    // A thread that ended is handed out again as a new one: nothing of its own may stay.
    userPtr = nullptr;
    debugFlag = 0;
  }
}

// ---- Calls ------------------------------------------------------------------------------

int gmThread::PushCall(int a_numParams) { return PushCallFrom(a_numParams, nullptr); }

int gmThread::PushCallFrom(int a_numParams, const gmuint8* a_returnAddress) {
  for (;;) {
    const int base = m_top - a_numParams;
    if (base == 2 && gmMachine::s_machineCallback) gmMachine::s_machineCallback(m_machine, MC_THREAD_CREATE, this);

    const gmVariable& callee = m_stack[base - 1];
    if (callee.type != GM_FUNCTION) {
      // The callee's name is worked out from the caller's code: the first thing a
      // misspelt function name needs is to be seen.
      const gmFunctionObject* caller = a_returnAddress && m_base >= 1 && m_stack[m_base - 1].type == GM_FUNCTION
                                           ? m_stack[m_base - 1].GetFunctionObject()
                                           : nullptr;
      const int callOffset = caller && caller->execCode ? static_cast<int>(a_returnAddress - caller->execCode) - 8 : -1;
      const std::string detail = gmDescribeCallee(m_machine, caller, callOffset, callee, m_stack[base - 2],
                                                  m_base >= 2 ? m_stack[m_base - 2] : s_null);
      LogError("attempt to call non function type%s", detail.c_str());
      return CALL_FAILED;
    }
    gmFunctionObject* function = callee.GetFunctionObject();

    if (function->nativeFunction) {
      const int savedBase = m_base;
      const int savedTop = m_top;
      m_numParams = a_numParams;
      m_base = base;
      const int outerCaller = m_callerBase;
      m_callerBase = a_returnAddress ? savedBase : -1;
      int status = function->nativeFunction(this);
      m_callerBase = outerCaller;
      if (status == GM_NATIVE_RESTART) {
        --a_numParams;
        a_returnAddress = nullptr;
        continue;
      }
      // The native may have grown the stack: index afresh.
      if (m_top == savedTop)
        m_stack[base - 2].SetNull();
      else
        m_stack[base - 2] = m_stack[m_top - 1];
      m_top = base - 1;
      m_base = savedBase;
      switch (status) {
        case GM_NATIVE_OK:
          return m_frame ? static_cast<int>(CALL_OK) : static_cast<int>(KILLED);
        case GM_NATIVE_YIELD:
          return CALL_YIELDED;
        case GM_NATIVE_BLOCK:
          m_machine->SwitchThreadState(this, BLOCKED);
          return BLOCKED;
        case GM_NATIVE_SLEEP:
          m_machine->SwitchThreadState(this, SLEEPING);
          return SLEEPING;
        case GM_NATIVE_KILL:
          return KILLED;
        default:
          return CALL_FAILED;
      }
    }

    // Script function: room for its parameters and locals beyond the arguments given, and
    // for its deepest operand stack.
    const int numParams = function->numParams;
    const int frameSlots = function->numParamsLocals;
    if (!Touch(frameSlots - a_numParams + function->maxStackSize)) {
      LogError("stack overflow");
      return CALL_FAILED;
    }
    // Missing arguments and all locals start null; surplus arguments are overwritten by
    // the locals (or simply lie above the new top).
    const int firstNull = a_numParams <= numParams ? m_top : base + numParams;
    for (int i = firstNull; i < base + frameSlots; ++i) m_stack[i].SetNull();

    gmStackFrame* frame = NewFrame();
    frame->prev = m_frame;
    frame->returnAddress = a_returnAddress;
    frame->returnBase = m_base;
    frame->popResult = false;
    frame->boolAnswer = false;
    m_frame = frame;
    m_base = base;
    m_top = base + frameSlots;
    if (!function->execCode) gmBuildExecCode(function);
    m_instruction = function->execCode;
    return CALL_OK;
  }
}

int gmThread::PopCall() {
  gmStackFrame* frame = m_frame;
  if (!frame) {
    LogError("stack underflow");
    return CALL_FAILED;
  }
  if (!frame->prev) return KILLED;
  m_instruction = frame->returnAddress;
  m_stack[m_base - 2] = m_stack[m_top - 1];
  if (frame->boolAnswer && m_stack[m_base - 2].type > GM_USER)
    m_stack[m_base - 2].SetInt(m_stack[m_base - 2].IsTrue() ? 1 : 0);
  m_top = m_base - (frame->popResult ? 2 : 1);
  m_base = frame->returnBase;
  m_frame = frame->prev;
  m_machine->FreeFrame(frame);
  return CALL_OK;
}

// ---- Failure ----------------------------------------------------------------------------

namespace {

// Line of a byte code position: the last line entry whose offset is not above it, or the
// first entry. Positions are those after an instruction, so the instruction itself is the
// one holding the byte just before.
int LineOf(const gmFunctionObject* a_function, const gmuint8* a_position) {
  const gmFunctionDebugInfo* debug = a_function->debugInfo;
  if (!debug || debug->lineInfoCount <= 0 || !debug->lineInfo) return 0;
  // Positions point into the working copy, which has the byte code's layout.
  int offset = a_position ? static_cast<int>(a_position - a_function->execCode) - 1 : 0;
  int line = debug->lineInfo[0].lineNumber;
  for (int i = 0; i < debug->lineInfoCount; ++i) {
    if (debug->lineInfo[i].byteCodeOffset > offset) break;
    line = debug->lineInfo[i].lineNumber;
  }
  return line;
}

// Copies line a_line (from 1) of a text into a_out (at most 79 bytes). Lines end at "\n"
// with any "\r" right after it, at "\r\n", or at a lone "\r".
void LineText(const char* a_text, int a_line, char* a_out, size_t a_outSize) {
  const char* p = a_text;
  for (int line = 1; line < a_line && *p; ++line) {
    while (*p && *p != '\n' && *p != '\r') ++p;
    if (*p == '\n') {
      ++p;
      if (*p == '\r') ++p;
    } else if (*p == '\r') {
      ++p;
      if (*p == '\n') ++p;
    }
  }
  size_t n = 0;
  while (p[n] && p[n] != '\n' && p[n] != '\r' && n + 1 < a_outSize) ++n;
  std::memcpy(a_out, p, n);
  a_out[n] = '\0';
}

}  // namespace

std::string gmThread::CallerPosition() const {
  if (m_callerBase < 1 || !m_instruction || m_stack[m_callerBase - 1].type != GM_FUNCTION) return "";
  const gmFunctionObject* caller = m_stack[m_callerBase - 1].GetFunctionObject();
  const char* text = nullptr;
  const char* name = nullptr;
  if (caller->nativeFunction || !caller->debugInfo ||
      !m_machine->GetSource(caller->debugInfo->sourceId, &text, &name) || !name)
    return "";
  return std::string(name) + "(" + std::to_string(LineOf(caller, m_instruction)) + ")";
}

void gmThread::LogCallStack(const gmuint8* a_instruction) {
  gmLog& log = m_machine->GetLog();
  const gmFunctionObject* current =
      m_base >= 1 && m_stack[m_base - 1].type == GM_FUNCTION ? m_stack[m_base - 1].GetFunctionObject() : nullptr;
  if (current && !current->nativeFunction) {
    int line = LineOf(current, a_instruction);
    const char* text = nullptr;
    const char* name = nullptr;
    if (current->debugInfo && m_machine->GetSource(current->debugInfo->sourceId, &text, &name)) {
      char lineText[80];
      LineText(text, line, lineText, sizeof(lineText));
      log.LogEntry("\r\n%s(%d) : %s", name, line, lineText);
    } else {
      log.LogEntry("\r\nunknown(%d) : ", line);
    }
  }

  log.LogEntry("\r\ncallstack..");
  int base = m_base;
  const gmuint8* position = a_instruction;
  for (const gmStackFrame* frame = m_frame;;) {
    if (base >= 1 && m_stack[base - 1].type == GM_FUNCTION) {
      const gmFunctionObject* function = m_stack[base - 1].GetFunctionObject();
      if (!function->nativeFunction) {
        const char* name = function->debugInfo && function->debugInfo->name ? function->debugInfo->name : "__unknown";
        log.LogEntry("%3d: %s", LineOf(function, position), name);
      }
    }
    if (!frame || !frame->prev) break;
    position = frame->returnAddress;
    base = frame->returnBase;
    frame = frame->prev;
  }
  log.LogEntry("%s", "");
}

int gmThread::Fail(const gmuint8* a_instruction) {
  m_instruction = a_instruction;
  LogCallStack(a_instruction);
  bool keep = gmMachine::s_machineCallback && gmMachine::s_machineCallback(m_machine, MC_THREAD_EXCEPTION, this);
  int state = (keep && m_machine->debugMode && m_machine->debugInspection) ? EXCEPTION : KILLED;
  m_machine->SwitchThreadState(this, state);
  return state;
}

// ---- Registration -----------------------------------------------------------------------

void gmRegisterNatives(gmMachine* a_machine, const gmFunctionEntry* a_entries, int a_count, const char* a_tableName,
                       bool a_asTable) {
  bool gc = a_machine->EnableGC(false);
  gmTableObject* table = a_machine->GetGlobals();
  if (a_tableName) {
    gmVariable existing = table->GetByName(a_machine, a_tableName);
    if (a_asTable || existing.type != GM_TABLE) {
      gmTableObject* fresh = a_machine->MakeTable();
      table->SetByName(a_machine, a_tableName, gmVariable(fresh));
      table = fresh;
    } else {
      table = existing.GetTableObject();
    }
  }
  for (int i = 0; i < a_count; ++i) {
    gmFunctionObject* f = a_machine->MakeNativeFunction(a_entries[i].function, a_entries[i].userValue);
    table->SetByName(a_machine, a_entries[i].name, gmVariable(f));
    a_machine->RecordNative(GM_NULL, a_tableName, a_entries[i]);
  }
  a_machine->EnableGC(gc);
}

bool gmRegisterTypeNatives(gmMachine* a_machine, int a_type, const gmFunctionEntry* a_entries, int a_count) {
  if (!a_machine->IsValidType(a_type)) return false;
  bool gc = a_machine->EnableGC(false);
  for (int i = 0; i < a_count; ++i) {
    gmFunctionObject* f = a_machine->MakeNativeFunction(a_entries[i].function, a_entries[i].userValue);
    a_machine->SetTypeVariable(a_type, a_entries[i].name, gmVariable(f));
    a_machine->RecordNative(a_type, nullptr, a_entries[i]);
  }
  a_machine->EnableGC(gc);
  return true;
}
