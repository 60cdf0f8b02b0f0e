#ifndef GMUSEROBJECT_H
#define GMUSEROBJECT_H

// A script value wrapping native data. The object never owns the data: the type's destruct
// callback, if any, decides what happens to it when the wrapper is collected.

#include "script/values/gmObject.h"

class gmUserObject : public gmObject {
 public:
  gmint userType = GM_USER;
  void* user = nullptr;

  int GetType() const override { return userType; }
  void Destruct(gmMachine* a_machine) override;
  bool Trace(gmMachine* a_machine, gmGarbageCollector* a_gc, int a_workLeft, int& a_workDone) override;
};

inline gmVariable::gmVariable(gmUserObject* a_user) : type(a_user->userType) { value.ref = a_user; }
inline void gmVariable::SetUser(gmUserObject* a_user) { SetRef(a_user->userType, a_user); }
inline gmUserObject* gmVariable::GetUserObject() const { return static_cast<gmUserObject*>(value.ref); }

#endif
