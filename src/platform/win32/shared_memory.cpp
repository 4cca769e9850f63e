#include "platform/shared_memory.h"

#include <windows.h>

#include <utility>

namespace orvane::platform {

std::optional<SharedMemory> SharedMemory::OpenOrCreate(const std::string& name, size_t size, bool* created) {
  if (name.empty() || size == 0) return std::nullopt;
  bool isNew = false;
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
  if (mapping == nullptr) {
    const auto high = static_cast<DWORD>(static_cast<unsigned long long>(size) >> 32);
    const auto low = static_cast<DWORD>(size & 0xFFFFFFFFu);
    mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, high, low, name.c_str());
    if (mapping == nullptr) return std::nullopt;
    isNew = GetLastError() != ERROR_ALREADY_EXISTS;
  }
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
  if (view == nullptr) {
    CloseHandle(mapping);
    return std::nullopt;
  }
  SharedMemory section;
  section.data_ = static_cast<unsigned char*>(view);
  section.size_ = size;
  section.handle_ = mapping;
  if (created != nullptr) *created = isNew;
  return section;
}

void SharedMemory::Remove(const std::string&) {}

void SharedMemory::Reset() {
  if (data_ != nullptr) UnmapViewOfFile(data_);
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
  data_ = nullptr;
  handle_ = nullptr;
  size_ = 0;
}

std::optional<NamedLock> NamedLock::Open(const std::string& name) {
  if (name.empty()) return std::nullopt;
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) return std::nullopt;
  NamedLock lock;
  lock.handle_ = mutex;
  return lock;
}

void NamedLock::Remove(const std::string&) {}

void NamedLock::Reset() {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
}

// A holder that died leaves the mutex abandoned; the next waiter owns it (WAIT_ABANDONED).
bool NamedLock::Lock(uint32_t timeoutMs) {
  if (handle_ == nullptr) return true;
  const DWORD result = WaitForSingleObject(static_cast<HANDLE>(handle_), timeoutMs);
  return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void NamedLock::Unlock() {
  if (handle_ != nullptr) ReleaseMutex(static_cast<HANDLE>(handle_));
}

}  // namespace orvane::platform
