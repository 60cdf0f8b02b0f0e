// Work run in a throwaway child: every way it can end comes back as the right result,
// nothing the child writes reaches the parent's output, and nothing of it outlives the work:
// no exception carries it back into the caller's code, it holds none of the parent's
// sockets, and it dies with its parent.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>

#include "platform/gIsolated.h"

namespace {

TEST(Isolated, EveryEndingIsToldApart) {
  struct Case {
    const char* what;
    void (*work)();
    int timeoutMs;
    gIsolated::Result expected;
  };
  const Case cases[] = {
      {"returns", [] {}, 60000, gIsolated::FINISHED},
      {"writes and returns", [] { std::printf("from the child\n"); }, 60000, gIsolated::FINISHED},
      {"faults", [] { raise(SIGSEGV); }, 60000, gIsolated::CRASHED},
      {"aborts", [] { std::abort(); }, 60000, gIsolated::CRASHED},
      {"exits on its own", [] { _exit(1); }, 60000, gIsolated::CRASHED},
      {"exits as if finished", [] { _exit(0); }, 60000, gIsolated::CRASHED},
      {"runs out of memory", [] { throw std::bad_alloc(); }, 60000, gIsolated::CRASHED},
      {"throws something else", [] { throw 42; }, 60000, gIsolated::CRASHED},
      {"terminates", [] { std::terminate(); }, 60000, gIsolated::CRASHED},
      {"never ends",
       [] {
         for (;;) pause();
       },
       100, gIsolated::TIMED_OUT},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(gIsolated::Run(c.work, c.timeoutMs), c.expected) << c.what;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << c.what;
  }
}

TEST(Isolated, TheChildWorksOnACopy) {
  static int value = 1;
  EXPECT_EQ(gIsolated::Run([] { value = 2; }, 60000), gIsolated::FINISHED);
  EXPECT_EQ(value, 1);
}

// An exception that left the work would climb into the child's copy of this test, which
// would then go on as a second copy of the caller: any such copy says so through the pipe.
TEST(Isolated, AnExceptionNeverCarriesTheChildBackToTheCaller) {
  const pid_t self = getpid();
  int escaped[2];
  ASSERT_EQ(pipe(escaped), 0);
  gIsolated::Result result = gIsolated::PENDING;
  try {
    result = gIsolated::Run([] { throw std::runtime_error("from the loader"); }, 5000);
  } catch (...) {}
  if (getpid() != self) {
    (void)!write(escaped[1], "x", 1);
    _exit(0);
  }
  close(escaped[1]);
  char byte = 0;
  EXPECT_EQ(read(escaped[0], &byte, 1), 0);
  close(escaped[0]);
  EXPECT_EQ(result, gIsolated::CRASHED);
}

// The display's connection, the network and the sound server are sockets: what the work
// sends on one inherited from the parent never arrives.
TEST(Isolated, TheChildHoldsNoSocketOfTheParent) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  static int end;
  end = pair[0];
  EXPECT_EQ(gIsolated::Run([] { (void)!send(end, "frame", 5, MSG_NOSIGNAL); }, 5000), gIsolated::FINISHED);
  char bytes[8];
  EXPECT_EQ(recv(pair[1], bytes, sizeof bytes, MSG_DONTWAIT), -1);
  EXPECT_EQ(send(pair[0], "ok", 2, MSG_NOSIGNAL), 2) << "the parent's own end still works";
  close(pair[0]);
  close(pair[1]);
}

// A player killed while its child hangs takes the child with it. The child holds the write
// end of a pipe, so the read end ends exactly when the child is gone.
TEST(Isolated, TheChildDiesWithItsParent) {
  int started[2];
  ASSERT_EQ(pipe(started), 0);
  const pid_t player = fork();
  ASSERT_GE(player, 0);
  if (player == 0) {
    close(started[0]);
    static int out;
    out = started[1];
    gIsolated::Run(
        [] {
          (void)!write(out, "s", 1);
          for (;;) pause();
        },
        600000);
    _exit(0);
  }
  close(started[1]);
  char byte = 0;
  ASSERT_EQ(read(started[0], &byte, 1), 1);
  kill(player, SIGKILL);
  int status = 0;
  waitpid(player, &status, 0);
  pollfd watch{started[0], POLLIN, 0};
  // Only a safety limit: the read end closes as soon as the child dies.
  ASSERT_EQ(poll(&watch, 1, 60000), 1) << "the child outlived its parent";
  EXPECT_EQ(read(started[0], &byte, 1), 0);
  close(started[0]);
}

TEST(IsolatedBatch, AnItemThatCrashesThrowsOrHangsCostsOnlyItself) {
  gIsolatedBatch batch(
      6,
      [](int a_item, const std::function<void(const std::string&)>& a_note) {
        a_note("item " + std::to_string(a_item));
        if (a_item == 1) raise(SIGSEGV);
        if (a_item == 2) throw std::bad_alloc();
        if (a_item == 4)
          for (;;) pause();
      },
      // Room for a sanitizer's crash report on a busy machine: only the hang uses it all.
      5000);
  batch.WaitAll();
  const gIsolated::Result expected[] = {gIsolated::FINISHED, gIsolated::CRASHED,   gIsolated::CRASHED,
                                        gIsolated::FINISHED, gIsolated::TIMED_OUT, gIsolated::FINISHED};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(batch.ResultOf(i), expected[i]) << i;
    EXPECT_EQ(batch.NoteOf(i), "item " + std::to_string(i));
  }
  EXPECT_EQ(batch.children, 4);
  EXPECT_TRUE(batch.Poll());
}

// The item asked for is taken as soon as the child is done with the one it is on, ahead of
// the items before it; the others are left alone until someone asks. Item 1 never ends: had
// it been taken before item 2, the wait for item 2 would end only with item 1's time.
TEST(IsolatedBatch, TheItemAskedForIsTakenNext) {
  static int started[2], go[2];
  ASSERT_EQ(pipe(started), 0);
  ASSERT_EQ(pipe(go), 0);
  gIsolatedBatch batch(
      3,
      [](int a_item, const std::function<void(const std::string&)>&) {
        char byte = 0;
        if (a_item == 0) (void)!(write(started[1], "s", 1) + read(go[0], &byte, 1));
        if (a_item == 1)
          for (;;) pause();
      },
      60000);
  char byte = 0;
  ASSERT_EQ(read(started[0], &byte, 1), 1);
  batch.Want(2);
  ASSERT_EQ(write(go[1], "g", 1), 1);
  EXPECT_EQ(batch.Wait(2), gIsolated::FINISHED);
  EXPECT_EQ(batch.ResultOf(0), gIsolated::FINISHED);
  EXPECT_EQ(batch.ResultOf(1), gIsolated::PENDING);
  EXPECT_FALSE(batch.Poll());
  for (int end : {started[0], started[1], go[0], go[1]}) close(end);
}

}  // namespace
