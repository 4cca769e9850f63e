#include "platform/messages.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <poll.h>
#include <unistd.h>

#include <set>
#include <thread>
#include <tuple>

namespace {

using namespace orvane::platform;

TEST(MessageQueue, DeliversInOrderAndDropsPostsToNullOrDestroyedQueues) {
  HWND queue = CreateMessageQueue();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(PostWindowMessage(queue, 0x8000 + i, i, -i));
  for (int i = 0; i < 3; ++i) {
    uint32_t message = 0;
    uintptr_t w = 0;
    intptr_t l = 0;
    ASSERT_TRUE(GetQueuedMessage(queue, &message, &w, &l, 1000));
    EXPECT_EQ(std::make_tuple(message, w, l), std::make_tuple(0x8000u + i, static_cast<uintptr_t>(i), intptr_t{-i}));
  }
  EXPECT_FALSE(GetQueuedMessage(queue, nullptr, nullptr, nullptr, 0));
  DestroyMessageQueue(queue);
  EXPECT_FALSE(PostWindowMessage(queue, 1, 0, 0));
  EXPECT_FALSE(GetQueuedMessage(queue, nullptr, nullptr, nullptr, 0));
  DestroyMessageQueue(queue);  // twice is harmless
  EXPECT_FALSE(PostWindowMessage(nullptr, 1, 0, 0));
}

TEST(MessageQueue, WaiterWakesForAPostFromAnotherThreadOrForDestroy) {
  HWND queue = CreateMessageQueue();
  std::thread poster([queue] { PostWindowMessage(queue, 42, 0, 0); });
  uint32_t message = 0;
  EXPECT_TRUE(GetQueuedMessage(queue, &message, nullptr, nullptr, 60000));
  EXPECT_EQ(message, 42u);
  poster.join();
  bool got = true;
  std::thread waiter([&] { got = GetQueuedMessage(queue, nullptr, nullptr, nullptr, -1); });
  // The waiter either is already waiting or finds the queue gone: both end with no message.
  DestroyMessageQueue(queue);
  waiter.join();
  EXPECT_FALSE(got);
}

TEST(MessageQueue, HandleValuesAreNeverGivenOutAgain) {
  // Freed queues' memory is reused by the allocator at once; their handle values must not be.
  std::set<HWND> seen;
  for (int i = 0; i < 1000; ++i) {
    HWND queue = CreateMessageQueue();
    ASSERT_NE(queue, nullptr);
    ASSERT_TRUE(seen.insert(queue).second) << "handle value given out twice after " << i << " queues";
    DestroyMessageQueue(queue);
  }
}

TEST(MessageQueue, APostToADestroyedQueueNeverReachesALaterOne) {
  HWND old = CreateMessageQueue();
  DestroyMessageQueue(old);
  HWND fresh = CreateMessageQueue();
  EXPECT_FALSE(PostWindowMessage(old, 7, 0, 0));  // dropped
  EXPECT_FALSE(GetQueuedMessage(fresh, nullptr, nullptr, nullptr, 0));
  ASSERT_TRUE(PostWindowMessage(fresh, 8, 0, 0));
  uint32_t message = 0;
  EXPECT_TRUE(GetQueuedMessage(fresh, &message, nullptr, nullptr, 1000));
  EXPECT_EQ(message, 8u);
  DestroyMessageQueue(fresh);
}

// poll() on `fd` for up to `timeoutMs` (-1: no limit): whether it reported the descriptor readable.
bool Readable(int fd, int timeoutMs) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, timeoutMs) == 1 && (entry.revents & POLLIN) != 0;
}

TEST(MessageQueue, DescriptorIsReadableExactlyWhileAMessageWaits) {
  HWND queue = CreateMessageQueue();
  ASSERT_TRUE(PostWindowMessage(queue, 1, 0, 0));  // before the descriptor exists
  const int fd = MessageQueueFd(queue);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(MessageQueueFd(queue), fd);  // one descriptor per queue
  EXPECT_TRUE(Readable(fd, 0));
  ASSERT_TRUE(PostWindowMessage(queue, 2, 0, 0));
  ASSERT_TRUE(GetQueuedMessage(queue, nullptr, nullptr, nullptr, 0));
  EXPECT_TRUE(Readable(fd, 0)) << "one message is still queued";
  ASSERT_TRUE(GetQueuedMessage(queue, nullptr, nullptr, nullptr, 0));
  EXPECT_FALSE(Readable(fd, 0));
  ASSERT_TRUE(PostWindowMessage(queue, 3, 0, 0));
  EXPECT_TRUE(Readable(fd, 0));
  DestroyMessageQueue(queue);
  EXPECT_EQ(MessageQueueFd(queue), -1);
  EXPECT_EQ(MessageQueueFd(nullptr), -1);
}

TEST(MessageQueue, PollWakesForAPostFromAnotherThreadAndForDestroy) {
  HWND queue = CreateMessageQueue();
  const int fd = MessageQueueFd(queue);
  ASSERT_GE(fd, 0);
  std::thread poster([queue] { PostWindowMessage(queue, 42, 7, -7); });
  ASSERT_TRUE(Readable(fd, -1));
  uint32_t message = 0;
  uintptr_t w = 0;
  intptr_t l = 0;
  ASSERT_TRUE(GetQueuedMessage(queue, &message, &w, &l, 0));
  EXPECT_EQ(std::make_tuple(message, w, l), std::make_tuple(42u, uintptr_t{7}, intptr_t{-7}));
  poster.join();
  EXPECT_FALSE(Readable(fd, 0));

  // Destroying the queue wakes a poller, whether it polls already or only after the queue closed the
  // descriptor (it polls a duplicate of its own, as a poll under way holds the file).
  const int own = ::dup(fd);
  ASSERT_GE(own, 0);
  bool woke = false;
  std::thread poller([&] { woke = Readable(own, -1); });
  DestroyMessageQueue(queue);
  poller.join();
  EXPECT_TRUE(woke);
  ::close(own);
}

}  // namespace
#endif
