#ifndef GMTESTHOOKS_H
#define GMTESTHOOKS_H

// Hooks over a real machine that remember every function the code generator hands over, as
// a listing and as the raw description fields tests look at.

#include <string>
#include <vector>

#include "script/compiler/gmCodeGenHooks.h"
#include "script/compiler/gmDisassembler.h"
#include "script/vm/gmMachine.h"

struct gmRecordedFunction {
  gmFunctionObject* func;
  bool root;
  int numParams;
  int numLocals;
  int maxStackSize;
  std::string debugName;
  std::vector<gmObject*> references;
  std::string listing;
};

class gmTestHooks : public gmCodeGenHooks {
 public:
  explicit gmTestHooks(gmMachine& a_machine) : machine(a_machine) {}

  bool Begin(bool debug) override {
    begun = true;
    debugMode = debug;
    gcWasEnabled = machine.EnableGC(false);
    return true;
  }
  bool AddFunction(gmFunctionInfo& info) override {
    gmRecordedFunction r;
    r.func = info.func;
    r.root = info.root;
    r.numParams = info.numParams;
    r.numLocals = info.numLocals;
    r.maxStackSize = info.maxStackSize;
    r.debugName = info.debugName ? info.debugName : "";
    r.references.assign(info.references, info.references + info.numReferences);
    r.listing = gmDisassembler::Disassemble(info);
    functions.push_back(r);
    return true;
  }
  bool End(int errors) override {
    endErrors = errors;
    machine.EnableGC(gcWasEnabled);
    return true;
  }
  gmFunctionObject* NewFunction() override {
    ++newFunctions;
    return machine.MakeScriptFunction();
  }
  gmStringObject* GetSymbol(const char* text) override { return machine.MakePermanentString(text); }
  gmStringObject* GetStringConstant(const char* text) override { return machine.MakeString(text); }

  // The recorded "__main" (always handed over last), or null after a failed compile.
  const gmRecordedFunction* Main() const {
    return !functions.empty() && functions.back().root ? &functions.back() : nullptr;
  }

  gmMachine& machine;
  std::vector<gmRecordedFunction> functions;
  bool begun = false;
  bool debugMode = false;
  bool gcWasEnabled = true;
  int endErrors = -1;
  int newFunctions = 0;
};

#endif
