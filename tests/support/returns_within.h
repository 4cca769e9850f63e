// "Does not hang" checks: a call runs on another thread under a generous limit, so that a loaded
// machine never trips it and a hang still ends the test instead of the whole run's timeout.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>

// Runs `call` and returns its result; when it has not returned within `limit` the test fails and the
// program ends (the hung call cannot be abandoned).
template <typename F>
auto ReturnsWithin(std::chrono::seconds limit, F call) -> decltype(call()) {
  auto result = std::async(std::launch::async, call);
  if (result.wait_for(limit) != std::future_status::ready) {
    ADD_FAILURE() << "did not return within " << limit.count() << " s";
    std::abort();
  }
  return result.get();
}
