#include "api/sdk_chain.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "sdk/orvane.h"

namespace {

// A chain whose tick and random sources play the given values (the last one repeats).
CSdkChain ChainWith(std::vector<uint32_t> ticks, std::vector<uint32_t> randoms) {
  auto tick = [ticks, i = size_t{0}]() mutable { return ticks[std::min(i++, ticks.size() - 1)]; };
  auto random = [randoms, i = size_t{0}]() mutable { return randoms[std::min(i++, randoms.size() - 1)]; };
  return CSdkChain(tick, random);
}

TEST(SdkChain, HandleIsTickPlusRandomPlusCountWrappingTo32Bits) {
  CSdkChain chain = ChainWith({1000, 1000}, {7, 7});
  EXPECT_EQ(chain.Insert(std::make_shared<COrvane>()), 1007);
  EXPECT_EQ(chain.Insert(std::make_shared<COrvane>()), 1008);  // same millisecond: the count differs
  CSdkChain wrapping = ChainWith({0xFFFFFFF0u}, {0x5});
  EXPECT_EQ(wrapping.Insert(std::make_shared<COrvane>()), static_cast<int>(0xFFFFFFF5u));
}

TEST(SdkChain, ZeroHandleIsDrawnAgain) {
  // 0xFFFFFFFF + 1 + 0 wraps to 0, which would read as failure: the next draw is used.
  CSdkChain chain = ChainWith({0xFFFFFFFFu, 0xFFFFFFFFu}, {1, 2});
  int handle = chain.Insert(std::make_shared<COrvane>());
  EXPECT_EQ(handle, 1);
  EXPECT_NE(chain.Lookup(handle), nullptr);
}

TEST(SdkChain, HandleEqualToALiveOneIsDrawnAgain) {
  // First: 100 + 0 + 0 = 100. Second: 99 + 0 + 1 = 100 again, so it draws 99 + 5 + 1 = 105.
  CSdkChain chain = ChainWith({100, 99, 99}, {0, 0, 5});
  int first = chain.Insert(std::make_shared<COrvane>());
  int second = chain.Insert(std::make_shared<COrvane>());
  EXPECT_EQ(first, 100);
  EXPECT_EQ(second, 105);
  EXPECT_NE(chain.Lookup(first), chain.Lookup(second));
}

TEST(SdkChain, LookupAndRemoveWhileACallHoldsTheObject) {
  CSdkChain chain;
  auto a = std::make_shared<COrvane>();
  int ha = chain.Insert(a);
  EXPECT_EQ(chain.Lookup(ha + 1), nullptr);  // a chain of one
  auto b = std::make_shared<COrvane>();
  int hb = chain.Insert(b);
  EXPECT_EQ(chain.Lookup(ha), a);
  EXPECT_EQ(chain.Lookup(hb), b);
  EXPECT_EQ(chain.Lookup(ha ^ hb ^ 0x5A5A5A5A), nullptr);  // every record visited, none matches
  EXPECT_EQ(chain.Remove(ha), a);
  EXPECT_EQ(chain.Lookup(ha), nullptr);
  EXPECT_EQ(chain.Remove(ha), nullptr);
  EXPECT_EQ(chain.Lookup(hb), b);
  EXPECT_EQ(chain.Count(), 1);
  // A removed object lives while a call holds it.
  std::shared_ptr<COrvane> inCall = chain.Lookup(hb);
  std::weak_ptr<COrvane> watch = inCall;
  b.reset();
  chain.Remove(hb);
  EXPECT_FALSE(watch.expired());  // the running call still uses it
  inCall.reset();
  EXPECT_TRUE(watch.expired());   // destroyed when the last call returns
}

TEST(SdkChain, ConcurrentInsertsGiveDistinctHandles) {
  CSdkChain chain([] { return 42u; }, [] { return 0u; });  // every thread draws in the same millisecond
  constexpr int kThreads = 4, kEach = 50;
  std::vector<std::vector<int>> handles(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) handles[t].push_back(chain.Insert(std::make_shared<COrvane>()));
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<int> distinct;
  for (auto& list : handles) distinct.insert(list.begin(), list.end());
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kEach));
  EXPECT_EQ(distinct.count(0), 0u);
}

}  // namespace
