#pragma once
// How the modules call back into scripts: the global script function named by a script
// earlier (a timer's, an object's per-frame function, a key's callback) is looked up when
// the event happens and run at once to its end on a new thread, with a null `this`, through
// the machine extension's call by name. The global is read at every call, so a function
// assigned to the name later is the one called; a name that holds no function runs
// nothing, and results are ignored.
#include <initializer_list>

#include "script/values/gmVariable.h"

class gmMachineEx;

namespace gScriptCall {

// False when nothing was called (no machine, empty name, or no function of that name).
bool Global(gmMachineEx* a_machine, const char* a_name, std::initializer_list<gmVariable> a_args = {});

}  // namespace gScriptCall
