#ifndef GMGCROOT_H
#define GMGCROOT_H

// Keeping script values alive from native code.
//
// The collector only sees references held by script-visible places: thread stacks, the
// global table, the types' variables tables and the heap objects reachable from them. A
// native that keeps a value across calls (a scene's object table, a timer's callback name,
// a module's table of handlers) must hold it in a gmGCRoot; a plain gmVariable or object
// pointer kept in native memory is freed under it by the next collection that does not
// otherwise reach the object. This is the one mechanism for that; do not add others.
//
//   gmGCRoot m_objects;                       // a member of the native owner
//   m_objects.Set(machine, gmVariable(machine->MakeTable()));
//   m_objects.GetTable()->Set(machine, key, value);
//   m_objects.Release();                      // or let the destructor do it
//
// A handle holds one value and roots it while it is attached to a machine: it is linked into
// the collector's root list (intrusive: rooting never allocates) and marked with the other
// roots at the start of every cycle. Setting or releasing a handle during a cycle keeps both
// the old and the new object alive through that cycle, so natives need no barrier of their
// own. Copies are independent roots of the same value; moves transfer the root. A handle
// that outlives its machine is emptied (null, detached) when the machine is destroyed, so
// destroying it afterwards is safe. Handles are for the thread that runs the machine only.

#include "script/values/gmFunctionObject.h"
#include "script/values/gmStringObject.h"
#include "script/values/gmTableObject.h"
#include "script/values/gmVariable.h"

class gmGarbageCollector;

class gmGCRoot {
 public:
  gmGCRoot() { m_value.SetNull(); }
  gmGCRoot(gmMachine* a_machine, const gmVariable& a_value) : gmGCRoot() { Set(a_machine, a_value); }
  ~gmGCRoot() { Release(); }
  gmGCRoot(const gmGCRoot& a_other);
  gmGCRoot(gmGCRoot&& a_other) noexcept;
  gmGCRoot& operator=(const gmGCRoot& a_other);
  gmGCRoot& operator=(gmGCRoot&& a_other) noexcept;

  // Hold a_value (any type; only references need rooting, but every value is kept). The
  // machine may differ from the one held before.
  void Set(gmMachine* a_machine, const gmVariable& a_value);
  // Let the value go: the handle becomes null and detached.
  void Release();

  const gmVariable& Get() const { return m_value; }
  bool IsNull() const { return m_value.type == GM_NULL; }
  // The held object when it is of that type, else null.
  gmTableObject* GetTable() const { return m_value.type == GM_TABLE ? m_value.GetTableObject() : nullptr; }
  gmStringObject* GetString() const { return m_value.type == GM_STRING ? m_value.GetStringObject() : nullptr; }
  gmFunctionObject* GetFunction() const { return m_value.type == GM_FUNCTION ? m_value.GetFunctionObject() : nullptr; }

  // The collector's root list.
  const gmGCRoot* GetNext() const { return m_next; }
  gmGCRoot* GetNext() { return m_next; }

 private:
  friend class gmGarbageCollector;
  void Attach(gmGarbageCollector* a_gc);
  // Unlink and forget the collector, keeping nothing.
  void Detach();
  // The write barrier on the held reference, if any (a cycle may be running).
  void Barrier() const;

  gmGarbageCollector* m_gc = nullptr;
  gmGCRoot* m_prev = nullptr;
  gmGCRoot* m_next = nullptr;
  gmVariable m_value;
};

// Mark a value's object gray if it is a reference that is neither marked nor persistent
// (the unit of every root marking).
void gmMarkValue(gmGarbageCollector* a_gc, const gmVariable& a_value);

#endif
