#ifndef GMHOOKS_H
#define GMHOOKS_H

// The machine's side of one compile: makes the objects the code generator asks for and
// turns each finished function description into a callable script function. One is made
// for every run-text call, with the source text and name it compiles.

#include "script/compiler/gmCodeGenHooks.h"
#include "script/values/gmVariable.h"

class gmMachine;

class gmHooks : public gmCodeGenHooks {
 public:
  // a_sourceName may be null ("unknown" is registered then).
  gmHooks(gmMachine* a_machine, const char* a_source, const char* a_sourceName);

  bool Begin(bool a_debug) override;
  bool AddFunction(gmFunctionInfo& a_info) override;
  bool End(int a_errors) override;
  gmFunctionObject* NewFunction() override;
  gmStringObject* GetSymbol(const char* a_text) override;
  gmStringObject* GetStringConstant(const char* a_text) override;

  // "__main" of a successful compile, else null.
  gmFunctionObject* GetRootFunction() const { return m_rootFunction; }
  int GetErrors() const { return m_errors; }

 private:
  gmMachine* m_machine;
  const char* m_source;
  const char* m_sourceName;
  gmuint m_sourceId = 0;
  bool m_debug = false;
  bool m_gcWasEnabled = true;
  gmFunctionObject* m_rootFunction = nullptr;
  int m_errors = 0;
};

#endif
