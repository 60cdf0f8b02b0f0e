#include "scene/gScriptCall.h"

#include "binding/gmMachineEx.h"

namespace gScriptCall {

bool Global(gmMachineEx* a_machine, const char* a_name, std::initializer_list<gmVariable> a_args) {
  if (!a_machine || !a_name || !a_name[0]) return false;
  gmThread* thread = a_machine->PrepareGlobalCall(a_name);
  if (!thread) return false;
  for (const gmVariable& arg : a_args) thread->PushValue(arg);
  a_machine->FinishCall(thread, static_cast<int>(a_args.size()));
  return true;
}

}  // namespace gScriptCall
