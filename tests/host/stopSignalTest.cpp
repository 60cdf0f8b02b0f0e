#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>

#include "platform/gStopSignal.h"

// Each test runs in a process of its own, so the one signal raised here reaches only it.
TEST(StopSignal, TermIsARequestNotAnEnd) {
  gStopSignal::Install();
  EXPECT_FALSE(gStopSignal::Requested());
  raise(SIGTERM);
  EXPECT_TRUE(gStopSignal::Requested());
}

// `timeout` signals the player and then its process group: the second delivery of one
// request must not kill it.
TEST(StopSignal, ARepeatAtOnceIsTheSameRequest) {
  gStopSignal::Install();
  raise(SIGTERM);
  raise(SIGTERM);
  EXPECT_TRUE(gStopSignal::Requested());
}

static void SignalTwiceWithAPause() {
  gStopSignal::Install();
  raise(SIGTERM);
  const timespec pause{1, 200 * 1000 * 1000};
  nanosleep(&pause, nullptr);
  raise(SIGTERM);
}

TEST(StopSignal, ALaterRepeatEndsTheProcess) {
  EXPECT_EXIT(SignalTwiceWithAPause(), testing::KilledBySignal(SIGTERM), "");
}
