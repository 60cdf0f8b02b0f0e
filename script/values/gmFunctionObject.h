#ifndef GMFUNCTIONOBJECT_H
#define GMFUNCTIONOBJECT_H

// A function value: either a native function with its user value, or a compiled script
// function whose byte code, reference array and debug record the object owns.

#include "script/values/gmObject.h"

// A native function: takes the calling thread, returns the thread status code.
typedef int (*gmNativeFunction)(gmThread* a_thread);

// One (byte code offset, source line) entry of a function's line table.
struct gmDebugLine {
  gmint byteCodeOffset;
  gmint lineNumber;
};

// Present only for functions compiled in debug mode. Every buffer, the record included,
// comes from the machine's size-class storage (gmMachine::Alloc) and is released with the
// function.
struct gmFunctionDebugInfo {
  char* name = nullptr;      // function name, or null
  char** symbols = nullptr;  // local names indexed by stack slot (parameters first); entries may be null
  gmint numSymbols = 0;
  gmint lineInfoCount = 0;
  gmuint sourceId = 0;  // CRC-32 of the source text
  gmDebugLine* lineInfo = nullptr;
};

class gmFunctionObject : public gmObject {
 public:
  gmNativeFunction nativeFunction = nullptr;  // null for script functions
  // Given when a native function is registered. Pointer-wide so a native can keep a
  // pointer here as well as a 32-bit number.
  gmptr userValue = 0;
  gmFunctionDebugInfo* debugInfo = nullptr;
  gmuint8* byteCode = nullptr;  // machine-owned copy (size-class storage)
  gmint byteCodeLength = 0;     // in bytes
  gmint maxStackSize = 1;
  gmint numLocals = 0;
  gmint numParams = 0;
  gmint numParamsLocals = 0;
  // Every string and function constant the byte code mentions, each once; byte code
  // operands index this array. Size-class storage owned by the object.
  gmint numReferences = 0;
  gmObject** references = nullptr;
  // The interpreter's working copy of byteCode and the operand records of its combined
  // instructions (script/vm/gmExecCode.h); built on the first call, from the general heap and
  // not counted as script memory, since scripts never see them.
  gmuint8* execCode = nullptr;
  struct gmExecOp* execOps = nullptr;

  int GetType() const override { return GM_FUNCTION; }
  void Destruct(gmMachine* a_machine) override;
  bool Trace(gmMachine* a_machine, gmGarbageCollector* a_gc, int a_workLeft, int& a_workDone) override;

  bool IsNative() const { return nativeFunction != nullptr; }
  // Release byte code, references and debug record and return the object to its fresh
  // state (the re-initialisation from a compiled description starts here).
  void FreeBuffers(gmMachine* a_machine);
};

inline gmVariable::gmVariable(gmFunctionObject* a_function) : type(GM_FUNCTION) { value.ref = a_function; }
inline void gmVariable::SetFunction(gmFunctionObject* a_function) { SetRef(GM_FUNCTION, a_function); }
inline gmFunctionObject* gmVariable::GetFunctionObject() const { return static_cast<gmFunctionObject*>(value.ref); }

#endif
