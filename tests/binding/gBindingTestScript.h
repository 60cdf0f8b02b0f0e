#pragma once
// Runs script texts on a machine and reads back globals and the log, so binding tests can
// state what a script sees.
#include <string>

#include "script/vm/gmMachine.h"

class gBindingTestScript {
 public:
  explicit gBindingTestScript(gmMachine* a_machine) : machine(a_machine) { Errors(); }

  // Compile and run; the number of compile errors.
  int Run(const std::string& a_text) { return machine->RunString(a_text.c_str()); }

  gmVariable Global(const char* a_name) { return machine->GetGlobals()->GetByName(machine, a_name); }
  float Float(const char* a_name) {
    gmVariable v = Global(a_name);
    return v.IsFloat() ? v.GetFloat() : -12345.0f;
  }
  int Int(const char* a_name) {
    gmVariable v = Global(a_name);
    return v.IsInt() ? v.GetInt() : -12345;
  }
  // A global as text, the way print and concatenation show it.
  std::string Text(const char* a_name) {
    char buffer[256];
    return machine->ValueToText(Global(a_name), buffer, sizeof(buffer));
  }

  // Log entries written since the last call, joined.
  std::string Errors() {
    std::string text;
    bool first = true;
    int index = 0;
    while (const char* entry = machine->GetLog().GetEntry(first)) {
      if (index++ >= seen) text += entry;
    }
    seen = index;
    return text;
  }

  gmMachine* machine;
  int seen = 0;
};
