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
