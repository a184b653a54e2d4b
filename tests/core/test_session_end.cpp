// The session's end against the hand-over, raced on real threads: whichever
// comes first, the run and the session agree on whether the write began.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "update/session_end.h"

namespace {

TEST(SessionEnd, TheHandOverAndTheEndAgreeWhicheverWins) {
  int handedOver = 0, stopped = 0;
  for (int i = 0; i < 500; ++i) {
    SessionEnd end;
    std::atomic<int> ready{0};
    bool bHandedOver = false, bToldDuringWrite = false;
    std::thread run([&] {
      ++ready;
      while (ready < 2) {
      }
      bHandedOver = end.BeginHandOver();
    });
    std::thread session([&] {
      ++ready;
      while (ready < 2) {
      }
      bToldDuringWrite = end.Request();
    });
    run.join();
    session.join();
    // Either the write began and the session was told so, or neither.
    ASSERT_EQ(bHandedOver, bToldDuringWrite) << "iteration " << i;
    ASSERT_EQ(end.HandedOver(), bHandedOver);
    ASSERT_TRUE(end.Requested());
    (bHandedOver ? handedOver : stopped)++;
  }
  RecordProperty("handed_over", handedOver);
  RecordProperty("stopped", stopped);
}

TEST(SessionEnd, AWaitEndsWhenTheSessionDoesAndOnlyThen) {
  SessionEnd end;
  EXPECT_FALSE(end.WaitFor(20)) << "nothing told: the wait runs out";
  const auto started = std::chrono::steady_clock::now();
  std::thread session([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    end.Request();
  });
  EXPECT_TRUE(end.WaitFor(60000));
  session.join();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_TRUE(end.WaitFor(60000)) << "once ending, every wait ends at once";
  EXPECT_FALSE(end.BeginHandOver()) << "and no write begins";
}

}  // namespace
