#include "script/vm/gmBlockHash.h"

#include "script/gc/gmGCRoot.h"
#include "script/gc/gmGarbageCollector.h"
#include "script/vm/gmMachine.h"
#include "script/vm/gmThread.h"

namespace {

const size_t kShellsPerChunk = 64;

// Chain order: type, then payload (the reference for objects, the low 32 bits otherwise).
int Compare(const gmVariable& a_left, const gmVariable& a_right) {
  if (a_left.type != a_right.type) return a_left.type < a_right.type ? -1 : 1;
  if (a_left.IsReference()) {
    gmuptr l = reinterpret_cast<gmuptr>(a_left.GetObject());
    gmuptr r = reinterpret_cast<gmuptr>(a_right.GetObject());
    return l == r ? 0 : (l < r ? -1 : 1);
  }
  gmuint l = a_left.Payload32();
  gmuint r = a_right.Payload32();
  return l == r ? 0 : (l < r ? -1 : 1);
}

}  // namespace

gmBlockHash::gmBlockHash()
    : m_blockShells(sizeof(gmBlock), kShellsPerChunk),
      m_listShells(sizeof(gmBlockList), kShellsPerChunk),
      m_signalShells(sizeof(gmSignal), kShellsPerChunk) {}

int gmBlockHash::ChainOf(const gmVariable& a_value) { return static_cast<int>(a_value.KeyHash() & (CHAINS - 1)); }

gmBlockList* gmBlockHash::Find(const gmVariable& a_value) const {
  for (gmBlockList* list = m_chains[ChainOf(a_value)]; list; list = list->chainNext) {
    int c = Compare(list->value, a_value);
    if (c == 0) return list;
    if (c > 0) break;
  }
  return nullptr;
}

void gmBlockHash::Signal(gmMachine* a_machine, const gmVariable& a_value, int a_signallerId, int a_destinationId) {
  gmBlockList* list = Find(a_value);
  if (!list) return;
  // Signalling changes no list membership (pending threads stay in the blocked list and
  // keep their records), so the walk is safe.
  for (gmBlock* block = list->first; block; block = block->next) {
    gmThread* thread = block->thread;
    if (a_destinationId && thread->GetId() != a_destinationId) continue;
    if (thread->GetState() == gmThread::PENDING) {
      gmSignal* signal = static_cast<gmSignal*>(m_signalShells.Alloc());
      signal->value = a_value;
      signal->signallerId = a_signallerId;
      signal->destinationId = a_destinationId;
      signal->next = thread->signals;
      thread->signals = signal;
    } else {
      block->signalled = true;
      block->signallerId = a_signallerId;
      a_machine->SwitchThreadState(thread, gmThread::PENDING);
    }
    if (a_destinationId) break;
  }
}

int gmBlockHash::Block(gmThread* a_thread, const gmVariable* a_values, int a_count) {
  while (gmSignal* signal = a_thread->signals) {
    a_thread->signals = signal->next;
    int match = -1;
    for (int i = 0; i < a_count && match < 0; ++i) {
      if (a_values[i].Same(signal->value)) match = i;
    }
    m_signalShells.Free(signal);
    if (match >= 0) return match;
  }

  for (int i = 0; i < a_count; ++i) {
    const gmVariable& value = a_values[i];
    gmBlockList** link = &m_chains[ChainOf(value)];
    while (*link && Compare((*link)->value, value) < 0) link = &(*link)->chainNext;
    gmBlockList* list = *link;
    if (!list || Compare(list->value, value) != 0) {
      list = static_cast<gmBlockList*>(m_listShells.Alloc());
      list->value = value;
      list->first = list->last = nullptr;
      list->chainNext = *link;
      *link = list;
    }
    gmBlock* block = static_cast<gmBlock*>(m_blockShells.Alloc());
    block->list = list;
    block->value = value;
    block->thread = a_thread;
    block->signalled = false;
    block->signallerId = 0;
    block->next = nullptr;
    block->prev = list->last;
    if (list->last)
      list->last->next = block;
    else
      list->first = block;
    list->last = block;
    block->threadNext = a_thread->blocks;
    a_thread->blocks = block;
  }
  return -1;
}

void gmBlockHash::ReleaseBlocks(gmThread* a_thread) {
  while (gmBlock* block = a_thread->blocks) {
    a_thread->blocks = block->threadNext;
    gmBlockList* list = block->list;
    if (block->prev)
      block->prev->next = block->next;
    else
      list->first = block->next;
    if (block->next)
      block->next->prev = block->prev;
    else
      list->last = block->prev;
    m_blockShells.Free(block);
    if (!list->first) {
      for (gmBlockList** link = &m_chains[ChainOf(list->value)]; *link; link = &(*link)->chainNext) {
        if (*link == list) {
          *link = list->chainNext;
          break;
        }
      }
      m_listShells.Free(list);
    }
  }
}

void gmBlockHash::ReleaseSignals(gmThread* a_thread) {
  while (gmSignal* signal = a_thread->signals) {
    a_thread->signals = signal->next;
    m_signalShells.Free(signal);
  }
}

void gmBlockHash::MarkThread(gmGarbageCollector* a_gc, const gmThread* a_thread) {
  for (const gmBlock* block = a_thread->blocks; block; block = block->threadNext) gmMarkValue(a_gc, block->value);
  for (const gmSignal* signal = a_thread->signals; signal; signal = signal->next) gmMarkValue(a_gc, signal->value);
}

void gmBlockHash::MarkRoots(gmMachine* a_machine, gmGarbageCollector* a_gc) {
  // A pending thread sits in the blocked list; killed threads hold nothing.
  for (int state : {gmThread::RUNNING, gmThread::BLOCKED, gmThread::SLEEPING, gmThread::EXCEPTION}) {
    for (const gmThread* thread = a_machine->GetFirstThread(state); thread; thread = thread->GetNextInList())
      MarkThread(a_gc, thread);
  }
}

int gmBlockHash::CountLists() const {
  int count = 0;
  for (const gmBlockList* chain : m_chains)
    for (const gmBlockList* list = chain; list; list = list->chainNext) ++count;
  return count;
}

int gmBlockHash::CountBlocks(const gmThread* a_thread) {
  int count = 0;
  for (const gmBlock* block = a_thread->blocks; block; block = block->threadNext) ++count;
  return count;
}

int gmBlockHash::CountSignals(const gmThread* a_thread) {
  int count = 0;
  for (const gmSignal* signal = a_thread->signals; signal; signal = signal->next) ++count;
  return count;
}
