#ifndef GMSTRINGOBJECT_H
#define GMSTRINGOBJECT_H

// An interned, immutable string. The machine never holds two string objects with the same
// text, so two string values are equal exactly when their references are equal.

#include <cstdint>

#include "script/values/gmObject.h"

class gmStringObject : public gmObject {
 public:
  // Hash of the text, the one that picked the chain, so destruction finds its chain without
  // reading the text again.
  gmuint hash = 0;
  gmint length = 0;
  // NUL-terminated copy owned by the object, from the machine's size-class storage.
  char* text = nullptr;

  int GetType() const override { return GM_STRING; }
  void Destruct(gmMachine* a_machine) override;

  const char* GetString() const { return text; }
  gmint GetLength() const { return length; }
  operator const char*() const { return text; }
};

inline gmVariable::gmVariable(gmStringObject* a_string) : type(GM_STRING) { value.ref = a_string; }
inline void gmVariable::SetString(gmStringObject* a_string) { SetRef(GM_STRING, a_string); }
inline gmStringObject* gmVariable::GetStringObject() const { return static_cast<gmStringObject*>(value.ref); }

#endif
