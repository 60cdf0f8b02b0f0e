#ifndef GMOBJECT_H
#define GMOBJECT_H

// Base of the four heap object classes. Objects are created only by the machine's Make...
// operations, which register them with the collector; only the collector destroys them.

#include "script/gc/gmGCObjBase.h"
#include "script/values/gmVariable.h"

// Bytes each object shell adds to the machine's object count, whatever the shell's real
// size on this host: the usage figures scripts read and the collector's limits are tuned
// to these numbers.
const int GM_STRING_OBJECT_BYTES = 28;
const int GM_TABLE_OBJECT_BYTES = 32;
const int GM_FUNCTION_OBJECT_BYTES = 60;
const int GM_USER_OBJECT_BYTES = 24;

class gmObject : public gmGCObjBase {
 public:
  virtual int GetType() const = 0;
};

#endif
