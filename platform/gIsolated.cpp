#include "platform/gIsolated.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <vector>

namespace {

// The exit status of a child that went through all its work, and of one that failed; only
// the records it sent count, so a failure is whatever ends it before its last one.
constexpr int kFinished = 0;
constexpr int kFailed = 70;

// A record on the pipe: the item, the tag, the length of the text that follows.
constexpr char kStart = 'S';
constexpr char kNote = 'N';
constexpr char kDone = 'D';
constexpr size_t kHeader = sizeof(int32_t) + 1 + sizeof(uint16_t);

long long Milliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

[[noreturn]] void Fail() { _exit(kFailed); }

// Writes one whole record; a parent that has gone away ends the child.
void Send(int a_pipe, int a_item, char a_tag, const std::string& a_text) {
  const uint16_t length = static_cast<uint16_t>(a_text.size() < 4000 ? a_text.size() : 4000);
  char record[kHeader + 4000];
  const int32_t item = a_item;
  std::memcpy(record, &item, sizeof item);
  record[sizeof item] = a_tag;
  std::memcpy(record + sizeof item + 1, &length, sizeof length);
  // A counted record, not a C string: no terminator goes down the pipe.
  std::memcpy(record + kHeader, a_text.data(), length);  // NOLINT(bugprone-not-null-terminated-result)
  // Under PIPE_BUF, so the record arrives whole.
  size_t sent = 0;
  while (sent < kHeader + length) {
    const ssize_t n = write(a_pipe, record + sent, kHeader + length - sent);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail();
    sent += static_cast<size_t>(n);
  }
}

// Closes what the child must not touch: sockets (the display's connection, the network,
// the sound server) and devices (sound cards, GPUs, a Wiimote). Archives and folders it
// reads are files and directories, and stay. Read with the raw system call: no allocation.
void DropSocketsAndDevices(int a_keep, int a_keepToo) {
  const int directory = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return;
  alignas(8) char entries[4096];
  for (;;) {
    const long got = syscall(SYS_getdents64, directory, entries, sizeof entries);
    if (got <= 0) break;
    for (long at = 0; at < got;) {
      struct Entry {
        uint64_t inode;
        int64_t offset;
        unsigned short length;
        unsigned char type;
        char name[1];
      };
      const Entry* entry = reinterpret_cast<const Entry*>(entries + at);
      at += entry->length;
      if (entry->name[0] < '0' || entry->name[0] > '9') continue;
      const int fd = atoi(entry->name);
      if (fd <= STDERR_FILENO || fd == a_keep || fd == a_keepToo || fd == directory) continue;
      struct stat info;
      if (fstat(fd, &info) == 0 && (S_ISSOCK(info.st_mode) || S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)))
        close(fd);
    }
  }
  close(directory);
}

// Everything the child does before its work: dies with its parent, says nothing, holds
// nothing of the parent's outside world, and cannot be sent back by an exception.
void BecomeChild(pid_t a_parent, int a_pipe, int a_requests) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  // The parent may have died before the signal was asked for.
  if (getppid() != a_parent) Fail();
  std::set_terminate(Fail);
  // Nothing of the child reaches the player's output, not even a sanitizer's report.
  const int nothing = open("/dev/null", O_RDWR);
  if (nothing >= 0) {
    dup2(nothing, STDIN_FILENO);
    dup2(nothing, STDOUT_FILENO);
    dup2(nothing, STDERR_FILENO);
    if (nothing > STDERR_FILENO) close(nothing);
  }
  DropSocketsAndDevices(a_pipe, a_requests);
}

}  // namespace

void (*gIsolated::beforeFork)() = nullptr;

gIsolated::Result gIsolated::Run(const std::function<void()>& a_work, int a_timeoutMs) {
  gIsolatedBatch batch(
      1, [&](int, const std::function<void(const std::string&)>&) { a_work(); }, a_timeoutMs);
  return batch.Wait(0);
}

gIsolatedBatch::gIsolatedBatch(int a_count, Work a_work, int a_timeoutMs, std::function<void()> a_prepare)
    : m_work(std::move(a_work)),
      m_prepare(std::move(a_prepare)),
      m_timeoutMs(a_timeoutMs),
      m_results(static_cast<size_t>(a_count > 0 ? a_count : 0), gIsolated::PENDING),
      m_notes(m_results.size()) {
  Start();
}

gIsolatedBatch::~gIsolatedBatch() {
  if (m_child > 0) {
    kill(m_child, SIGKILL);
    int status = 0;
    while (waitpid(m_child, &status, 0) < 0 && errno == EINTR) {}
  }
  if (m_pipe >= 0) close(m_pipe);
  if (m_requests >= 0) close(m_requests);
}

int gIsolatedBatch::FirstPending() const {
  for (int i = 0; i < Count(); ++i)
    if (m_results[static_cast<size_t>(i)] == gIsolated::PENDING) return i;
  return -1;
}

void gIsolatedBatch::Start() {
  m_child = -1;
  m_current = -1;
  m_buffer.clear();
  if (FirstPending() < 0) return;
  int ends[2];
  // A socket, not a pipe: asking a child that has just died must not raise SIGPIPE.
  int requests[2];
  if (pipe2(ends, O_CLOEXEC) != 0) ends[0] = ends[1] = -1;
  if (ends[0] < 0 || socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, requests) != 0) {
    if (ends[0] >= 0) {
      close(ends[0]);
      close(ends[1]);
    }
    for (gIsolated::Result& result : m_results)
      if (result == gIsolated::PENDING) result = gIsolated::UNAVAILABLE;
    return;
  }
  if (gIsolated::beforeFork) gIsolated::beforeFork();
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child == 0) {
    close(ends[0]);
    close(requests[0]);
    BecomeChild(parent, ends[1], requests[1]);
    try {
      RunChild(ends[1], requests[1]);
    } catch (...) {
      Fail();
    }
    // Without exit's clean-up: the buffers and handlers are the parent's copies.
    _exit(kFinished);
  }
  close(ends[1]);
  close(requests[1]);
  if (child < 0) {
    close(ends[0]);
    close(requests[0]);
    for (gIsolated::Result& result : m_results)
      if (result == gIsolated::PENDING) result = gIsolated::UNAVAILABLE;
    return;
  }
  ++children;
  m_child = child;
  m_pipe = ends[0];
  m_requests = requests[0];
  m_deadline = Milliseconds() + m_timeoutMs;
}

// The child's loop: before each item it takes in what the parent has asked for since, and
// says which item it takes, so that a crash or a hang is charged to the right one.
void gIsolatedBatch::RunChild(int a_records, int a_requests) {
  std::vector<bool> done(m_results.size());
  for (size_t i = 0; i < done.size(); ++i) done[i] = m_results[i] != gIsolated::PENDING;
  std::vector<int> wanted = m_wanted;
  size_t nextWanted = 0;
  int next = 0;
  std::string partial;
  if (m_prepare) m_prepare();
  for (;;) {
    char bytes[512];
    ssize_t got;
    while ((got = recv(a_requests, bytes, sizeof bytes, MSG_DONTWAIT)) > 0 || (got < 0 && errno == EINTR)) {
      if (got <= 0) continue;
      partial.append(bytes, static_cast<size_t>(got));
      size_t at = 0;
      for (; partial.size() - at >= sizeof(int32_t); at += sizeof(int32_t)) {
        int32_t item = 0;
        std::memcpy(&item, partial.data() + at, sizeof item);
        wanted.push_back(item);
      }
      partial.erase(0, at);
    }
    int item = -1;
    while (nextWanted < wanted.size() && item < 0) {
      const int asked = wanted[nextWanted++];
      if (asked >= 0 && asked < Count() && !done[static_cast<size_t>(asked)]) item = asked;
    }
    while (item < 0 && next < Count()) {
      if (!done[static_cast<size_t>(next)]) item = next;
      ++next;
    }
    if (item < 0) return;
    Send(a_records, item, kStart, "");
    m_work(item, [&](const std::string& a_text) { Send(a_records, item, kNote, a_text); });
    Send(a_records, item, kDone, "");
    done[static_cast<size_t>(item)] = true;
  }
}

gIsolated::Result gIsolatedBatch::Wait(int a_item) {
  if (a_item < 0 || a_item >= Count()) return gIsolated::UNAVAILABLE;
  Want(a_item);
  while (m_results[static_cast<size_t>(a_item)] == gIsolated::PENDING) Step(-1);
  return m_results[static_cast<size_t>(a_item)];
}

void gIsolatedBatch::Want(int a_item) {
  if (a_item < 0 || a_item >= Count() || m_results[static_cast<size_t>(a_item)] != gIsolated::PENDING) return;
  if (a_item == m_current) return;
  m_wanted.push_back(a_item);
  if (m_requests < 0) return;
  const int32_t item = a_item;
  // A request the child never reads (it is done, or dying) costs nothing: it is sent again
  // to the next child through m_wanted.
  while (send(m_requests, &item, sizeof item, MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && errno == EINTR) {}
}

void gIsolatedBatch::WaitAll() {
  for (int item = FirstPending(); item >= 0; item = FirstPending()) Wait(item);
}

bool gIsolatedBatch::Poll() {
  while (FirstPending() >= 0 && Step(0)) {}
  return FirstPending() < 0;
}

bool gIsolatedBatch::Step(int a_waitMs) {
  if (m_child < 0) return false;
  const long long left = m_deadline - Milliseconds();
  if (left <= 0) {
    kill(m_child, SIGKILL);
    ChildEnded(gIsolated::TIMED_OUT);
    return true;
  }
  pollfd watch{m_pipe, POLLIN, 0};
  const int wait = a_waitMs < 0 || a_waitMs > left ? static_cast<int>(left) : a_waitMs;
  const int ready = poll(&watch, 1, wait);
  if (ready <= 0) return false;  // nothing yet, or a signal: the caller asks again
  char bytes[8192];
  const ssize_t got = read(m_pipe, bytes, sizeof bytes);
  if (got < 0 && errno == EINTR) return false;
  if (got <= 0) {
    // The pipe closed: the child is gone, with the item it was on unfinished if any.
    ChildEnded(gIsolated::CRASHED);
    return true;
  }
  Take(bytes, static_cast<size_t>(got));
  return true;
}

void gIsolatedBatch::Take(const char* a_bytes, size_t a_size) {
  m_buffer.append(a_bytes, a_size);
  size_t at = 0;
  while (m_buffer.size() - at >= kHeader) {
    int32_t item = 0;
    uint16_t length = 0;
    std::memcpy(&item, m_buffer.data() + at, sizeof item);
    const char tag = m_buffer[at + sizeof item];
    std::memcpy(&length, m_buffer.data() + at + sizeof item + 1, sizeof length);
    if (m_buffer.size() - at < kHeader + length) break;
    if (item >= 0 && item < Count()) {
      std::string& note = m_notes[static_cast<size_t>(item)];
      if (tag == kStart) {
        m_current = item;
        m_deadline = Milliseconds() + m_timeoutMs;
      } else if (tag == kNote) {
        if (!note.empty()) note += '\n';
        note.append(m_buffer, at + kHeader, length);
      } else if (tag == kDone && item == m_current) {
        m_results[static_cast<size_t>(item)] = gIsolated::FINISHED;
        m_current = -1;
        m_deadline = Milliseconds() + m_timeoutMs;
      }
    }
    at += kHeader + length;
  }
  m_buffer.erase(0, at);
}

void gIsolatedBatch::ChildEnded(gIsolated::Result a_current) {
  int status = 0;
  while (waitpid(m_child, &status, 0) < 0 && errno == EINTR) {}
  close(m_pipe);
  close(m_requests);
  m_pipe = m_requests = -1;
  m_child = -1;
  // A child that reported every item and then exited cleanly leaves nothing behind; any
  // other end is charged to the item it was on (or, when it died before taking one, to the
  // first it would have taken in order).
  const int charged = m_current >= 0 ? m_current : FirstPending();
  if (charged < 0) return;
  m_results[static_cast<size_t>(charged)] = a_current;
  Start();
}
