#include "script/gc/gmGarbageCollector.h"

gmGCColorSet::gmGCColorSet() {
  // Empty: head <-> separator, every boundary on the separator.
  m_head.next = &m_separator;
  m_head.prev = &m_separator;
  m_separator.next = &m_head;
  m_separator.prev = &m_head;
  m_blacks = &m_separator;
  m_frees = &m_separator;
  m_persistent.next = &m_persistent;
  m_persistent.prev = &m_persistent;
}

void gmGCColorSet::InsertPersistent(gmGCObjBase* a_obj) { InsertBefore(&m_persistent, a_obj); }

void gmGCColorSet::Unlink(gmGCObjBase* a_obj) {
  if (a_obj == m_frees) m_frees = a_obj->next;
  if (a_obj == m_blacks) m_blacks = a_obj->next;
  a_obj->prev->next = a_obj->next;
  a_obj->next->prev = a_obj->prev;
  a_obj->prev = a_obj->next = nullptr;
}

void gmGCColorSet::UnlinkPersistent(gmGCObjBase* a_obj) {
  a_obj->prev->next = a_obj->next;
  a_obj->next->prev = a_obj->prev;
  a_obj->prev = a_obj->next = nullptr;
}

void gmGCColorSet::DestructAll(gmMachine* a_machine) {
  // Detach each object before destroying it: a destructor may look at the lists (a string
  // leaves its interning chain), never at its own links.
  for (gmGCObjBase* obj = m_head.next; obj != &m_head;) {
    gmGCObjBase* next = obj->next;
    if (obj != &m_separator) obj->Destruct(a_machine);
    obj = next;
  }
  for (gmGCObjBase* obj = m_persistent.next; obj != &m_persistent;) {
    gmGCObjBase* next = obj->next;
    obj->Destruct(a_machine);
    obj = next;
  }
  m_head.next = m_head.prev = &m_separator;
  m_separator.next = m_separator.prev = &m_head;
  m_blacks = m_frees = &m_separator;
  m_persistent.next = m_persistent.prev = &m_persistent;
}

int gmGCColorSet::CountObjects() const {
  int n = 0;
  for (const gmGCObjBase* obj = m_head.next; obj != &m_head; obj = obj->next)
    if (obj != &m_separator) ++n;
  return n;
}

int gmGCColorSet::CountPersistent() const {
  int n = 0;
  for (const gmGCObjBase* obj = m_persistent.next; obj != &m_persistent; obj = obj->next) ++n;
  return n;
}

void gmGarbageCollector::MakePersistent(gmGCObjBase* a_obj) {
  if (a_obj->persist) return;
  colorSet.Unlink(a_obj);
  a_obj->persist = 1;
  colorSet.InsertPersistent(a_obj);
}

void gmGarbageCollector::ReviveMove(gmGCObjBase* a_obj) {
  colorSet.Unlink(a_obj);
  a_obj->color = currentColor;
  colorSet.InsertBlack(a_obj);
}
