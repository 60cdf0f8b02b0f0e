#include "script/gc/gmGCObjBase.h"

void gmGCObjBase::Destruct(gmMachine*) {}

bool gmGCObjBase::Trace(gmMachine*, gmGarbageCollector*, int, int& a_workDone) {
  ++a_workDone;
  return true;
}
