#include "scene/gScriptCall.h"

#include "script/values/gmFunctionObject.h"
#include "script/values/gmTableObject.h"
#include "script/vm/gmMachine.h"
#include "script/vm/gmThread.h"

namespace gScriptCall {

bool Global(gmMachine* a_machine, const char* a_name, std::initializer_list<gmVariable> a_args) {
  if (!a_machine || !a_name || !a_name[0]) return false;
  const gmVariable function = a_machine->GetGlobals()->GetByName(a_machine, a_name);
  if (!function.IsFunction()) return false;
  gmThread* thread = a_machine->NewThread();
  thread->PushNull();
  thread->PushFunction(function.GetFunctionObject());
  for (const gmVariable& arg : a_args) thread->PushValue(arg);
  const int state = thread->PushCall(static_cast<int>(a_args.size()));
  if (state == gmThread::CALL_OK) {
    thread->Run();
  } else if (state == gmThread::KILLED || state == gmThread::CALL_FAILED) {
    // A native finished (or the call failed) inside PushCall; the thread would otherwise
    // stay in the running list.
    a_machine->SwitchThreadState(thread, gmThread::KILLED);
  }
  return true;
}

}  // namespace gScriptCall
