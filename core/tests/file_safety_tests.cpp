// The operating-system side of a build's file safety: cancel signals, locks and replacing
// files.
#include <gtest/gtest.h>

#include <csignal>

#include "core/platform.h"

using namespace qm;

TEST(CancelSignals, TerminateSetsTheFlagInsteadOfEndingTheProcess) {
  platform::catch_cancel_signals();
  EXPECT_FALSE(platform::cancel_signalled());
  std::raise(SIGTERM);
  EXPECT_TRUE(platform::cancel_signalled());
}
