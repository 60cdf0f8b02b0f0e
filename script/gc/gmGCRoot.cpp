#include "script/gc/gmGCRoot.h"

#include "script/gc/gmGarbageCollector.h"
#include "script/vm/gmMachine.h"

void gmMarkValue(gmGarbageCollector* a_gc, const gmVariable& a_value) {
  if (a_value.IsReference() && a_value.value.ref) a_gc->GetNextObject(a_value.value.ref);
}

gmGCRoot::gmGCRoot(const gmGCRoot& a_other) : gmGCRoot() {
  if (a_other.m_gc) {
    m_value = a_other.m_value;
    Attach(a_other.m_gc);
  }
}

gmGCRoot::gmGCRoot(gmGCRoot&& a_other) noexcept : gmGCRoot() {
  if (a_other.m_gc) {
    m_value = a_other.m_value;
    gmGarbageCollector* gc = a_other.m_gc;
    a_other.Detach();
    Attach(gc);
  }
}

gmGCRoot& gmGCRoot::operator=(const gmGCRoot& a_other) {
  if (this != &a_other) {
    Release();
    if (a_other.m_gc) {
      m_value = a_other.m_value;
      Attach(a_other.m_gc);
    }
  }
  return *this;
}

gmGCRoot& gmGCRoot::operator=(gmGCRoot&& a_other) noexcept {
  if (this != &a_other) {
    Release();
    if (a_other.m_gc) {
      m_value = a_other.m_value;
      gmGarbageCollector* gc = a_other.m_gc;
      a_other.Detach();
      Attach(gc);
    }
  }
  return *this;
}

void gmGCRoot::Set(gmMachine* a_machine, const gmVariable& a_value) {
  gmGarbageCollector* gc = a_machine ? a_machine->GetGC() : nullptr;
  // The old object may have been rooted only here since the roots were marked.
  Barrier();
  if (gc != m_gc) {
    if (m_gc) Detach();
    if (gc) Attach(gc);
  }
  m_value = gc ? a_value : gmVariable::Null();
  // The new one may come from native memory the snapshot never saw.
  Barrier();
}

void gmGCRoot::Release() {
  if (!m_gc) return;
  Barrier();
  Detach();
}

void gmGCRoot::Attach(gmGarbageCollector* a_gc) {
  m_gc = a_gc;
  m_prev = nullptr;
  m_next = a_gc->m_roots;
  if (m_next) m_next->m_prev = this;
  a_gc->m_roots = this;
}

void gmGCRoot::Detach() {
  if (m_gc) {
    if (m_prev)
      m_prev->m_next = m_next;
    else
      m_gc->m_roots = m_next;
    if (m_next) m_next->m_prev = m_prev;
  }
  m_gc = nullptr;
  m_prev = m_next = nullptr;
  m_value.SetNull();
}

void gmGCRoot::Barrier() const {
  if (m_gc && m_value.IsReference() && m_value.value.ref) m_gc->WriteBarrier(m_value.value.ref);
}
