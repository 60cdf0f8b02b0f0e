// The machine's threads and running code: thread creation, ids, the state lists and the
// free list, the run-text operation, registered sources and the process-wide callbacks.
//
// Invariants: every live thread is in exactly one state list and in the id chain of its id;
// a killed thread is in neither, has id 0, an empty stack and no frames, and sits on the
// free list (at most MAX_FREE_THREADS of them) or has been destroyed.

#include <cstdio>
#include <cstring>

#include "script/compiler/gmCodeGen.h"
#include "script/compiler/gmCodeTree.h"
#include "script/vm/gmHooks.h"
#include "script/vm/gmMachine.h"

namespace {

void DefaultPrint(gmMachine*, const char* a_text) {
  std::fputs(a_text, stdout);
  std::fputs("\r\n", stdout);
}

gmuint Crc32(const char* a_text) {
  static gmuint table[256];
  static bool ready = false;
  if (!ready) {
    for (gmuint i = 0; i < 256; ++i) {
      gmuint c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
    ready = true;
  }
  gmuint crc = 0xFFFFFFFFu;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(a_text); *p; ++p)
    crc = table[(crc ^ *p) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

}  // namespace

gmPrintCallback gmMachine::s_printCallback = DefaultPrint;
gmMachineCallback gmMachine::s_machineCallback = nullptr;

// ---- Thread lists -----------------------------------------------------------------------

// Links the thread in after `a_after`, or at the front when `a_after` is null.
void gmMachine::ListInsertAfter(ThreadList& a_list, gmThread* a_after, gmThread* a_thread) {
  gmThread* next = a_after ? a_after->m_next : a_list.first;
  a_thread->m_prev = a_after;
  a_thread->m_next = next;
  if (a_after)
    a_after->m_next = a_thread;
  else
    a_list.first = a_thread;
  if (next)
    next->m_prev = a_thread;
  else
    a_list.last = a_thread;
}

void gmMachine::ListRemove(ThreadList& a_list, gmThread* a_thread) {
  if (a_thread->m_prev)
    a_thread->m_prev->m_next = a_thread->m_next;
  else
    a_list.first = a_thread->m_next;
  if (a_thread->m_next)
    a_thread->m_next->m_prev = a_thread->m_prev;
  else
    a_list.last = a_thread->m_prev;
  a_thread->m_prev = a_thread->m_next = nullptr;
}

void gmMachine::IdInsert(gmThread* a_thread) {
  gmThread** link = &m_threadIds[a_thread->m_id & (THREAD_ID_CHAINS - 1)];
  while (*link && (*link)->m_id < a_thread->m_id) link = &(*link)->m_idNext;
  a_thread->m_idNext = *link;
  *link = a_thread;
}

void gmMachine::IdRemove(gmThread* a_thread) {
  for (gmThread** link = &m_threadIds[a_thread->m_id & (THREAD_ID_CHAINS - 1)]; *link; link = &(*link)->m_idNext) {
    if (*link == a_thread) {
      *link = a_thread->m_idNext;
      break;
    }
  }
  a_thread->m_idNext = nullptr;
}

gmThread* gmMachine::FindThread(int a_id) const {
  if (a_id <= 0) return nullptr;
  for (gmThread* t = m_threadIds[a_id & (THREAD_ID_CHAINS - 1)]; t; t = t->m_idNext) {
    if (t->m_id == a_id) return t;
    if (t->m_id > a_id) break;
  }
  return nullptr;
}

gmThread* gmMachine::GetFirstThread(int a_state) const {
  if (a_state < gmThread::RUNNING || a_state > gmThread::EXCEPTION || a_state == gmThread::KILLED) return nullptr;
  return m_lists[a_state].first;
}

gmThread* gmMachine::NewThread(int* a_outId) {
  gmThread* thread;
  ThreadList& free = m_lists[gmThread::KILLED];
  if (free.first) {
    thread = free.first;
    ListRemove(free, thread);
    --m_numFreeThreads;
  } else {
    thread = new gmThread(this);
  }
  // The next id not held by a live thread; ids stay positive.
  do {
    m_lastThreadId = m_lastThreadId >= 0x7FFFFFFF ? 1 : m_lastThreadId + 1;
  } while (FindThread(m_lastThreadId));
  thread->m_id = m_lastThreadId;
  thread->m_state = gmThread::RUNNING;
  thread->m_killPending = false;
  thread->startTime = m_time;
  IdInsert(thread);
  ListAppend(m_lists[gmThread::RUNNING], thread);
  if (a_outId) *a_outId = thread->m_id;
  return thread;
}

gmThread* gmMachine::NewThreadCalling(const gmVariable& a_this, gmFunctionObject* a_function, int* a_outId) {
  gmThread* thread = NewThread(a_outId);
  thread->PushValue(a_this);
  if (a_function)
    thread->PushFunction(a_function);
  else
    thread->PushNull();
  int result = thread->PushCall(0);
  if (result == gmThread::CALL_OK) return thread;
  // A call that finished or failed at once leaves nothing to run: the thread would sit in
  // the running list for ever.
  if (result == gmThread::KILLED || result == gmThread::CALL_FAILED) SwitchThreadState(thread, gmThread::KILLED);
  return nullptr;
}

void gmMachine::SwitchThreadState(gmThread* a_thread, int a_state) {
  const int from = a_thread->m_state;
  if (from == a_state) return;
  if (from == gmThread::KILLED) return;  // ended threads come back only through NewThread

  if (a_state == gmThread::KILLED && a_thread->m_executing > 0) {
    // Its interpreter is further up the C++ stack and still uses the stack and the object;
    // it completes the kill when control returns to it.
    a_thread->m_killPending = true;
    return;
  }

  // Blocked and pending differ only in the state number: the thread keeps its place.
  if ((from == gmThread::BLOCKED && a_state == gmThread::PENDING) ||
      (from == gmThread::PENDING && a_state == gmThread::BLOCKED)) {
    a_thread->m_state = a_state;
    return;
  }

  // What the old state held is dropped on leaving it: signals queued for a running thread
  // were for its next block, the records of a blocked one for the wait it leaves.
  if (from == gmThread::RUNNING)
    m_blocks.ReleaseSignals(a_thread);
  else if (from == gmThread::BLOCKED || from == gmThread::PENDING)
    m_blocks.ReleaseBlocks(a_thread);

  // A pending thread lives in the blocked list.
  const int fromList = from == gmThread::PENDING ? gmThread::BLOCKED : from;
  ListRemove(m_lists[fromList], a_thread);
  a_thread->m_state = a_state;

  switch (a_state) {
    case gmThread::RUNNING:
    case gmThread::BLOCKED:
    case gmThread::EXCEPTION:
      ListAppend(m_lists[a_state], a_thread);
      break;
    case gmThread::PENDING:
      ListAppend(m_lists[gmThread::BLOCKED], a_thread);
      break;
    case gmThread::SLEEPING: {
      // After every thread due at the same time or earlier.
      ThreadList& list = m_lists[gmThread::SLEEPING];
      gmThread* after = list.last;
      while (after && after->wakeTime > a_thread->wakeTime) after = after->m_prev;
      ListInsertAfter(list, after, a_thread);
      break;
    }
    case gmThread::KILLED: {
      if (s_machineCallback) s_machineCallback(this, MC_THREAD_DESTROY, a_thread);
      IdRemove(a_thread);
      a_thread->Reset(false);
      a_thread->m_id = 0;
      a_thread->m_killPending = false;
      if (m_numFreeThreads >= MAX_FREE_THREADS) {
        delete a_thread;
      } else {
        ListInsertAfter(m_lists[gmThread::KILLED], nullptr, a_thread);
        ++m_numFreeThreads;
      }
      break;
    }
    default:
      break;
  }
}

void gmMachine::DestroyThreads() {
  for (ThreadList& list : m_lists) {
    for (gmThread* t = list.first; t;) {
      gmThread* next = t->m_next;
      delete t;
      t = next;
    }
    list.first = list.last = nullptr;
  }
  for (gmThread*& chain : m_threadIds) chain = nullptr;
  m_numFreeThreads = 0;
}

// ---- Sources ----------------------------------------------------------------------------

gmuint gmMachine::AddSource(const char* a_text, const char* a_name) {
  if (!debugMode || !a_text) return 0;
  gmuint id = Crc32(a_text);
  // Every run text is registered (server answers and doString texts included), so the
  // lookup must not slow down as they accumulate.
  m_sources.emplace(id, Source{a_text, a_name ? a_name : "unknown"});
  return id;
}

bool gmMachine::GetSource(gmuint a_id, const char** a_text, const char** a_name) const {
  auto found = m_sources.find(a_id);
  if (found == m_sources.end()) return false;
  if (a_text) *a_text = found->second.text.c_str();
  if (a_name) *a_name = found->second.name.c_str();
  return true;
}

// ---- Running text -----------------------------------------------------------------------

gmFunctionObject* gmMachine::CompileString(const char* a_text, int* a_outErrors, const char* a_sourceName) {
  *a_outErrors = 0;
  if (!a_text) a_text = "";

  gmCodeTree& tree = gmCodeTree::Get();
  int parsed = tree.Parse(a_text, &m_log);
  if (parsed != gmCodeTree::PARSE_OK) {
    tree.Reset();
    *a_outErrors = parsed;
    return nullptr;
  }

  gmHooks hooks(this, a_text, a_sourceName);
  gmCodeGen& codeGen = gmCodeGen::Get();
  int errors;
  try {
    errors = codeGen.Compile(tree.GetRoot(), &hooks, debugMode, &m_log);
  } catch (...) {
    // Out of memory inside a run: the compiler is shared by every later text, so it is left
    // clean before the failure goes on to the run that catches it.
    tree.Reset();
    codeGen.Reset();
    throw;
  }
  tree.Reset();
  codeGen.Reset();
  if (!errors && !hooks.GetRootFunction()) errors = 1;
  *a_outErrors = errors;
  return errors ? nullptr : hooks.GetRootFunction();
}

int gmMachine::RunString(const char* a_text, int* a_outThreadId, bool a_runNow, const char* a_sourceName,
                         const gmVariable* a_this) {
  if (a_outThreadId) *a_outThreadId = 0;
  int errors = 0;
  gmFunctionObject* root = CompileString(a_text, &errors, a_sourceName);
  if (!root) return errors;
  RunFunction(root, a_outThreadId, a_runNow, a_this);
  return 0;
}

void gmMachine::RunFunction(gmFunctionObject* a_function, int* a_outThreadId, bool a_runNow, const gmVariable* a_this) {
  gmThread* thread = NewThreadCalling(a_this ? *a_this : gmVariable::Null(), a_function, a_outThreadId);
  if (thread && a_runNow) thread->Run();
}
