#include "script/values/gmFunctionObject.h"

#include "script/vm/gmExecCode.h"
#include "script/vm/gmMachine.h"

void gmFunctionObject::Destruct(gmMachine* a_machine) { a_machine->DestroyFunction(this); }

bool gmFunctionObject::Trace(gmMachine*, gmGarbageCollector* a_gc, int, int& a_workDone) {
  for (gmint i = 0; i < numReferences; ++i) {
    if (references[i]) a_gc->GetNextObject(references[i]);
  }
  a_workDone += 1 + numReferences;
  return true;
}

void gmFunctionObject::FreeBuffers(gmMachine* a_machine) {
  if (debugInfo) {
    a_machine->Free(debugInfo->name);
    if (debugInfo->symbols) {
      for (gmint i = 0; i < debugInfo->numSymbols; ++i) a_machine->Free(debugInfo->symbols[i]);
      a_machine->Free(debugInfo->symbols);
    }
    a_machine->Free(debugInfo->lineInfo);
    a_machine->Free(debugInfo);
    debugInfo = nullptr;
  }
  gmFreeExecCode(this);
  a_machine->Free(byteCode);
  byteCode = nullptr;
  byteCodeLength = 0;
  a_machine->Free(references);
  references = nullptr;
  numReferences = 0;
  maxStackSize = 1;
  numLocals = numParams = numParamsLocals = 0;
}
