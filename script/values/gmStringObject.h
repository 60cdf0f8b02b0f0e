#ifndef GMSTRINGOBJECT_H
#define GMSTRINGOBJECT_H

// An interned, immutable string. The machine never holds two string objects with the same
// text, so two string values are equal exactly when their references are equal.

#include <cstdint>

#include "script/values/gmObject.h"

class gmStringObject : public gmObject {
 public:
  // Next string of the same interning chain; chains ascend in byte order of the texts.
  gmStringObject* chainNext = nullptr;
  // Hash of the text, the one that picked the chain (chains are ordered by text, so a probe
  // still needs the order; the hash spares rehashing the text wherever it is wanted again).
  gmuint hash = 0;
  gmint length = 0;
  // The first eight bytes of the text as a big-endian number, zero past the NUL: comparing
  // two heads orders two texts exactly as a byte-wise comparison would whenever they differ,
  // so most probes settle without reading the text, which lives elsewhere in memory.
  uint64_t head = 0;
  // NUL-terminated copy owned by the object, from the machine's size-class storage.
  char* text = nullptr;
  // The link that points at this string (the chain's slot or the previous string's
  // chainNext), so that destruction unlinks without walking the chain; null once the
  // machine has dropped its chains.
  gmStringObject** chainPrev = nullptr;

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
