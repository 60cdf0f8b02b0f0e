#include "script/values/gmUserObject.h"

#include "script/vm/gmMachine.h"

void gmUserObject::Destruct(gmMachine* a_machine) {
  UnlinkWrapper();
  a_machine->DestroyUserObject(this);
}

bool gmUserObject::Trace(gmMachine* a_machine, gmGarbageCollector* a_gc, int a_workLeft, int& a_workDone) {
  if (a_machine->IsValidType(userType)) {
    if (gmGCTraceCallback trace = a_machine->GetTypeEntry(userType).trace) {
      a_gc->nativeTraced = true;
      return trace(a_machine, this, a_gc, a_workLeft, a_workDone);
    }
  }
  ++a_workDone;
  return true;
}
