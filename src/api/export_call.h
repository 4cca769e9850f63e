// The shape every export shares: look the handle up (holding its object alive for the call), run one
// operation of the object, and never let an exception cross the interface.
#pragma once

#include <memory>
#include <utility>

#include "api/sdk_chain.h"
#include "sdk/orvane.h"

namespace orvane::api {

// Runs `body(object)` for a registered handle; `unregistered` is the result for an unknown handle
// (nothing is touched or recorded then) and for an operation that failed by exception.
template <typename Result, typename Body>
Result WithObject(int handle, Result unregistered, Body&& body) noexcept {
  try {
    std::shared_ptr<COrvane> object = CSdkChain::Library().Lookup(handle);
    if (!object) return unregistered;
    return std::forward<Body>(body)(*object);
  } catch (...) {
    return unregistered;
  }
}

// Shorthand for an export that calls one member function with its arguments.
template <typename Result, typename Method, typename... Args>
Result Call(int handle, Result unregistered, Method method, Args&&... args) noexcept {
  return WithObject(handle, unregistered,
                    [&](COrvane& object) -> Result { return (object.*method)(std::forward<Args>(args)...); });
}

}  // namespace orvane::api
