// Work run in a throwaway child: every way it can end comes back as the right result, and
// nothing the child writes reaches the parent's output.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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
      {"never ends", [] { for (;;) pause(); }, 100, gIsolated::TIMED_OUT},
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

}  // namespace
