// Ownership of a section or a named lock moves with the object; each backend's Reset() releases what
// it holds.
#include "platform/shared_memory.h"

#include <utility>

namespace orvane::platform {

SharedMemory::SharedMemory(SharedMemory&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
      handle_(std::exchange(other.handle_, nullptr)), usersFd_(std::exchange(other.usersFd_, -1)) {}

SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept {
  if (this != &other) {
    Reset();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    handle_ = std::exchange(other.handle_, nullptr);
    usersFd_ = std::exchange(other.usersFd_, -1);
  }
  return *this;
}

SharedMemory::~SharedMemory() { Reset(); }

NamedLock::NamedLock(NamedLock&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), fd_(std::exchange(other.fd_, -1)) {}

NamedLock& NamedLock::operator=(NamedLock&& other) noexcept {
  if (this != &other) {
    Reset();
    handle_ = std::exchange(other.handle_, nullptr);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

NamedLock::~NamedLock() { Reset(); }

}  // namespace orvane::platform
