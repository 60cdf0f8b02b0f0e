#include "script/gc/gmGarbageCollector.h"

#include <climits>

#include "script/gc/gmGCRoot.h"
#include "script/values/gmObject.h"
#include "script/vm/gmBlockHash.h"
#include "script/vm/gmMachine.h"

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

  for (;;) {
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
    if (!m_rootWalk) break;
    EndRootWalk();
  }

  if (DestructSomeFreeObjects(a_machine, freePerStep) > 0) return false;

  finished = true;
  return true;
}

void gmGarbageCollector::FullCollect(gmMachine* a_machine) {
  fullThrottle = true;
  if (finished) StartCycle();
  // The machine callback runs at every root marking and a destruct callback between the
  // traces: either could change what the second trace reaches.
  bool oneTrace = fullInOneTrace && rootsPending && currentDone && rootCallback == gmMarkMachineRoots &&
                  (!threadRootCallback || threadRootCallback == gmBlockHash::MarkRoots) &&
                  !gmMachine::s_machineCallback && FreeRunsNoNativeCode(a_machine);
  nativeTraced = false;
  if (oneTrace) BeginRootWalk();
  while (!IncrementalStep(a_machine)) {}
  if (oneTrace && !nativeTraced) {
    FinishFromOneTrace(a_machine);
  } else {
    StartCycle();
    while (!IncrementalStep(a_machine)) {}
    StartCycle();
    DestructSomeFreeObjects(a_machine, INT_MAX);
  }
  fullThrottle = false;
}

bool gmGarbageCollector::FreeRunsNoNativeCode(gmMachine* a_machine) const {
  for (gmGCObjBase* obj = colorSet.m_frees; obj != &colorSet.m_separator; obj = obj->next) {
    int type = static_cast<gmObject*>(obj)->GetType();
    if (type >= GM_USER && a_machine->IsValidType(type) && a_machine->GetTypeEntry(type).destruct) return false;
  }
  return true;
}

void gmGarbageCollector::BeginRootWalk() {
  // Whatever is gray now waits below the walk; the marker in front of black will divide
  // what the walk blackens (prepended before it) from what was black before.
  ++m_stamp;
  m_heldGray.next = m_heldGray.prev = &m_heldGray;
  if (!colorSet.IsGrayEmpty()) {
    gmGCObjBase* first = colorSet.m_head.next;
    gmGCObjBase* last = colorSet.m_blacks->prev;
    colorSet.m_head.next = colorSet.m_blacks;
    colorSet.m_blacks->prev = &colorSet.m_head;
    m_heldGray.next = first;
    first->prev = &m_heldGray;
    m_heldGray.prev = last;
    last->next = &m_heldGray;
  }
  gmGCColorSet::InsertBefore(colorSet.m_blacks, &m_walkEnd);
  colorSet.m_blacks = &m_walkEnd;
  m_reachedFirst = m_reachedLast = nullptr;
  m_rootWalk = true;
}

void gmGarbageCollector::EndRootWalk() {
  m_rootWalk = false;
  if (colorSet.m_blacks != &m_walkEnd) {
    m_reachedFirst = colorSet.m_blacks;
    m_reachedLast = m_walkEnd.prev;
  }
  colorSet.Unlink(&m_walkEnd);
  // Gray is empty: what waited goes back as it was, and the first trace goes on with it.
  if (m_heldGray.next != &m_heldGray) {
    gmGCObjBase* first = m_heldGray.next;
    gmGCObjBase* last = m_heldGray.prev;
    first->prev = &colorSet.m_head;
    colorSet.m_head.next = first;
    last->next = colorSet.m_blacks;
    colorSet.m_blacks->prev = last;
  }
  m_heldGray.next = m_heldGray.prev = &m_heldGray;
}

void gmGarbageCollector::TakeBackMarked(gmGCObjBase* a_obj) {
  // Marked before the walk began (waiting gray, or black since its creation or revival):
  // a trace with nothing marked would gray it here.
  colorSet.Unlink(a_obj);
  a_obj->stamp = m_stamp;
  colorSet.InsertGray(a_obj);
}

void gmGarbageCollector::FinishFromOneTrace(gmMachine* a_machine) {
  // The first cycle is complete: black holds, front to back, what its trace blackened after
  // the walk from the roots, the walk's own objects R (exactly what a second trace would
  // reach, in the order it would leave them), and what was black before; white holds what
  // it did not reach. The second cycle would turn that white into free, trace R into black
  // and sweep free; its end would free everything else. Build the state after its trace,
  // without tracing: black R, free the old white, white the rest of the old black.
  ++oneTraceCollections;
  gmGCColorSet& set = colorSet;
  typedef gmGCObjBase* Obj;
  Obj blackFirst = set.m_head.next != set.m_frees ? set.m_head.next : nullptr;
  Obj blackLast = blackFirst ? set.m_frees->prev : nullptr;
  Obj whiteFirst = set.m_separator.next != &set.m_head ? set.m_separator.next : nullptr;
  Obj whiteLast = whiteFirst ? set.m_head.prev : nullptr;
  // The rest of black, before and after R.
  Obj beforeFirst = blackFirst, beforeLast = blackLast, afterFirst = nullptr, afterLast = nullptr;
  if (m_reachedFirst) {
    beforeFirst = m_reachedFirst != blackFirst ? blackFirst : nullptr;
    beforeLast = beforeFirst ? m_reachedFirst->prev : nullptr;
    afterFirst = m_reachedLast != blackLast ? m_reachedLast->next : nullptr;
    afterLast = afterFirst ? blackLast : nullptr;
  }

  Obj at = &set.m_head;
  auto append = [&at](Obj a_first, Obj a_last) {
    if (!a_first) return;
    at->next = a_first;
    a_first->prev = at;
    at = a_last;
  };
  append(m_reachedFirst, m_reachedLast);
  append(whiteFirst, whiteLast);
  append(&set.m_separator, &set.m_separator);
  append(beforeFirst, beforeLast);
  append(afterFirst, afterLast);
  at->next = &set.m_head;
  set.m_head.prev = at;
  set.m_frees = whiteFirst ? whiteFirst : &set.m_separator;
  set.m_blacks = m_reachedFirst ? m_reachedFirst : set.m_frees;

  // R keeps the first cycle's colour, which stays current: marked, as the second trace would
  // have left it. Free and the new white carry the wrong colours for the second cycle (free
  // should look marked, white not); only a destruct callback could look, so they are put
  // right just before one runs.
  finished = false;
  rootsPending = false;
  m_recolour = RECOLOUR_FREE_AND_WHITE;
  while (!IncrementalStep(a_machine)) {}
  // The second cycle's end: its white becomes free, R becomes white (unmarked once the
  // colour turns), and everything in free goes.
  StartCycle();
  if (m_recolour == RECOLOUR_FREE_AND_WHITE) m_recolour = RECOLOUR_FREE;
  DestructSomeFreeObjects(a_machine, INT_MAX);
  m_recolour = RECOLOUR_NONE;
}

void gmGarbageCollector::Recolour() {
  gmGCColorSet& set = colorSet;
  const uint8_t unmarked = currentColor ^ 1;
  for (gmGCObjBase* obj = set.m_frees; obj != &set.m_separator; obj = obj->next) obj->color = currentColor;
  if (m_recolour == RECOLOUR_FREE_AND_WHITE) {
    for (gmGCObjBase* obj = set.m_separator.next; obj != &set.m_head; obj = obj->next) obj->color = unmarked;
  }
  m_recolour = RECOLOUR_NONE;
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
  a_obj->stamp = m_stamp;
  colorSet.InsertBlack(a_obj);
}
