#ifndef GMTHREAD_H
#define GMTHREAD_H

#include <string>

// A script thread: an operand stack of values, a chain of call frames and a saved
// instruction position. Threads execute only when the host (or a native) calls Run; each
// runs until its outermost function returns, it fails, or a native stops it.
//
// Stack layout of one call, with base the index of the first parameter:
//
//   base-2: this    base-1: the function    base..: parameters, then locals, then operands
//
// The bottom call of a thread has base 2 (3 once a state function replaced the call stack:
// slot 0 then holds the state object). A call's result replaces its `this` slot.
//
// This header is also the whole interface a native function needs: the status codes, the
// parameter and push helpers, `this`, the machine's log and the registration of natives.

#include <cstdarg>

#include "script/values/gmFunctionObject.h"
#include "script/values/gmStringObject.h"
#include "script/values/gmTableObject.h"
#include "script/values/gmUserObject.h"
#include "script/values/gmVariable.h"

class gmLog;
struct gmBlock;
struct gmSignal;

// What a native function (gmNativeFunction: int f(gmThread*)) returns.
enum gmNativeStatus {
  GM_NATIVE_OK = 0,
  // The native logged a message; the calling thread fails with the error position and
  // call stack.
  GM_NATIVE_ERROR = -1,
  // Stop executing the thread now; it stays running.
  GM_NATIVE_YIELD = -2,
  // The thread becomes blocked.
  GM_NATIVE_BLOCK = -3,
  // The thread becomes sleeping; the native has set its wakeTime.
  GM_NATIVE_SLEEP = -4,
  // The thread ends.
  GM_NATIVE_KILL = -5,
  // The native rebuilt the thread's stack (state functions): the call starts again with one
  // argument fewer, taking the function from the slot below the remaining arguments.
  GM_NATIVE_RESTART = -6,
};

// One native to register: its name, the function and the user value its function object
// keeps (read back with gmThread::GetFunctionObject()->userValue). params is the parameter
// list as authors write the call ("text, ..."), kept by the machine for the API listing only.
struct gmFunctionEntry {
  const char* name;
  gmNativeFunction function;
  gmptr userValue;
  const char* params = nullptr;
};

// Store natives as globals (a_tableName null), or in the table held by the global
// a_tableName: a new table when a_asTable is true or that global holds no table, the
// existing one otherwise.
void gmRegisterNatives(gmMachine* a_machine, const gmFunctionEntry* a_entries, int a_count,
                       const char* a_tableName = nullptr, bool a_asTable = true);
// The same into a type's variables table (methods called as value.Name()). Returns false,
// storing nothing, for a type id no type has.
bool gmRegisterTypeNatives(gmMachine* a_machine, int a_type, const gmFunctionEntry* a_entries, int a_count);

// A call frame record: what to restore when the function entered by this call returns.
struct gmStackFrame {
  gmStackFrame* prev;            // the caller's frame; null for the bottom call
  const gmuint8* returnAddress;  // caller's next instruction; null when called from outside
  int returnBase;                // caller's base
  // The caller wants no result: a script setind operator, whose statement leaves nothing.
  bool popResult;
  // The caller is a conditional jump asking a script bool operator: a user value returned
  // counts by its payload, so an operator answering with its own operand is asked once.
  bool boolAnswer;
};

class gmThread {
 public:
  // Thread states, and the list each one lives in.
  enum State {
    RUNNING = 0,
    SLEEPING = 1,
    BLOCKED = 2,
    KILLED = 3,
    EXCEPTION = 4,
    PENDING = 5,  // a blocked thread that was signalled; stays in the blocked list
  };
  // Further outcomes of PushCall (with SLEEPING, BLOCKED and KILLED, which then mean the
  // thread went to sleep, blocked or finished).
  enum CallResult {
    CALL_OK = 0,
    CALL_YIELDED = 6,
    CALL_FAILED = 7,
  };

  // New threads start with this many slots; stacks double up to MAX_STACK_SLOTS, counted in
  // slots whatever a slot's size is.
  enum { INITIAL_STACK_SLOTS = 64, MAX_STACK_SLOTS = 16384 };
  // Slots every call keeps free above its declared need: room for the extra slots an
  // operator call lays out and for the few values a native pushes.
  enum { STACK_MARGIN = 6 };

  explicit gmThread(gmMachine* a_machine, int a_initialSlots = INITIAL_STACK_SLOTS);
  ~gmThread();
  gmThread(const gmThread&) = delete;
  gmThread& operator=(const gmThread&) = delete;

  gmMachine* GetMachine() const { return m_machine; }
  // The machine's log: natives write their error messages here before returning
  // GM_NATIVE_ERROR.
  gmLog& GetLog() const;
  // Shorthand for GetLog().LogEntry.
  void LogError(const char* a_format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;

  int GetId() const { return m_id; }
  // Its interpreter is running further up the C stack (the thread called a native that is
  // running now): its stack must not be rebuilt under that loop.
  bool IsExecuting() const { return m_executing > 0; }
  int GetState() const { return m_state; }
  // The next thread of the machine's list this thread is in.
  gmThread* GetNextInList() const { return m_next; }

  // ---- Calls ----------------------------------------------------------------------------
  // Start a call of the function below the a_numParams arguments on top (its `this` below
  // that). A native runs to completion here; a script function gets its frame and is
  // executed by Run. Returns CALL_OK, or SLEEPING/BLOCKED/KILLED/CALL_YIELDED/CALL_FAILED.
  int PushCall(int a_numParams);
  // Execute until the thread stops; returns its state. When the thread finishes, a_result
  // (if given) receives the returned value. Runs nest when natives run script (doString,
  // thread, state exit functions, the host's texts and callbacks); past
  // gmMachine::MAX_NESTED_RUNS the thread fails with "stack overflow" instead of running,
  // before the C stack runs out.
  int Run(gmVariable* a_result = nullptr);
  // Return from the current function: CALL_OK, KILLED when the bottom call returned (the
  // result stays at top-1), CALL_FAILED without a frame.
  int PopCall();

  // ---- Push helpers: write at top and advance top ----------------------------------------
  void PushNull() { Slot()->SetNull(); }
  void PushInt(gmint a_value) { Slot()->SetInt(a_value); }
  void PushFloat(gmfloat a_value) { Slot()->SetFloat(a_value); }
  // A string made with MakeString from the text (length -1: up to the NUL).
  void PushNewString(const char* a_text, int a_length = -1);
  void PushString(gmStringObject* a_string) { Slot()->SetString(a_string); }
  void PushTable(gmTableObject* a_table) { Slot()->SetTable(a_table); }
  // A new empty table, pushed and returned.
  gmTableObject* PushNewTable();
  void PushFunction(gmFunctionObject* a_function) { Slot()->SetFunction(a_function); }
  void PushUser(gmUserObject* a_user) { Slot()->SetUser(a_user); }
  void PushValue(const gmVariable& a_value) { *Slot() = a_value; }

  // ---- Parameters of the native being called ----------------------------------------------
  int GetNumParams() const { return m_numParams; }
  // Parameter i as a value; null when absent.
  const gmVariable& Param(int a_index) const {
    return (a_index >= 0 && a_index < m_numParams) ? m_stack[m_base + a_index] : s_null;
  }
  int ParamType(int a_index) const { return Param(a_index).type; }
  // Typed reads: the default when the parameter is absent or of another type.
  gmint ParamInt(int a_index, gmint a_default = 0) const {
    const gmVariable& v = Param(a_index);
    return v.type == GM_INT ? v.GetInt() : a_default;
  }
  gmfloat ParamFloat(int a_index, gmfloat a_default = 0.0f) const {
    const gmVariable& v = Param(a_index);
    return v.type == GM_FLOAT ? v.GetFloat() : a_default;
  }
  const char* ParamString(int a_index, const char* a_default = "") const {
    const gmVariable& v = Param(a_index);
    return v.type == GM_STRING ? v.GetStringObject()->text : a_default;
  }
  // Null when absent or of another type.
  gmStringObject* ParamStringObject(int a_index) const {
    const gmVariable& v = Param(a_index);
    return v.type == GM_STRING ? v.GetStringObject() : nullptr;
  }
  gmTableObject* ParamTable(int a_index) const {
    const gmVariable& v = Param(a_index);
    return v.type == GM_TABLE ? v.GetTableObject() : nullptr;
  }
  gmFunctionObject* ParamFunction(int a_index) const {
    const gmVariable& v = Param(a_index);
    return v.type == GM_FUNCTION ? v.GetFunctionObject() : nullptr;
  }
  // The user object when the parameter is of type a_type, else null.
  gmUserObject* ParamUser(int a_index, int a_type) const {
    const gmVariable& v = Param(a_index);
    return (v.type == a_type && v.type > GM_FUNCTION) ? v.GetUserObject() : nullptr;
  }

  // `this` of the current call and the function being called (natives included).
  const gmVariable* GetThis() const { return &m_stack[m_base - 2]; }
  gmFunctionObject* GetFunctionObject() const { return m_stack[m_base - 1].GetFunctionObject(); }

  // ---- Raw stack access, for natives that rebuild the stack and for the host -------------
  gmVariable* GetBottom() const { return m_stack; }
  gmVariable* GetBase() const { return m_stack + m_base; }
  gmVariable* GetTop() const { return m_stack + m_top; }
  int GetBaseIndex() const { return m_base; }
  int GetTopIndex() const { return m_top; }
  void SetTopIndex(int a_top) { m_top = a_top; }
  int GetStackSize() const { return m_size; }
  // Make room for a_slots more values above top (plus the safety margin every call keeps).
  // False, with the stack unchanged, when that would pass MAX_STACK_SLOTS.
  bool Touch(int a_slots);
  const gmStackFrame* GetFrame() const { return m_frame; }
  // "FILE(LINE)" of the script call of the native now running on this thread, empty when a
  // native was called by the host or the script has no debug record.
  std::string CallerPosition() const;
  // Saved instruction position (valid while the thread is not executing), in the current
  // function's execCode, which has the layout of its byteCode.
  const gmuint8* GetInstruction() const { return m_instruction; }

  // Back to a fresh thread: no frames, empty stack, times and counters cleared. Keeps id,
  // state and list links (the machine's state switch owns those); a_keepUser keeps userPtr
  // and debugFlag (the same thread goes on, as after a state change).
  void Reset(bool a_keepUser);

  // ---- Plain fields ---------------------------------------------------------------------
  gmuint wakeTime = 0;      // machine time at which a sleeping thread is due
  gmuint startTime = 0;     // machine time of creation or the last reset
  int debugFlag = 0;        // nonzero: the machine's thread-start, call and return hooks apply
  void* userPtr = nullptr;  // the host's, kept across resets
  // The thread's block records (while blocked or pending) and the signals queued for it,
  // newest first; owned by the machine's gmBlockHash.
  gmBlock* blocks = nullptr;
  gmSignal* signals = nullptr;

 private:
  friend class gmMachine;

  gmVariable* Slot() {
    if (m_top >= m_size) GrowForPush();
    return &m_stack[m_top++];
  }
  void GrowForPush();
  // Run's interpreter loop.
  int Execute(gmVariable* a_result);
  // Ends the thread after an allocation failed while it ran; the resulting state.
  int OutOfMemory(bool a_gcEnabled);
  // PushCall from the interpreter, which passes its next instruction.
  int PushCallFrom(int a_numParams, const gmuint8* a_returnAddress);
  // Double the capacity until a_room more slots (plus the margin) fit above top.
  bool Grow(int a_room);
  // The failure path: log the position and call stack, raise the error event, and end or
  // keep the thread. Returns the resulting state.
  int Fail(const gmuint8* a_instruction);
  void LogCallStack(const gmuint8* a_instruction);
  gmStackFrame* NewFrame();
  void ReleaseFrames();

  static const gmVariable s_null;

  gmMachine* m_machine;
  int m_state = RUNNING;
  int m_id = 0;

  gmVariable* m_stack = nullptr;
  int m_size = 0;  // capacity in slots
  int m_top = 0;   // first free slot
  int m_base = 0;  // first parameter of the current call
  gmStackFrame* m_frame = nullptr;
  const gmuint8* m_instruction = nullptr;
  int m_numParams = 0;  // arguments of the native being called
  // Base of the script function that called the native being called (-1: none, or a call
  // from the host).
  int m_callerBase = -1;
  // Nesting depth of Run on this thread. A thread that is executing further up the C++
  // stack is not reset when something kills it: the kill is recorded and completed when
  // control comes back to its interpreter.
  int m_executing = 0;
  bool m_killPending = false;

  // The machine's lists: the state list this thread is in, and its id chain.
  gmThread* m_prev = nullptr;
  gmThread* m_next = nullptr;
  gmThread* m_idNext = nullptr;
};

// Parameter checks for natives. Each logs the standard message and returns GM_NATIVE_ERROR
// from the enclosing native, whose thread parameter must be named a_thread.
#define GM_EXPECT_PARAMS(n)                             \
  do {                                                  \
    if (a_thread->GetNumParams() < (n)) {               \
      a_thread->LogError("expecting %d param(s)", (n)); \
      return GM_NATIVE_ERROR;                           \
    }                                                   \
  } while (0)

#define GM_EXPECT_PARAM_TYPE_(i, t, tname)                     \
  do {                                                         \
    if (a_thread->ParamType(i) != (t)) {                       \
      a_thread->LogError("expecting param %d as " tname, (i)); \
      return GM_NATIVE_ERROR;                                  \
    }                                                          \
  } while (0)

// Declare var and read parameter i into it, failing when the parameter is of another type.
#define GM_EXPECT_INT_PARAM(var, i)        \
  GM_EXPECT_PARAM_TYPE_(i, GM_INT, "int"); \
  gmint var = a_thread->Param(i).GetInt()
#define GM_EXPECT_FLOAT_PARAM(var, i)          \
  GM_EXPECT_PARAM_TYPE_(i, GM_FLOAT, "float"); \
  gmfloat var = a_thread->Param(i).GetFloat()
#define GM_EXPECT_STRING_PARAM(var, i)           \
  GM_EXPECT_PARAM_TYPE_(i, GM_STRING, "string"); \
  const char* var = a_thread->Param(i).GetStringObject()->text
#define GM_EXPECT_TABLE_PARAM(var, i)          \
  GM_EXPECT_PARAM_TYPE_(i, GM_TABLE, "table"); \
  gmTableObject* var = a_thread->Param(i).GetTableObject()
#define GM_EXPECT_FUNCTION_PARAM(var, i)             \
  GM_EXPECT_PARAM_TYPE_(i, GM_FUNCTION, "function"); \
  gmFunctionObject* var = a_thread->Param(i).GetFunctionObject()

#endif
