// Clang's thread-safety analysis behind macros: with clang (-Wthread-safety) the compiler checks that a
// field marked ORVANE_GUARDED_BY(mutex_) is touched only with mutex_ held; elsewhere the macros are empty.
//
// std::mutex carries no capability attribute, so guarded parts use orvane::platform::Mutex and
// MutexLock below: a std::mutex and a scoped lock the analysis understands. std::condition_variable_any
// waits on a MutexLock.
#pragma once

#include <mutex>

#if defined(__clang__)
#define ORVANE_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ORVANE_THREAD_ANNOTATION(x)
#endif

#define ORVANE_CAPABILITY(name) ORVANE_THREAD_ANNOTATION(capability(name))
#define ORVANE_SCOPED_CAPABILITY ORVANE_THREAD_ANNOTATION(scoped_lockable)
#define ORVANE_GUARDED_BY(lock) ORVANE_THREAD_ANNOTATION(guarded_by(lock))
#define ORVANE_PT_GUARDED_BY(lock) ORVANE_THREAD_ANNOTATION(pt_guarded_by(lock))
#define ORVANE_ACQUIRED_BEFORE(...) ORVANE_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ORVANE_ACQUIRED_AFTER(...) ORVANE_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define ORVANE_REQUIRES(...) ORVANE_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ORVANE_EXCLUDES(...) ORVANE_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ORVANE_ACQUIRE(...) ORVANE_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ORVANE_RELEASE(...) ORVANE_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define ORVANE_TRY_ACQUIRE(...) ORVANE_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define ORVANE_RETURN_CAPABILITY(x) ORVANE_THREAD_ANNOTATION(lock_returned(x))
#define ORVANE_NO_THREAD_SAFETY_ANALYSIS ORVANE_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace orvane::platform {

// A plain (non-recursive) mutex the analysis knows as a capability.
class ORVANE_CAPABILITY("mutex") Mutex {
 public:
  void lock() ORVANE_ACQUIRE() { mutex_.lock(); }
  void unlock() ORVANE_RELEASE() { mutex_.unlock(); }
  bool try_lock() ORVANE_TRY_ACQUIRE(true) { return mutex_.try_lock(); }

 private:
  std::mutex mutex_;
};

// Holds a Mutex for its scope; can be unlocked and relocked inside it (condition waits do so).
class ORVANE_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ORVANE_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() ORVANE_RELEASE() {
    if (locked_) mutex_.unlock();
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void lock() ORVANE_ACQUIRE() {
    mutex_.lock();
    locked_ = true;
  }
  void unlock() ORVANE_RELEASE() {
    locked_ = false;
    mutex_.unlock();
  }

 private:
  Mutex& mutex_;
  bool locked_ = true;
};

}  // namespace orvane::platform
