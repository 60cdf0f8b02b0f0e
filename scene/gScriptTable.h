#pragma once
// A script table that native code holds across frames: a scene's or an object's own table,
// the argument a timer passes to its function.
#include "script/values/gmTableObject.h"

class gmMachine;

class gScriptTable {
 public:
  gScriptTable() = default;
  gScriptTable(gmMachine* a_machine, gmTableObject* a_table) { Set(a_machine, a_table); }

  void Set(gmMachine* a_machine, gmTableObject* a_table) {
    m_machine = a_table ? a_machine : nullptr;
    m_table = a_table;
  }
  void Release() { Set(nullptr, nullptr); }

  gmTableObject* Get() const { return m_table; }
  gmMachine* GetMachine() const { return m_machine; }

 private:
  gmMachine* m_machine = nullptr;
  gmTableObject* m_table = nullptr;
};
