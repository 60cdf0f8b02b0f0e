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

#include "script/gc/gmGCObjBase.h"

class gmGCColorSet {
 public:
  gmGCColorSet();
  gmGCColorSet(const gmGCColorSet&) = delete;
  gmGCColorSet& operator=(const gmGCColorSet&) = delete;

  // Append at the end of black.
  void InsertBlack(gmGCObjBase* a_obj) { InsertBefore(m_frees, a_obj); if (m_blacks == m_frees) m_blacks = a_obj; }
  // Append at the end of gray.
  void InsertGray(gmGCObjBase* a_obj) { InsertBefore(m_blacks, a_obj); }
  void InsertPersistent(gmGCObjBase* a_obj);
  // Take the object out of whichever colour sequence holds it, keeping the boundaries right.
  void Unlink(gmGCObjBase* a_obj);
  void UnlinkPersistent(gmGCObjBase* a_obj);

  bool IsGrayEmpty() const { return m_head.next == m_blacks; }
  bool IsFreeEmpty() const { return m_frees == &m_separator; }

  // Destroy every object, coloured and persistent, and leave the set empty.
  void DestructAll(gmMachine* a_machine);

  // Counts for tests and statistics (walk the lists).
  int CountObjects() const;
  int CountPersistent() const;

 private:
  friend class gmGarbageCollector;
  static void InsertBefore(gmGCObjBase* a_at, gmGCObjBase* a_obj) {
    a_obj->next = a_at;
    a_obj->prev = a_at->prev;
    a_at->prev->next = a_obj;
    a_at->prev = a_obj;
  }

  gmGCObjBase m_head;        // sentinel before gray
  gmGCObjBase m_separator;   // fixed separator between free and white
  gmGCObjBase* m_blacks;
  gmGCObjBase* m_frees;
  gmGCObjBase m_persistent;  // sentinel of the circular persistent list
};

class gmGarbageCollector {
 public:
  gmGarbageCollector() = default;
  gmGarbageCollector(const gmGarbageCollector&) = delete;
  gmGarbageCollector& operator=(const gmGarbageCollector&) = delete;

  // Collector state; the cycle machinery drives these.
  uint8_t currentColor = 0;
  int workPerStep = 200;
  int freePerStep = 200;
  bool finished = true;      // no cycle in progress
  bool rootsPending = true;  // the next step of a cycle marks the roots
  bool fullThrottle = false;
  gmGCObjBase* currentObject = nullptr;
  bool currentDone = true;

  bool IsOff() const { return finished; }
  bool IsMarked(const gmGCObjBase* a_obj) const { return a_obj->color == currentColor; }

  // Every creation: black with the current colour, not persistent.
  void MarkNew(gmGCObjBase* a_obj) {
    a_obj->color = currentColor;
    a_obj->persist = 0;
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
    if (!a_obj->persist && !IsMarked(a_obj)) MarkGray(a_obj);
  }
  void MarkGray(gmGCObjBase* a_obj) {
    colorSet.Unlink(a_obj);
    a_obj->color = currentColor;
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
  void DestructAll(gmMachine* a_machine) { colorSet.DestructAll(a_machine); }

  gmGCColorSet colorSet;

 private:
  void ReviveMove(gmGCObjBase* a_obj);
};

#endif
