#ifndef GMMACHINE_H
#define GMMACHINE_H

// The script machine: owner of every heap object (through its collector), the string
// interning table, the type registry, the global table and the engine's memory.
//
// This header is organised by concern so the virtual machine can grow into it: values and
// heap objects, the type registry, memory and the collector. Threads, the log and running
// code join as further sections.

#include <string>
#include <unordered_map>
#include <vector>

#include "script/compiler/gmLog.h"
#include "script/gc/gmGarbageCollector.h"
#include "script/gc/gmMemChain.h"
#include "script/values/gmFunctionObject.h"
#include "script/values/gmOperators.h"
#include "script/values/gmStringObject.h"
#include "script/values/gmTableObject.h"
#include "script/values/gmUserObject.h"
#include "script/values/gmVariable.h"
#include "script/vm/gmBlockHash.h"
#include "script/vm/gmThread.h"

// Thrown by gmMachine::Alloc inside a run when script memory is exhausted; caught by
// gmThread::Run, never outside the machine.
struct gmOutOfMemory {};

// Type callbacks. Trace marks the objects a user object's native data refers to (through
// a_gc->GetNextObject) and reports its work like gmGCObjBase::Trace; destruct runs when a
// user object of the type is freed; text writes a text form of the object into a buffer
// of a_size bytes (always NUL-terminated).
typedef bool (*gmGCTraceCallback)(gmMachine* a_machine, gmUserObject* a_object, gmGarbageCollector* a_gc,
                                  int a_workLeft, int& a_workDone);
typedef void (*gmGCDestructCallback)(gmMachine* a_machine, gmUserObject* a_object);
typedef void (*gmAsStringCallback)(gmUserObject* a_object, char* a_buffer, int a_size);

// One entry of the type registry, indexed by type id. Entries are never removed.
struct gmTypeEntry {
  gmStringObject* name = nullptr;  // permanent
  gmOperatorFunction nativeOperators[O_MAXOPERATORS] = {};
  // Consulted only when the native slot is empty.
  gmFunctionObject* operators[O_MAXOPERATORS] = {};
  // Named values shared by every value of the type (methods, constants); a collector root.
  gmTableObject* variables = nullptr;
  gmGCTraceCallback trace = nullptr;
  gmGCDestructCallback destruct = nullptr;
  gmAsStringCallback asString = nullptr;
};

// Process-wide output of `print`: receives the machine and the whole text. The default
// writes the text and "\r\n" to standard output; hosts replace it.
typedef void (*gmPrintCallback)(gmMachine* a_machine, const char* a_text);

// Machine events, delivered to the process-wide machine callback with the thread concerned
// (none for MC_COLLECT_GARBAGE). Only the answer to MC_THREAD_EXCEPTION matters: true asks
// to keep a failed thread for inspection.
enum gmMachineEvent {
  MC_COLLECT_GARBAGE = 0,
  MC_THREAD_EXCEPTION = 1,
  MC_THREAD_CREATE = 2,
  MC_THREAD_DESTROY = 3,
};
typedef bool (*gmMachineCallback)(gmMachine* a_machine, int a_event, gmThread* a_thread);

// Debug hooks; a hook that returns true stops the thread's Run (it stays running).
typedef bool (*gmDebugHook)(gmThread* a_thread);

class gmMachine {
 public:
  gmMachine();
  virtual ~gmMachine();
  gmMachine(const gmMachine&) = delete;
  gmMachine& operator=(const gmMachine&) = delete;

  // ---- Values and heap objects -------------------------------------------------------
  // Interning: the one string object for the text up to its NUL. a_length (or -1) only
  // hints the size; the stored length is always the text's own.
  gmStringObject* MakeString(const char* a_text, int a_length = -1);
  // The same for a text whose length (up to its NUL) and gmStringHash the caller already
  // knows, as when joining two strings; debug builds check both.
  gmStringObject* MakeStringHashed(const char* a_text, int a_length, gmuint a_hash);
  // The interned string, flagged persistent: never collected.
  gmStringObject* MakePermanentString(const char* a_text);
  // The interned string for the text if one exists; never allocates.
  gmStringObject* FindString(const char* a_text) const;
  gmTableObject* MakeTable();
  gmFunctionObject* MakeNativeFunction(gmNativeFunction a_function, gmptr a_userValue = 0);
  // An empty script function object (no native function, maximum stack depth 1), to be
  // filled from a compiled function description.
  gmFunctionObject* MakeScriptFunction();
  gmUserObject* MakeUserObject(void* a_user, int a_type);

  // Text form of any value: "null", "%d", "%g", a string's own text (the buffer is not
  // used), or the type's text callback / "%s:0x%x" for other objects.
  const char* ValueToText(const gmVariable& a_value, char* a_buffer, int a_bufferSize);

  gmTableObject* GetGlobals() const { return m_global; }

  // ---- Type registry -----------------------------------------------------------------
  int DefineType(const char* a_name);
  // The script function, when given, fills the script slot; else the native operator the
  // native slot. False for an unknown type or operator number.
  bool SetTypeOperator(int a_type, int a_operator, gmFunctionObject* a_function, gmOperatorFunction a_native);
  bool SetTypeVariable(int a_type, const gmVariable& a_name, const gmVariable& a_value);
  bool SetTypeVariable(int a_type, const char* a_name, const gmVariable& a_value);
  gmVariable GetTypeVariable(int a_type, const gmVariable& a_name) const;
  bool SetTypeCallbacks(int a_type, gmGCTraceCallback a_trace, gmGCDestructCallback a_destruct,
                        gmAsStringCallback a_asString);
  // The type's name, or "undefined" for an id no type has.
  const char* TypeName(int a_type) const;
  int GetNumTypes() const { return static_cast<int>(m_types.size()); }
  bool IsValidType(int a_type) const { return a_type >= 0 && a_type < GetNumTypes(); }
  // Unchecked fast paths for the interpreter.
  gmOperatorFunction GetTypeNativeOperator(int a_type, int a_operator) const {
    return m_types[a_type].nativeOperators[a_operator];
  }
  gmFunctionObject* GetTypeOperator(int a_type, int a_operator) const { return m_types[a_type].operators[a_operator]; }
  gmTableObject* GetTypeVariables(int a_type) const { return m_types[a_type].variables; }
  const gmTypeEntry& GetTypeEntry(int a_type) const { return m_types[a_type]; }

  // ---- Memory ------------------------------------------------------------------------
  // Size-class storage for engine buffers (table nodes, texts, byte code, debug records),
  // counted in the usage. Free takes null. Inside a run (nestedRuns > 0) an allocation
  // that would take the usage past memoryCap, or that the system refuses, does not return:
  // it throws gmOutOfMemory, which gmThread::Run catches to fail the running thread with
  // "out of memory". Outside a run (the host building values) the cap does not apply and a
  // refused large block is null.
  void* Alloc(size_t a_size) {
    if (nestedRuns > 0 && GetCurrentMemoryUsage() + static_cast<long long>(a_size) > memoryCap) OutOfMemory();
    void* p = m_fixedSet.Alloc(a_size);
    if (!p && nestedRuns > 0) OutOfMemory();
    return p;
  }
  // The same for a buffer counted as a_charged bytes (a tighter layout of a buffer that
  // size), and for resizing one; the cap applies as if a second buffer were made.
  void* Alloc(size_t a_size, size_t a_charged) {
    if (nestedRuns > 0 && GetCurrentMemoryUsage() + static_cast<long long>(a_charged) > memoryCap) OutOfMemory();
    void* p = m_fixedSet.Alloc(a_size, a_charged);
    if (!p && nestedRuns > 0) OutOfMemory();
    return p;
  }
  void* Realloc(void* a_ptr, size_t a_size, size_t a_charged) {
    if (nestedRuns > 0 && GetCurrentMemoryUsage() + static_cast<long long>(a_charged) > memoryCap) OutOfMemory();
    void* p = m_fixedSet.Realloc(a_ptr, a_size, a_charged);
    if (!p && nestedRuns > 0) OutOfMemory();
    return p;
  }
  void Free(void* a_ptr) { m_fixedSet.Free(a_ptr); }
  // Object bytes plus size-class bytes.
  long long GetCurrentMemoryUsage() const {
    return m_objectBytes + static_cast<long long>(m_fixedSet.GetBytesAllocated());
  }
  long long GetObjectBytes() const { return m_objectBytes; }
  long long GetSizeClassBytes() const { return static_cast<long long>(m_fixedSet.GetBytesAllocated()); }
  // Natives account for memory they hold on behalf of script objects (may be negative).
  void AdjustKnownMemoryUsed(int a_delta) { m_objectBytes += a_delta; }
  // Leave the allocation in progress: the running thread fails with "out of memory".
  [[noreturn]] static void OutOfMemory();

  // Script memory past which allocations inside runs fail. A game that grows a table or a
  // string without end stops its own thread there instead of the player being killed by the
  // system; the host may change it.
  long long memoryCap = 1LL << 30;
  // Longest string a join may make; longer is the script error "string too long". Lengths
  // are ints throughout the engine.
  int maxStringLength = 0x7FFFFFF0;

  int desiredMemoryHard = 131072;
  int desiredMemorySoft = 117964;  // 131072 * 0.9 in single precision, truncated
  bool autoMemoryLimits = true;
  int gcCallsSince = 0;
  int gcCyclesStarted = 0;
  int statFullCollects = 0;
  int statIncCollects = 0;
  int statWarnings = 0;

  // ---- Collector ---------------------------------------------------------------------
  bool IsGCEnabled() const { return m_gcEnabled; }
  // Returns the previous setting.
  bool EnableGC(bool a_enable) {
    bool was = m_gcEnabled;
    m_gcEnabled = a_enable;
    return was;
  }
  gmGarbageCollector* GetGC() { return &m_gc; }
  void WriteBarrier(gmObject* a_obj) { m_gc.WriteBarrier(a_obj); }

  // ---- Collection policy (defined in script/gc/gmMachineCollect.cpp) -------------------
  // Run the collector the way sysCollectGarbage asks for it: an incremental step once usage
  // passes the soft limit, a full collection (then the automatic limit adjustment) when it
  // passes the hard limit or a_force is set. True when a full collection ran. Nothing but
  // this call ever collects; native code keeps values alive with gmGCRoot.
  bool Collect(bool a_force = false);
#ifdef GM_GC_STRESS
  // The collector stress build: while OMBRIX_GC_STRESS is set in the environment, a full
  // collection runs before every object allocation (outside a collection, with the
  // collector enabled), so an object that only a native local holds across an allocation
  // is freed at once and the sanitizers see its next use.
  void StressCollect();
#endif

  // ---- Threads, the log and running code ---------------------------------------------
  static gmPrintCallback s_printCallback;
  static gmMachineCallback s_machineCallback;

  // Messages of the parser, the code generator, natives and failed threads. Never cleared;
  // it keeps its newest megabyte or so of entries.
  gmLog& GetLog() { return m_log; }

  // Compile a text and, when a_runNow, run its top-level code at once on a new thread
  // whose `this` is *a_this (or null). Returns the number of compile errors (the parser's
  // result on a syntax error); errors raised while running do not count. a_outThreadId
  // receives the new thread's id, or 0.
  int RunString(const char* a_text, int* a_outThreadId = nullptr, bool a_runNow = true,
                const char* a_sourceName = nullptr, const gmVariable* a_this = nullptr);
  // The two halves of RunString. CompileString returns the text's top-level function, or
  // null with the number of errors in *a_outErrors (logged as RunString logs them); nothing
  // roots the function, so the caller roots it before anything can collect. RunFunction
  // starts it on a new thread as RunString does.
  gmFunctionObject* CompileString(const char* a_text, int* a_outErrors, const char* a_sourceName = nullptr);
  void RunFunction(gmFunctionObject* a_function, int* a_outThreadId = nullptr, bool a_runNow = true,
                   const gmVariable* a_this = nullptr);

  // A fresh thread in the running list with a new id and an empty stack.
  gmThread* NewThread(int* a_outId = nullptr);
  // NewThread with `this` and the function pushed and the call started without arguments;
  // null (the thread is ended) when the call did not start normally.
  gmThread* NewThreadCalling(const gmVariable& a_this, gmFunctionObject* a_function, int* a_outId = nullptr);
  // The live thread with that id, or null.
  gmThread* FindThread(int a_id) const;
  // The one way a thread changes state and list. Killing ends the thread: it leaves the id
  // table, is reset and goes to the free list (or is destroyed when 16 are free already).
  void SwitchThreadState(gmThread* a_thread, int a_state);
  // First thread of a state's list (RUNNING, SLEEPING, BLOCKED, EXCEPTION); follow with
  // gmThread::GetNextInList.
  gmThread* GetFirstThread(int a_state) const;
  int GetNumFreeThreads() const { return m_numFreeThreads; }
  // Who waits on which value, and the signals queued for threads (signal and block).
  gmBlockHash& GetBlocks() { return m_blocks; }

  void RegisterNatives(const gmFunctionEntry* a_entries, int a_count, const char* a_tableName = nullptr,
                       bool a_asTable = true) {
    gmRegisterNatives(this, a_entries, a_count, a_tableName, a_asTable);
  }
  bool RegisterTypeNatives(int a_type, const gmFunctionEntry* a_entries, int a_count) {
    return gmRegisterTypeNatives(this, a_type, a_entries, a_count);
  }
  // Every native registered through the two calls above, in registration order: the API
  // listing (ombrix --api) reads the script-visible names and parameter lists from here.
  struct NativeRecord {
    int type;           // GM_NULL for globals and table members, else the type it is a method of
    std::string table;  // the global table holding it, empty for a global or a method
    std::string name;
    std::string params;
  };
  const std::vector<NativeRecord>& GetNativeRecords() const { return m_nativeRecords; }
  void RecordNative(int a_type, const char* a_table, const gmFunctionEntry& a_entry) {
    m_nativeRecords.push_back({a_type, a_table ? a_table : "", a_entry.name, a_entry.params ? a_entry.params : ""});
  }

  // Debug mode only (else 0): register a source text under its CRC-32, once per text.
  gmuint AddSource(const char* a_text, const char* a_name);
  // The registered source with that id.
  bool GetSource(gmuint a_id, const char** a_text, const char** a_name) const;

  // gmThread::Run calls in progress, one inside another whenever a native runs script. Each
  // level costs the C stack an interpreter loop, a native and whatever compiled the text
  // (several times that under the sanitizers), so the nesting stops well before the main
  // thread's 8 MiB run out (a level takes about 25 KiB in the sanitizer build).
  enum { MAX_NESTED_RUNS = 100 };
  int nestedRuns = 0;

  // Machine time in milliseconds. Nothing advances it in this system.
  gmuint GetTime() const { return m_time; }

  // Call frame records, recycled through the machine.
  gmStackFrame* AllocFrame() { return static_cast<gmStackFrame*>(m_frameShells.Alloc()); }
  void FreeFrame(gmStackFrame* a_frame) { m_frameShells.Free(a_frame); }

  bool debugMode = false;
  gmDebugHook debugThreadStart = nullptr;
  gmDebugHook debugLine = nullptr;
  gmDebugHook debugCall = nullptr;
  gmDebugHook debugReturn = nullptr;
  // Consulted when a thread fails: with it set, in debug mode, a failed thread may be kept
  // in the exception list. Nothing sets it in this system.
  void* debugInspection = nullptr;

  // ---- Object destruction (called from the objects' Destruct) --------------------------
  void DestroyString(gmStringObject* a_string);
  void DestroyTable(gmTableObject* a_table);
  void DestroyFunction(gmFunctionObject* a_function);
  void DestroyUserObject(gmUserObject* a_user);

 private:
  // The interning table: open addressing with linear probing over slots that keep each
  // string's hash and length beside it, so a probe reads a string object only when both
  // agree. It doubles while more than half full, so a probe stays about one cache line
  // however many strings pile up between collections (collection runs only when a script
  // asks), and halves again when collections empty it. Slots come from the general heap:
  // the machine's memory figures count only the strings themselves.
  struct StringSlot {
    gmuint hash;
    gmint length;
    gmStringObject* string;  // null: the slot is empty
  };
  static const int MIN_STRING_SLOTS = 8192;
  // Where the text's string is, or the empty slot that ends its probe.
  int SeekString(const char* a_text, int a_length, gmuint a_hash) const;
  int HomeSlot(gmuint a_hash) const {
    // The hash's low bits follow a text's last bytes closely (texts counting up land side
    // by side); a multiplier spreads them.
    return static_cast<int>((a_hash * 0x9E3779B1u) >> m_stringShift);
  }
  void ResizeStrings(int a_slots);
  void DropStrings();

  template <class T>
  T* NewObject(gmMemFixed& a_shells, int a_bytes);
  void DefineBuiltinType(const char* a_name);

  // Declared first: everything below may hand memory back to these on destruction.
  gmMemFixedSet m_fixedSet;
  gmMemFixed m_stringShells;
  gmMemFixed m_tableShells;
  gmMemFixed m_functionShells;
  gmMemFixed m_userShells;
  long long m_objectBytes = 0;

  gmGarbageCollector m_gc;
  bool m_gcEnabled = true;

  StringSlot* m_strings = nullptr;
  int m_stringSlots = 0;  // a power of two
  int m_stringShift = 32;
  int m_stringCount = 0;
  bool m_stringsDropped = false;  // teardown emptied the table
  std::vector<gmTypeEntry> m_types;
  gmTableObject* m_global = nullptr;

  // ---- Threads --------------------------------------------------------------------------
  static const int THREAD_ID_CHAINS = 128;
  static const int MAX_FREE_THREADS = 16;
  struct ThreadList {
    gmThread* first = nullptr;
    gmThread* last = nullptr;
  };
  struct Source {
    std::string text;
    std::string name;
  };
  void DestroyThreads();
  static void ListInsertAfter(ThreadList& a_list, gmThread* a_after, gmThread* a_thread);
  static void ListAppend(ThreadList& a_list, gmThread* a_thread) { ListInsertAfter(a_list, a_list.last, a_thread); }
  static void ListRemove(ThreadList& a_list, gmThread* a_thread);
  void IdInsert(gmThread* a_thread);
  void IdRemove(gmThread* a_thread);

  gmLog m_log;
  gmMemFixed m_frameShells;
  // Lists by state number; the KILLED entry is the free list of reusable threads.
  ThreadList m_lists[gmThread::EXCEPTION + 1];
  int m_numFreeThreads = 0;
  // Chains ascending by id, indexed by id modulo the chain count.
  gmThread* m_threadIds[THREAD_ID_CHAINS] = {};
  int m_lastThreadId = 0;
  gmBlockHash m_blocks;
  std::vector<NativeRecord> m_nativeRecords;
  gmuint m_time = 0;
  // By CRC-32 of the text.
  std::unordered_map<gmuint, Source> m_sources;
};

#endif
