#ifndef GMUSEROBJECT_H
#define GMUSEROBJECT_H

// A script value wrapping native data. The object never owns the data: the type's destruct
// callback, if any, decides what happens to it when the wrapper is collected.
//
// Wrappers of one native can be linked into a list the native heads (the binding's
// gmWrappable), so that a native which dies can cut every wrapper scripts still hold. A
// wrapper collected first leaves that list on its way out; the list never holds a freed
// wrapper, and a cut wrapper (user null) is in no list.

#include "script/values/gmObject.h"

class gmUserObject : public gmObject {
 public:
  gmint userType = GM_USER;
  void* user = nullptr;
  gmUserObject* nextWrapper = nullptr;
  // The link that points at this wrapper (the list head or the previous wrapper's
  // nextWrapper); null when the wrapper is in no list.
  gmUserObject** prevWrapper = nullptr;

  // Inserts the wrapper at the front of the list whose head is *a_head.
  void LinkWrapper(gmUserObject** a_head) {
    nextWrapper = *a_head;
    if (nextWrapper) nextWrapper->prevWrapper = &nextWrapper;
    prevWrapper = a_head;
    *a_head = this;
  }
  void UnlinkWrapper() {
    if (!prevWrapper) return;
    *prevWrapper = nextWrapper;
    if (nextWrapper) nextWrapper->prevWrapper = prevWrapper;
    nextWrapper = nullptr;
    prevWrapper = nullptr;
  }

  int GetType() const override { return userType; }
  void Destruct(gmMachine* a_machine) override;
  bool Trace(gmMachine* a_machine, gmGarbageCollector* a_gc, int a_workLeft, int& a_workDone) override;
};

inline gmVariable::gmVariable(gmUserObject* a_user) : type(a_user->userType) { value.ref = a_user; }
inline void gmVariable::SetUser(gmUserObject* a_user) { SetRef(a_user->userType, a_user); }
inline gmUserObject* gmVariable::GetUserObject() const { return static_cast<gmUserObject*>(value.ref); }

#endif
