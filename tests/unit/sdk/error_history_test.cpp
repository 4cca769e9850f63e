#include "sdk/error_history.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using orvane::sdk::ErrorHistory;

TEST(ErrorHistory, PopsNewestFirstThenZeroAndKeepsTheTwentyNewest) {
  ErrorHistory history;
  for (int code : {9, 6, 1}) history.Push(code);
  EXPECT_EQ(history.Pop(), 1);
  history.Push(5);
  for (int code : {5, 6, 9, 0, 0}) EXPECT_EQ(history.Pop(), code);
  for (int code = 1; code <= 21; ++code) history.Push(code);
  for (int code = 21; code >= 2; --code) EXPECT_EQ(history.Pop(), code);
  EXPECT_EQ(history.Pop(), 0);  // code 1 fell out
}

TEST(ErrorHistory, ConcurrentPushesAndPopsLoseNothingAndInventNothing) {
  ErrorHistory history;
  constexpr int kPushes = 2000;
  std::thread pusher([&] {
    for (int i = 0; i < kPushes; ++i) history.Push(7);
  });
  int popped = 0;
  for (int i = 0; i < kPushes; ++i) {
    int code = history.Pop();
    ASSERT_TRUE(code == 0 || code == 7) << code;
    popped += code == 7;
  }
  pusher.join();
  while (history.Pop() == 7) ++popped;
  EXPECT_LE(popped, kPushes);
  EXPECT_GT(popped, 0);
}

}  // namespace
