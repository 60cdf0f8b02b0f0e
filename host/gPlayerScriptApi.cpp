#include "host/gPlayerScriptApi.h"

// A subsystem joins the script API with one line here, in its slot (binding/gScriptHost.h
// lists the slots and the ids they give):
//   api.types[SLOT_CLOCK] = &_gClock::RegisterScriptType;
// A slot left empty keeps its ids, so filling one never moves another.
gScriptApi gPlayerScriptApi() {
  gScriptApi api;  // Vector3 and _System
  return api;
}
