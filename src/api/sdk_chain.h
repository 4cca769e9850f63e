// CSdkChain: the library-wide registry that maps handles to their SDK objects.
//
// Handles are drawn as tick count + a pseudo-random value + the number of registered objects, in
// 32-bit unsigned arithmetic; a draw that gives 0 or a handle already registered is drawn again, so
// a handle is never 0 and never names two objects. Lookups hand out shared ownership: an export keeps
// its object alive for the length of its call, and Release destroys the object when the last call
// on it has returned. The registry lock is never held while an object runs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class COrvane;

class CSdkChain {
 public:
  using Source = std::function<uint32_t()>;

  // The tick and random sources default to the millisecond tick count and the C runtime's rand.
  CSdkChain();
  CSdkChain(Source tick, Source random);
  ~CSdkChain();
  CSdkChain(const CSdkChain&) = delete;
  CSdkChain& operator=(const CSdkChain&) = delete;

  // Registers `object` under a new handle and returns the handle.
  int Insert(std::shared_ptr<COrvane> object);
  // The object of `handle`, or null when the handle is not registered.
  std::shared_ptr<COrvane> Lookup(int handle) const;
  // Unregisters `handle` and gives its object back (null when it was not registered).
  std::shared_ptr<COrvane> Remove(int handle);
  int Count() const;

  // The one registry of the library, for the exports.
  static CSdkChain& Library();

 private:
  struct Record {
    int handle;
    std::shared_ptr<COrvane> object;
  };

  Source tick_;
  Source random_;
  mutable std::mutex mutex_;
  std::vector<Record> records_;  // guarded by mutex_; the newest first
};
