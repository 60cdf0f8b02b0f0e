#include "script/vm/gmHooks.h"

#include <cstring>

#include "script/vm/gmMachine.h"

namespace {

char* CopyText(gmMachine* a_machine, const char* a_text) {
  if (!a_text) return nullptr;
  size_t n = std::strlen(a_text) + 1;
  char* copy = static_cast<char*>(a_machine->Alloc(n));
  std::memcpy(copy, a_text, n);
  return copy;
}

}  // namespace

gmHooks::gmHooks(gmMachine* a_machine, const char* a_source, const char* a_sourceName)
    : m_machine(a_machine), m_source(a_source), m_sourceName(a_sourceName) {}

bool gmHooks::Begin(bool a_debug) {
  // Function objects and strings made during the compile hang on nothing until the root
  // function is pushed on a thread: the collector must not see them before.
  m_gcWasEnabled = m_machine->EnableGC(false);
  m_debug = a_debug;
  if (a_debug) m_sourceId = m_machine->AddSource(m_source, m_sourceName);
  return true;
}

bool gmHooks::AddFunction(gmFunctionInfo& a_info) {
  gmFunctionObject* f = a_info.func;
  // "__main" has no constructor, so no object of its own yet.
  if (!f && a_info.root) f = m_machine->MakeScriptFunction();
  if (!f || f->GetType() != GM_FUNCTION) return false;
  if (a_info.root) m_rootFunction = f;

  f->FreeBuffers(m_machine);
  f->nativeFunction = nullptr;
  f->numParams = a_info.numParams;
  f->numLocals = a_info.numLocals;
  f->numParamsLocals = a_info.numParams + a_info.numLocals;
  f->maxStackSize = a_info.maxStackSize;

  if (a_info.byteCodeLength > 0) {
    f->byteCode = static_cast<gmuint8*>(m_machine->Alloc(static_cast<size_t>(a_info.byteCodeLength)));
    std::memcpy(f->byteCode, a_info.byteCode, static_cast<size_t>(a_info.byteCodeLength));
    f->byteCodeLength = a_info.byteCodeLength;
  }
  if (a_info.numReferences > 0) {
    // An array of object pointers: sizeof(gmObject*) is meant.
    // NOLINTNEXTLINE(bugprone-sizeof-expression)
    const size_t bytes = sizeof(gmObject*) * static_cast<size_t>(a_info.numReferences);
    f->references = static_cast<gmObject**>(m_machine->Alloc(bytes));
    for (int i = 0; i < a_info.numReferences; ++i) f->references[i] = a_info.references[i];
    f->numReferences = a_info.numReferences;
  }

  if (m_debug) {
    gmFunctionDebugInfo* debug = static_cast<gmFunctionDebugInfo*>(m_machine->Alloc(sizeof(gmFunctionDebugInfo)));
    *debug = gmFunctionDebugInfo();
    debug->name = CopyText(m_machine, a_info.debugName);
    debug->sourceId = m_sourceId;
    int numSymbols = f->numParamsLocals;
    if (a_info.symbols && numSymbols > 0) {
      debug->symbols = static_cast<char**>(m_machine->Alloc(sizeof(char*) * static_cast<size_t>(numSymbols)));
      for (int i = 0; i < numSymbols; ++i) debug->symbols[i] = CopyText(m_machine, a_info.symbols[i]);
      debug->numSymbols = numSymbols;
    }
    if (a_info.lineInfo && a_info.lineInfoCount > 0) {
      debug->lineInfo =
          static_cast<gmDebugLine*>(m_machine->Alloc(sizeof(gmDebugLine) * static_cast<size_t>(a_info.lineInfoCount)));
      for (int i = 0; i < a_info.lineInfoCount; ++i) {
        debug->lineInfo[i].byteCodeOffset = a_info.lineInfo[i].byteCodeOffset;
        debug->lineInfo[i].lineNumber = a_info.lineInfo[i].lineNumber;
      }
      debug->lineInfoCount = a_info.lineInfoCount;
    }
    f->debugInfo = debug;
  }
  return true;
}

bool gmHooks::End(int a_errors) {
  m_errors = a_errors;
  m_machine->EnableGC(m_gcWasEnabled);
  return true;
}

gmFunctionObject* gmHooks::NewFunction() { return m_machine->MakeScriptFunction(); }

gmStringObject* gmHooks::GetSymbol(const char* a_text) { return m_machine->MakePermanentString(a_text); }

gmStringObject* gmHooks::GetStringConstant(const char* a_text) { return m_machine->MakeString(a_text); }
