#include "script/gc/gmGarbageCollector.h"

#include <climits>

#include "script/gc/gmGCRoot.h"

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

void gmGCColorSet::Rotate() {
  // Gray is empty when a cycle ends; should anything have grayed an object outside a cycle,
  // it is marked, so it goes with black rather than being dropped from the lists.
  // The three runs as [first, last] pairs, null when empty.
  gmGCObjBase* blackFirst = m_head.next != m_frees ? m_head.next : nullptr;
  gmGCObjBase* blackLast = blackFirst ? m_frees->prev : nullptr;
  gmGCObjBase* freeFirst = m_frees != &m_separator ? m_frees : nullptr;
  gmGCObjBase* freeLast = freeFirst ? m_separator.prev : nullptr;
  gmGCObjBase* whiteFirst = m_separator.next != &m_head ? m_separator.next : nullptr;
  gmGCObjBase* whiteLast = whiteFirst ? m_head.prev : nullptr;

  // Relink as head, old free, old white, separator, old black.
  gmGCObjBase* at = &m_head;
  auto append = [&at](gmGCObjBase* a_first, gmGCObjBase* a_last) {
    if (!a_first) return;
    at->next = a_first;
    a_first->prev = at;
    at = a_last;
  };
  append(freeFirst, freeLast);
  append(whiteFirst, whiteLast);
  append(&m_separator, &m_separator);
  append(blackFirst, blackLast);
  at->next = &m_head;
  m_head.prev = at;

  m_frees = m_head.next;  // the separator when nothing is free
  m_blacks = m_frees;
}

int gmGCColorSet::CountObjects() const {
  int n = 0;
  for (const gmGCObjBase* obj = m_head.next; obj != &m_head; obj = obj->next)
    if (obj != &m_separator) ++n;
  return n;
}

gmGCColorSet::Sequence gmGCColorSet::Where(const gmGCObjBase* a_obj) const {
  Sequence seq = SEQ_GRAY;
  for (const gmGCObjBase* obj = m_head.next; obj != &m_head; obj = obj->next) {
    if (obj == m_blacks && seq == SEQ_GRAY) seq = SEQ_BLACK;
    if (obj == m_frees && seq == SEQ_BLACK) seq = SEQ_FREE;
    if (obj == &m_separator) {
      seq = SEQ_WHITE;
      continue;
    }
    if (obj == a_obj) return seq;
  }
  for (const gmGCObjBase* obj = m_persistent.next; obj != &m_persistent; obj = obj->next)
    if (obj == a_obj) return SEQ_PERSISTENT;
  return SEQ_NONE;
}

int gmGCColorSet::CountIn(Sequence a_sequence) const {
  if (a_sequence == SEQ_PERSISTENT) return CountPersistent();
  int n = 0;
  Sequence seq = SEQ_GRAY;
  for (const gmGCObjBase* obj = m_head.next; obj != &m_head; obj = obj->next) {
    if (obj == m_blacks && seq == SEQ_GRAY) seq = SEQ_BLACK;
    if (obj == m_frees && seq == SEQ_BLACK) seq = SEQ_FREE;
    if (obj == &m_separator) {
      seq = SEQ_WHITE;
      continue;
    }
    if (seq == a_sequence) ++n;
  }
  return n;
}

int gmGCColorSet::CountPersistent() const {
  int n = 0;
  for (const gmGCObjBase* obj = m_persistent.next; obj != &m_persistent; obj = obj->next) ++n;
  return n;
}

// ---- gmGarbageCollector ------------------------------------------------------------------

gmGarbageCollector::gmGarbageCollector() {}

gmGarbageCollector::~gmGarbageCollector() { DetachRoots(); }

void gmGarbageCollector::StartCycle() {
  if (!finished) return;
  // Whatever black holds now was marked by the last cycle; whatever white still holds was
  // not, and nothing can reach it any more except the interning table (see Revive).
  colorSet.Rotate();
  currentColor ^= 1;
  rootsPending = true;
  finished = false;
}

bool gmGarbageCollector::IncrementalStep(gmMachine* a_machine) {
  int budget = fullThrottle ? INT_MAX : workPerStep;

  if (rootsPending) {
    if (rootCallback) rootCallback(a_machine, this);
    rootsPending = false;
    return false;
  }

  if (!currentDone) {
    int work = 0;
    currentDone = currentObject->Trace(a_machine, this, budget, work);
    if (!currentDone) return false;
    currentObject = nullptr;
    budget -= work;
    if (budget < 1) return false;
  }

  while (!colorSet.IsGrayEmpty()) {
    // The last gray object turns black by moving the boundary over it; the children its
    // trace grays are inserted before it, at the new end of gray.
    gmGCObjBase* obj = colorSet.m_blacks->prev;
    colorSet.m_blacks = obj;
    int work = 0;
    if (!obj->Trace(a_machine, this, budget, work)) {
      currentObject = obj;
      currentDone = false;
      return false;
    }
    budget -= work;
    if (budget < 1) return false;
  }

  if (DestructSomeFreeObjects(a_machine, freePerStep) > 0) return false;

  finished = true;
  return true;
}

void gmGarbageCollector::FullCollect(gmMachine* a_machine) {
  fullThrottle = true;
  if (finished) StartCycle();
  while (!IncrementalStep(a_machine)) {
  }
  StartCycle();
  while (!IncrementalStep(a_machine)) {
  }
  StartCycle();
  DestructSomeFreeObjects(a_machine, INT_MAX);
  fullThrottle = false;
}

int gmGarbageCollector::DestructSomeFreeObjects(gmMachine* a_machine, int a_count) {
  int n = 0;
  while (n < a_count && !colorSet.IsFreeEmpty()) {
    DestructObject(a_machine, colorSet.m_frees);
    ++n;
  }
  return n;
}

void gmGarbageCollector::DestructAll(gmMachine* a_machine) {
  DetachRoots();
  colorSet.DestructAll(a_machine);
  currentObject = nullptr;
  currentDone = true;
  finished = true;
  rootsPending = true;
}

void gmGarbageCollector::DetachRoots() {
  while (m_roots) m_roots->Detach();
}

int gmGarbageCollector::CountRoots() const {
  int n = 0;
  for (const gmGCRoot* r = m_roots; r; r = r->GetNext()) ++n;
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
