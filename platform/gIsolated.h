#pragma once
// Runs work where a crash, a hang or an exception cannot take the player with it: in a child
// process, a copy of this one made for the work alone. Only the calling thread exists in the
// child, so the work must not wait on locks other threads may hold (no standard output, no
// GL, no sound); what it computes is lost with the child, except short notes it sends back.
//
// The child never gets back to the player's own code: every way out of the work (a return,
// an exception, std::terminate) ends the process there, so no copy of the game can go on
// running frames in it. It holds none of the player's sockets or devices (the display, the
// sound device, the network, a Wiimote), and it dies with the thread that made it.
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

class gIsolated {
 public:
  enum Result {
    FINISHED,     // the work returned
    CRASHED,      // a signal, an exception, or an exit of the child's own (a sanitizer's report)
    TIMED_OUT,    // still running after the time given; the child was killed
    UNAVAILABLE,  // no child could be made
    PENDING,      // not known yet (only a batch's items are ever pending)
  };

  static Result Run(const std::function<void()>& a_work, int a_timeoutMs);

  // Called before every child is made: lets a thread of the player's that holds locks for
  // a while (opening the sound device) finish, so that the child gets none of them held.
  static void (*beforeFork)();
};

// Items 0 to count-1 worked through by one child, in order, except that the items the parent
// asks for are taken next. An item that crashes or hangs costs only itself: the child is
// replaced by a new one that goes on with the rest. The parent never sleeps; it waits on the
// child's pipe, only when it asks for a verdict.
class gIsolatedBatch {
 public:
  // Runs in the child for one item; a_note sends a short text back (it arrives even when
  // the item then crashes).
  using Work = std::function<void(int a_item, const std::function<void(const std::string&)>& a_note)>;

  // Starts the first child at once. Each item may take up to a_timeoutMs. a_prepare, when
  // given, runs in each child before it takes its first item (so that the first item it
  // takes is one the parent asked for meanwhile, if any); a crash there is charged to the
  // item the child would have taken first in order.
  gIsolatedBatch(int a_count, Work a_work, int a_timeoutMs, std::function<void()> a_prepare = nullptr);
  // Kills the child if it still runs.
  ~gIsolatedBatch();
  gIsolatedBatch(const gIsolatedBatch&) = delete;
  gIsolatedBatch& operator=(const gIsolatedBatch&) = delete;

  // How item a_item ended, waiting for it if need be (asking for it first).
  gIsolated::Result Wait(int a_item);
  // Asks the child to take a_item as soon as it is done with its current one; does not wait.
  void Want(int a_item);
  // Takes in whatever the child has said, without waiting; true once every item is known.
  bool Poll();
  void WaitAll();

  int Count() const { return static_cast<int>(m_results.size()); }
  gIsolated::Result ResultOf(int a_item) const { return m_results[static_cast<size_t>(a_item)]; }
  // The texts the item's work sent, joined by newlines.
  const std::string& NoteOf(int a_item) const { return m_notes[static_cast<size_t>(a_item)]; }
  // Children made so far (1 when nothing crashed or hung).
  int children = 0;

 private:
  void Start();
  // Reads and handles one chunk from the pipe, or handles the deadline; waits at most
  // a_waitMs (-1: until the child says something or its item's time is up). False when
  // nothing happened.
  bool Step(int a_waitMs);
  void Take(const char* a_bytes, size_t a_size);
  void ChildEnded(gIsolated::Result a_current);
  int FirstPending() const;
  void RunChild(int a_records, int a_requests);

  Work m_work;
  std::function<void()> m_prepare;
  int m_timeoutMs;
  std::vector<gIsolated::Result> m_results;
  std::vector<std::string> m_notes;
  std::vector<int> m_wanted;  // asked for, in order; a new child starts with them
  int m_current = -1;         // the item the child said it is on
  pid_t m_child = -1;
  int m_pipe = -1;      // the child's records
  int m_requests = -1;  // the items asked for, to the child
  long long m_deadline = 0;
  std::string m_buffer;  // bytes of a record not yet complete
};
