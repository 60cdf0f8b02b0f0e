#ifndef GMGARBAGECOLLECTOR_H
#define GMGARBAGECOLLECTOR_H

// Object bookkeeping of the incremental tri-colour collector.
//
// gmGCColorSet keeps every non-persistent object in one circular doubly linked list:
//
//   head, gray..., black..., free..., separator, white..., (back to head)
//
// with two movable boundaries, blacks (first black, or the first free / separator when the
// sequences before it are empty) and frees (first free, or the separator). Persistent
// objects live on their own list and are never traced or destroyed before the machine.
// Moving an object between sequences is an unlink and a relink: nothing allocates.
//
// An object is marked when its colour equals the collector's current colour. New objects
// are created black with the current colour, so a cycle in progress never frees them.
//
// A cycle (StartCycle) turns the white sequence of the previous cycle into free (those
// objects were not reached by it) and the previous black into white, and toggles the
// colour. Its steps first mark the roots gray, then trace gray objects into black, then
// destroy what waits in free: garbage is found by one cycle and destroyed by the next.
// Because of that lag, the colour of an object in free equals the new current colour, so
// "marked" alone does not tell free from black; Revive is the one place that matters.
//
// Correctness between steps rests on a snapshot taken when the roots are marked: every
// object reachable then, or created since, survives the cycle, provided every reference
// removed from a heap object in between goes through WriteBarrier (tables do this in Set;
// a user type whose native data holds references must do it too). Stack slots need no
// barrier: they were part of the snapshot, and a value can only reach a stack from the
// snapshot or from a new object. Objects created after a cycle started but before its roots
// are marked (a full collection leaves the next cycle in that state) are created gray, not
// black: a local moved into one of them and then dropped from the stack is part of no
// snapshot yet, and only a trace of the new object can find it.
//
// A full collection finishes the cycle in progress, then runs a second one whose trace
// starts from the roots with nothing marked, and destroys what neither reached. When the
// first of these also starts at the roots and no native code can run between the two
// traces (no machine callback, no destruct callback in what the first cycle sweeps, no
// trace callback), the second trace would reach the same objects in the same order as the
// first one's walk from the roots: FullCollect then traces once and builds the sequences the
// second trace would have left (see FinishFromOneTrace). Objects already marked before the
// first trace began (barrier grays, creations and revivals since the cycle started) are
// taken back onto the gray stack the moment that walk reaches them, so the walk visits them
// where a trace with nothing marked would.

#include "script/gc/gmGCObjBase.h"

class gmGCRoot;

// Marks a set of roots gray (through gmGarbageCollector::GetNextObject).
typedef void (*gmGCRootCallback)(gmMachine* a_machine, gmGarbageCollector* a_gc);

// The machine's root marking (script/gc/gmMachineCollect.cpp), every collector's default.
void gmMarkMachineRoots(gmMachine* a_machine, gmGarbageCollector* a_gc);

class gmGCColorSet {
 public:
  gmGCColorSet();
  gmGCColorSet(const gmGCColorSet&) = delete;
  gmGCColorSet& operator=(const gmGCColorSet&) = delete;

  // Append at the end of black.
  void InsertBlack(gmGCObjBase* a_obj) {
    InsertBefore(m_frees, a_obj);
    if (m_blacks == m_frees) m_blacks = a_obj;
  }
  // Append at the end of gray.
  void InsertGray(gmGCObjBase* a_obj) { InsertBefore(m_blacks, a_obj); }
  void InsertPersistent(gmGCObjBase* a_obj);
  // Take the object out of whichever colour sequence holds it, keeping the boundaries right.
  // Inline: marking does this once per object reached.
  void Unlink(gmGCObjBase* a_obj) {
    if (a_obj == m_frees) m_frees = a_obj->next;
    if (a_obj == m_blacks) m_blacks = a_obj->next;
    a_obj->prev->next = a_obj->next;
    a_obj->next->prev = a_obj->prev;
    a_obj->prev = a_obj->next = nullptr;
  }
  void UnlinkPersistent(gmGCObjBase* a_obj);

  bool IsGrayEmpty() const { return m_head.next == m_blacks; }
  bool IsFreeEmpty() const { return m_frees == &m_separator; }

  // Destroy every object, coloured and persistent, and leave the set empty.
  void DestructAll(gmMachine* a_machine);

  // Counts for tests and statistics (walk the lists).
  int CountObjects() const;
  int CountPersistent() const;

  // Inspection for tests and diagnostics; each walks the lists.
  enum Sequence { SEQ_NONE, SEQ_GRAY, SEQ_BLACK, SEQ_FREE, SEQ_WHITE, SEQ_PERSISTENT };
  Sequence Where(const gmGCObjBase* a_obj) const;
  int CountIn(Sequence a_sequence) const;
  // Calls a_visit(object) for every non-persistent object, gray to white.
  template <class F>
  void ForEachObject(F a_visit) const {
    for (gmGCObjBase* obj = m_head.next; obj != &m_head; obj = obj->next)
      if (obj != &m_separator) a_visit(obj);
  }

 private:
  friend class gmGarbageCollector;
  static void InsertBefore(gmGCObjBase* a_at, gmGCObjBase* a_obj) {
    a_obj->next = a_at;
    a_obj->prev = a_at->prev;
    a_at->prev->next = a_obj;
    a_at->prev = a_obj;
  }

  // Old white joins free, old gray and black become white.
  void Rotate();

  gmGCObjBase m_head;       // sentinel before gray
  gmGCObjBase m_separator;  // fixed separator between free and white
  gmGCObjBase* m_blacks;
  gmGCObjBase* m_frees;
  gmGCObjBase m_persistent;  // sentinel of the circular persistent list
};

class gmGarbageCollector {
 public:
  gmGarbageCollector();
  ~gmGarbageCollector();
  gmGarbageCollector(const gmGarbageCollector&) = delete;
  gmGarbageCollector& operator=(const gmGarbageCollector&) = delete;

  // Collector state; the cycle machinery drives these.
  uint8_t currentColor = 0;
  int workPerStep = 200;
  int freePerStep = 200;
  bool finished = true;      // no cycle in progress
  bool rootsPending = true;  // the next step of a cycle marks the roots
  bool fullThrottle = false;
  // An object whose trace reported more to do; the next step resumes it first.
  gmGCObjBase* currentObject = nullptr;
  bool currentDone = true;
  // Where currentObject's trace goes on, for traces that keep a position (large tables).
  int traceCursor = 0;

  // Set while the machine's Collect runs: a collection asked for from inside one (a type's
  // destruct callback or the machine callback running a script) is refused, not nested.
  bool collecting = false;

  // Called by the step that marks the roots.
  gmGCRootCallback rootCallback = gmMarkMachineRoots;
  // Further roots of the thread machinery that live outside thread stacks (queued signals,
  // block records of live threads); gmMarkMachineRoots calls it after the stacks.
  gmGCRootCallback threadRootCallback = nullptr;

  // ---- Cycles ---------------------------------------------------------------------------
  // Begin a cycle (nothing happens while one is in progress). The next step marks the roots.
  void StartCycle();
  // One bounded step: the roots, or tracing of up to workPerStep units (unbounded at full
  // throttle), or destroying up to freePerStep objects from free. True when the cycle has
  // completed (and finished is set).
  bool IncrementalStep(gmMachine* a_machine);
  // Finish any cycle, run one more, start another and destroy everything the last one found
  // unreachable; the second cycle's trace is often left out (see the top of this file).
  // Afterwards a new cycle is in progress with its roots pending.
  void FullCollect(gmMachine* a_machine);
  // Destroy up to a_count objects from free; returns how many went.
  int DestructSomeFreeObjects(gmMachine* a_machine, int a_count);

  bool IsOff() const { return finished; }
  bool IsMarked(const gmGCObjBase* a_obj) const { return a_obj->color == currentColor; }

  // Every creation: black with the current colour, not persistent; gray while a cycle waits
  // for its roots (see the top of this file).
  void MarkNew(gmGCObjBase* a_obj) {
    a_obj->color = currentColor;
    a_obj->persist = 0;
    a_obj->stamp = m_stamp;
    if (rootsPending && !finished)
      colorSet.InsertGray(a_obj);
    else
      colorSet.InsertBlack(a_obj);
  }
  // Flag the object and move it to the persistent list.
  void MakePersistent(gmGCObjBase* a_obj);
  // An interned string handed out again: current colour, moved to the end of black (out of
  // free if it was waiting there). A marked object is already gray or black unless free
  // holds objects, and a string has nothing to trace, so that case needs no move: interning
  // hits then touch no list neighbours.
  void Revive(gmGCObjBase* a_obj) {
    if (a_obj->persist || (IsMarked(a_obj) && colorSet.IsFreeEmpty())) return;
    ReviveMove(a_obj);
  }
  // A reference overwritten or removed during a cycle stays alive until the next one.
  void WriteBarrier(gmGCObjBase* a_obj) {
    if (!finished && !a_obj->persist && !IsMarked(a_obj)) MarkGray(a_obj);
  }
  // Tracing: an unmarked, non-persistent child becomes gray.
  void GetNextObject(gmGCObjBase* a_obj) {
    if (a_obj->persist) return;
    if (!IsMarked(a_obj))
      MarkGray(a_obj);
    else if (m_rootWalk && a_obj->stamp != m_stamp)
      TakeBackMarked(a_obj);
  }
  void MarkGray(gmGCObjBase* a_obj) {
    colorSet.Unlink(a_obj);
    a_obj->color = currentColor;
    a_obj->stamp = m_stamp;
    colorSet.InsertGray(a_obj);
  }

  // Take an object out of its sequence and destroy it (the sweep's unit of work).
  void DestructObject(gmMachine* a_machine, gmGCObjBase* a_obj) {
    if (a_obj->persist)
      colorSet.UnlinkPersistent(a_obj);
    else
      colorSet.Unlink(a_obj);
    a_obj->Destruct(a_machine);
  }
  // Destroy every object, whatever its colour, and empty every keep-alive root.
  void DestructAll(gmMachine* a_machine);

  // Full collections trace once when that cannot be told from tracing twice (see the top
  // of this file). Tests switch it off to compare the two.
  bool fullInOneTrace = true;
  // Set whenever a user type's trace callback runs: such a collection traces twice.
  bool nativeTraced = false;
  // Full collections that traced once.
  int oneTraceCollections = 0;
  // Called before a destruct callback runs: while a one-trace full collection destroys its
  // garbage, the objects it destroys carry colours no native code may see, and they are put
  // right first.
  void BeforeNativeDestruct() {
    if (m_recolour != RECOLOUR_NONE) Recolour();
  }

  gmGCColorSet colorSet;

  // ---- Keep-alive roots (gmGCRoot) --------------------------------------------------------
  // First root handle registered with this collector, or null; follow gmGCRoot::GetNext.
  gmGCRoot* GetFirstRoot() const { return m_roots; }
  int CountRoots() const;

 private:
  friend class gmGCRoot;
  void ReviveMove(gmGCObjBase* a_obj);
  void DetachRoots();

  // ---- One-trace full collections ----
  // True when nothing in free runs a destruct callback when destroyed.
  bool FreeRunsNoNativeCode(gmMachine* a_machine) const;
  void BeginRootWalk();
  void EndRootWalk();
  void TakeBackMarked(gmGCObjBase* a_obj);
  void FinishFromOneTrace(gmMachine* a_machine);
  void Recolour();

  uint16_t m_stamp = 0;
  // The first trace of a full collection is walking from the roots; what was gray before it
  // began waits in m_heldGray, and m_walkEnd sits in black just after what the walk blackens.
  bool m_rootWalk = false;
  gmGCObjBase m_heldGray;
  gmGCObjBase m_walkEnd;
  // What the walk from the roots blackened, in black order (null when nothing).
  gmGCObjBase* m_reachedFirst = nullptr;
  gmGCObjBase* m_reachedLast = nullptr;
  // Which sequences carry colours to put right before native code runs.
  enum { RECOLOUR_NONE, RECOLOUR_FREE_AND_WHITE, RECOLOUR_FREE } m_recolour = RECOLOUR_NONE;
  // Every live handle; intrusive, so rooting never allocates.
  gmGCRoot* m_roots = nullptr;
};

#endif
