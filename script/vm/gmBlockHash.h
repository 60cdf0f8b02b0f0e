#ifndef GMBLOCKHASH_H
#define GMBLOCKHASH_H

// The signal/block rendezvous of script threads: which threads wait on which values, and
// the signals queued for threads that were already signalled.
//
// A value waited on has one gmBlockList in a hash of 64 chains (each chain ordered by
// type, then payload); the list holds one gmBlock record per thread and value, in the
// order the threads blocked. Each record is also on its thread's own list, so a thread
// leaving the blocked state drops all of its records at once. A list left empty goes.
//
// Values are keys by identity (gmVariable::Same): ints and floats by their bits, strings
// by text (interned), tables and other objects by reference. Records and queued signals
// hold their values, so they are collector roots of the thread they belong to
// (MarkThread); the collector reaches them through its threadRootCallback.

#include "script/gc/gmMemChain.h"
#include "script/values/gmVariable.h"

class gmGarbageCollector;
class gmMachine;
class gmThread;
struct gmBlockList;

// One thread waiting on one value.
struct gmBlock {
  gmBlock* prev;  // in the value's list
  gmBlock* next;
  gmBlock* threadNext;  // in the thread's list of blocks
  gmBlockList* list;
  gmVariable value;
  gmThread* thread;
  bool signalled;
  int signallerId;  // the signalling thread's id, once signalled
};

// Every thread waiting on one value.
struct gmBlockList {
  gmBlockList* chainNext;
  gmVariable value;
  gmBlock* first;
  gmBlock* last;
};

// A signal that reached a thread already signalled, kept for its next block.
struct gmSignal {
  gmSignal* next;  // older signals follow
  gmVariable value;
  int signallerId;
  int destinationId;  // 0: the signal went to every waiting thread
};

class gmBlockHash {
 public:
  static const int CHAINS = 64;

  gmBlockHash();
  gmBlockHash(const gmBlockHash&) = delete;
  gmBlockHash& operator=(const gmBlockHash&) = delete;

  // The value's list of waiting threads, or null when nobody waits on it.
  gmBlockList* Find(const gmVariable& a_value) const;

  // Signal a_value to every thread blocked on it, or only to the thread with id
  // a_destinationId when that is nonzero. A thread not yet signalled becomes pending; one
  // already pending gets the signal queued. Nothing happens when nobody waits.
  void Signal(gmMachine* a_machine, const gmVariable& a_value, int a_signallerId, int a_destinationId);

  // The wait of a_thread on a_count values. When a signal for one of them is queued for
  // the thread, it is consumed (with every newer queued signal that matched nothing) and
  // the index of the first value it matches is returned. Otherwise one record per value is
  // made and -1 returned: the caller then blocks the thread.
  int Block(gmThread* a_thread, const gmVariable* a_values, int a_count);

  // Drop every block record of the thread (and the value lists left empty).
  void ReleaseBlocks(gmThread* a_thread);
  // Drop every signal queued for the thread.
  void ReleaseSignals(gmThread* a_thread);

  // Mark gray what the thread's block records and queued signals hold.
  static void MarkThread(gmGarbageCollector* a_gc, const gmThread* a_thread);
  // The collector's threadRootCallback: MarkThread for every live thread of the machine.
  static void MarkRoots(gmMachine* a_machine, gmGarbageCollector* a_gc);

  // Inspection for tests and diagnostics.
  int CountLists() const;
  static int CountBlocks(const gmThread* a_thread);
  static int CountSignals(const gmThread* a_thread);

 private:
  static int ChainOf(const gmVariable& a_value);

  gmBlockList* m_chains[CHAINS] = {};
  gmMemFixed m_blockShells;
  gmMemFixed m_listShells;
  gmMemFixed m_signalShells;
};

#endif
