#ifndef GMWRAPPABLE_H
#define GMWRAPPABLE_H

// Base of every native that can die while scripts still hold wrappers of it: scenes'
// objects, components and their parts (cameras, records, sources, cloths). The proxies link
// each wrapper they make of such a native into the list headed here, whether a constructor
// or a method returned it, so one native may have many wrappers. Cutting sets every one of
// them to no native: a call through a cut wrapper calls nothing and returns null, as a call
// on an absent native does.
//
// The base destructor cuts, but it runs after the derived destructor has already freed the
// native's parts: a class whose destructor does work that could reach script (or hands its
// parts to others) calls CutWrappers first thing in its own destructor.
//
// The wrappers belong to the machine's collector; one collected first unlinks itself
// (gmUserObject::Destruct), so the list never names a freed wrapper, and a machine torn
// down before the native leaves the list empty.
//
// A native that a constructor proxy made also carries its charge: the bytes added to the
// machine's memory usage (which paces the collector) for it, given back when it dies,
// whoever destroys it. Charged natives are linked into their machine, which forgets their
// charges when it is destroyed first.

#include "script/values/gmUserObject.h"

class gmMachineEx;

class gmWrappable {
 public:
  gmWrappable() { ++s_live; }
  // A copy is another native, and assigning keeps each side its own wrappers (to itself: a no-op).
  gmWrappable(const gmWrappable&) { ++s_live; }
  gmWrappable& operator=(const gmWrappable&) { return *this; }  // NOLINT(bugprone-unhandled-self-assignment)
  ~gmWrappable() {
    CutWrappers();
    if (m_chargedTo) Uncharge();
    --s_live;
  }

  // Natives of this kind alive in the process: what a game's teardown must bring back to
  // the few the process keeps (the Wiimote object).
  static long Live() { return s_live; }

  void AddWrapper(gmUserObject* a_user) {
    if (a_user) a_user->LinkWrapper(&m_wrappers);
  }

  void CutWrappers() {
    while (gmUserObject* user = m_wrappers) {
      user->UnlinkWrapper();
      user->user = nullptr;
    }
  }

  // Adds a_bytes to a_machine's memory usage until this native dies.
  void Charge(gmMachineEx* a_machine, int a_bytes);

 private:
  friend class gmMachineEx;
  void Uncharge();

  gmUserObject* m_wrappers = nullptr;
  gmMachineEx* m_chargedTo = nullptr;
  gmWrappable* m_chargePrev = nullptr;
  gmWrappable* m_chargeNext = nullptr;
  int m_chargedBytes = 0;
  // Natives live on the main thread only.
  static inline long s_live = 0;
};

#endif
