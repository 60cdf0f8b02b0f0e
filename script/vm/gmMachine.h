#ifndef GMMACHINE_H
#define GMMACHINE_H

// The script machine: owner of every heap object (through its collector), the string
// interning table, the type registry, the global table and the engine's memory.
//
// This header is organised by concern so the virtual machine can grow into it: values and
// heap objects, the type registry, memory and the collector. Threads, the log and running
// code join as further sections.

#include <vector>

#include "script/gc/gmGarbageCollector.h"
#include "script/gc/gmMemChain.h"
#include "script/values/gmFunctionObject.h"
#include "script/values/gmOperators.h"
#include "script/values/gmStringObject.h"
#include "script/values/gmTableObject.h"
#include "script/values/gmUserObject.h"
#include "script/values/gmVariable.h"

// Type callbacks. Trace marks the objects a user object's native data refers to (through
// a_gc->GetNextObject) and reports its work like gmGCObjBase::Trace; destruct runs when a
// user object of the type is freed; text writes a text form of the object into a buffer
// of a_size bytes (always NUL-terminated).
typedef bool (*gmGCTraceCallback)(gmMachine* a_machine, gmUserObject* a_object, gmGarbageCollector* a_gc, int a_workLeft, int& a_workDone);
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
  bool SetTypeCallbacks(int a_type, gmGCTraceCallback a_trace, gmGCDestructCallback a_destruct, gmAsStringCallback a_asString);
  // The type's name, or "undefined" for an id no type has.
  const char* TypeName(int a_type) const;
  int GetNumTypes() const { return static_cast<int>(m_types.size()); }
  bool IsValidType(int a_type) const { return a_type >= 0 && a_type < GetNumTypes(); }
  // Unchecked fast paths for the interpreter.
  gmOperatorFunction GetTypeNativeOperator(int a_type, int a_operator) const { return m_types[a_type].nativeOperators[a_operator]; }
  gmFunctionObject* GetTypeOperator(int a_type, int a_operator) const { return m_types[a_type].operators[a_operator]; }
  gmTableObject* GetTypeVariables(int a_type) const { return m_types[a_type].variables; }
  const gmTypeEntry& GetTypeEntry(int a_type) const { return m_types[a_type]; }

  // ---- Memory ------------------------------------------------------------------------
  // Size-class storage for engine buffers (table nodes, texts, byte code, debug records),
  // counted in the usage. Free takes null.
  void* Alloc(size_t a_size) { return m_fixedSet.Alloc(a_size); }
  void Free(void* a_ptr) { m_fixedSet.Free(a_ptr); }
  // Object bytes plus size-class bytes.
  int GetCurrentMemoryUsage() const { return m_objectBytes + static_cast<int>(m_fixedSet.GetBytesAllocated()); }
  int GetObjectBytes() const { return m_objectBytes; }
  int GetSizeClassBytes() const { return static_cast<int>(m_fixedSet.GetBytesAllocated()); }
  // Natives account for memory they hold on behalf of script objects (may be negative).
  void AdjustKnownMemoryUsed(int a_delta) { m_objectBytes += a_delta; }

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

  // ---- Object destruction (called from the objects' Destruct) --------------------------
  void DestroyString(gmStringObject* a_string);
  void DestroyTable(gmTableObject* a_table);
  void DestroyFunction(gmFunctionObject* a_function);
  void DestroyUserObject(gmUserObject* a_user);

 private:
  static const int STRING_CHAINS = 8192;  // never grows

  template <class T>
  T* NewObject(gmMemFixed& a_shells, int a_bytes);
  void DefineBuiltinType(const char* a_name);

  // Declared first: everything below may hand memory back to these on destruction.
  gmMemFixedSet m_fixedSet;
  gmMemFixed m_stringShells;
  gmMemFixed m_tableShells;
  gmMemFixed m_functionShells;
  gmMemFixed m_userShells;
  int m_objectBytes = 0;

  gmGarbageCollector m_gc;
  bool m_gcEnabled = true;

  gmStringObject* m_strings[STRING_CHAINS] = {};
  std::vector<gmTypeEntry> m_types;
  gmTableObject* m_global = nullptr;
};

#endif
