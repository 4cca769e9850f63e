// Named shared memory and a named inter-process lock (Win32: a named file mapping and a named mutex;
// POSIX: a shm_open object and an flock-held file in /dev/shm). Both are RAII and move-only.
//
// POSIX names are private to the user: "<name>-<uid>", created with mode 0600, and what is found at a
// name must be a regular file of this user (checked with fstat), so another user can neither read nor
// write the objects, and a squatted name (a directory, another user's file) fails to open instead of
// being used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace orvane::platform {

// A named, page-file backed read/write section mapped into this process. The name is given without a
// leading slash ("R3O5-MemMap"); the POSIX backend adds it.
//
// Lifetime follows Windows: a section lives while some object in some process has it open, and one
// opened with no other user starts zero-filled. POSIX keeps shm objects until unlinked, so there each
// open object holds a shared flock on "/dev/shm/<name>.users"; an open that can take that lock
// exclusively has no other user (a crashed process's lock is gone with it) and clears the contents.
// Two openers racing on a first open must serialise with a NamedLock.
class SharedMemory {
 public:
  // Opens the section `name`, creating it zero-filled with `size` bytes when it has no user; the
  // mapping covers `size` bytes. `created` (may be null) tells whether this call started it afresh.
  static std::optional<SharedMemory> OpenOrCreate(const std::string& name, size_t size, bool* created);
  // Removes the name (POSIX; a no-op on Windows, where the section ends with its last handle).
  static void Remove(const std::string& name);

  SharedMemory() = default;
  SharedMemory(SharedMemory&& other) noexcept;
  SharedMemory& operator=(SharedMemory&& other) noexcept;
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;
  ~SharedMemory();

  unsigned char* data() const { return data_; }
  size_t size() const { return size_; }
  bool valid() const { return data_ != nullptr; }

 private:
  void Reset();
  unsigned char* data_ = nullptr;
  size_t size_ = 0;
  void* handle_ = nullptr;  // Win32 mapping handle; unused on POSIX (the mapping outlives the fd)
  int usersFd_ = -1;        // POSIX: holds the shared "in use" lock while open
};

// A lock shared by every process that opens the same name (and by the threads of one process).
class NamedLock {
 public:
  static std::optional<NamedLock> Open(const std::string& name);
  // Removes what the name leaves behind (POSIX: the lock file; a no-op on Windows).
  static void Remove(const std::string& name);

  NamedLock() = default;
  NamedLock(NamedLock&& other) noexcept;
  NamedLock& operator=(NamedLock&& other) noexcept;
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;
  ~NamedLock();

  // Waits at most `timeoutMs` for the lock: false when another holder (a process that does not let
  // go) kept it that long. A holder that dies releases the lock. Not recursive.
  [[nodiscard]] bool Lock(uint32_t timeoutMs);
  void Unlock();
  bool valid() const { return handle_ != nullptr || fd_ >= 0; }

 private:
  void Reset();
  void* handle_ = nullptr;  // Win32 mutex
  int fd_ = -1;             // POSIX lock file
};

// Holds the lock for a scope when it could be had within the wait; check locked().
class NamedLockGuard {
 public:
  NamedLockGuard(NamedLock& lock, uint32_t timeoutMs) : lock_(lock), locked_(lock_.Lock(timeoutMs)) {}
  ~NamedLockGuard() {
    if (locked_) lock_.Unlock();
  }
  NamedLockGuard(const NamedLockGuard&) = delete;
  NamedLockGuard& operator=(const NamedLockGuard&) = delete;
  bool locked() const { return locked_; }

 private:
  NamedLock& lock_;
  const bool locked_;
};

}  // namespace orvane::platform
