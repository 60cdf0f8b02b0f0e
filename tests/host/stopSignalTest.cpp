#include <gtest/gtest.h>
#include <signal.h>

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

// With no span for a repeat, any second signal comes too late to be the same request.
static void SignalTwiceWithNoSpanForARepeat() {
  gStopSignal::Install(0);
  raise(SIGTERM);
  raise(SIGTERM);
}

TEST(StopSignal, ALaterRepeatEndsTheProcess) {
  EXPECT_EXIT(SignalTwiceWithNoSpanForARepeat(), testing::KilledBySignal(SIGTERM), "");
}
