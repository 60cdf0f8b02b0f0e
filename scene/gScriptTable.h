#pragma once
// A script table that native code holds across frames: a scene's or an object's own table,
// the argument a timer passes to its function. The table is a collector root for as long
// as it is held, so scripts may drop every reference of their own to it.
#include "script/gc/gmGCRoot.h"

class gmMachine;

class gScriptTable {
 public:
  gScriptTable() = default;
  gScriptTable(gmMachine* a_machine, gmTableObject* a_table) { Set(a_machine, a_table); }

  // Without a machine nothing can be rooted, and nothing is held.
  void Set(gmMachine* a_machine, gmTableObject* a_table) {
    if (!a_machine || !a_table) {
      Release();
      return;
    }
    m_root.Set(a_machine, gmVariable(a_table));
    m_machine = a_machine;
  }
  void Release() {
    m_root.Release();
    m_machine = nullptr;
  }

  // Null once released, or when the machine has been destroyed.
  gmTableObject* Get() const { return m_root.GetTable(); }
  gmMachine* GetMachine() const { return Get() ? m_machine : nullptr; }

 private:
  gmGCRoot m_root;
  gmMachine* m_machine = nullptr;
};
