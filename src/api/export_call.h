// The shape every export shares: look the handle up (holding its object alive for the call), run one
// operation of the object, and never let an exception cross the interface.
#pragma once

#include <memory>
#include <utility>

#include "api/sdk_chain.h"
#include "platform/log.h"
#include "sdk/orvane.h"

namespace orvane::api {

// The handle argument of the export wrappers, carrying the name of the export it was passed in:
// the conversion from int happens in the export's own body, where __builtin_FUNCTION names it.
// Logged error codes say which export recorded them.
struct ExportHandle {
  // NOLINTNEXTLINE(google-explicit-constructor): every export passes its plain int handle.
  ExportHandle(int handle, const char* exportName = __builtin_FUNCTION()) : value(handle), name(exportName) {}
  int value;
  const char* name;
};

// Runs `body(object)` for a registered handle; `unregistered` is the result for an unknown handle
// (nothing is touched or recorded then) and for an operation that failed by exception.
template <typename Result, typename Body>
Result WithObject(ExportHandle handle, Result unregistered, Body&& body) noexcept {
  try {
    const ::orvane::log::ExportScope scope(handle.name);
    std::shared_ptr<COrvane> object = CSdkChain::Library().Lookup(handle.value);
    if (!object) return unregistered;
    return std::forward<Body>(body)(*object);
  } catch (...) {
    return unregistered;
  }
}

// Shorthand for an export that calls one member function with its arguments.
template <typename Result, typename Method, typename... Args>
Result Call(ExportHandle handle, Result unregistered, Method method, Args&&... args) noexcept {
  return WithObject(handle, unregistered,
                    [&](COrvane& object) -> Result { return (object.*method)(std::forward<Args>(args)...); });
}

}  // namespace orvane::api
