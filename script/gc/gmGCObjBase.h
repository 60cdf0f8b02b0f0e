#ifndef GMGCOBJBASE_H
#define GMGCOBJBASE_H

// What the collector needs of every collectable object: the two links of the colour set's
// intrusive list, the colour bit and the persistent flag. The links are the only list
// membership an object has, so moving it between gray, black, free and white never
// allocates.

#include <cstdint>

class gmMachine;
class gmGarbageCollector;

class gmGCObjBase {
 public:
  gmGCObjBase* prev = nullptr;
  gmGCObjBase* next = nullptr;
  // Marked in the current cycle exactly when it equals the collector's current colour.
  uint8_t color = 0;
  // Never collected and skipped by marking; such objects live on the persistent list.
  uint8_t persist = 0;
  // Which trace marked the object last (the collector's stamp at that time): a full
  // collection's first trace tells objects it reached itself from objects already marked
  // before it began. Fits the padding after the two flags.
  uint16_t stamp = 0;

  virtual ~gmGCObjBase() {}

  // Release the object's own buffers and give its storage back to the machine. The object
  // must already be out of the collector's lists (or the lists be going away with it).
  virtual void Destruct(gmMachine* a_machine);

  // Mark gray every object this one refers to that is neither marked nor persistent; adds
  // the work done to a_workDone. Returns true when the trace is complete (every trace here
  // completes in one call).
  virtual bool Trace(gmMachine* a_machine, gmGarbageCollector* a_gc, int a_workLeft, int& a_workDone);
};

#endif
