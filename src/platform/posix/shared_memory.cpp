#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

namespace orvane::platform {

namespace {
std::string ShmName(const std::string& name) { return "/" + name; }

// flock excludes open file descriptions, not threads, and tells ThreadSanitizer nothing; the process
// mutex orders the threads of this process. One mutex serves every named lock: they are never nested.
std::mutex& ProcessLockMutex() {
  static std::mutex m;
  return m;
}
}  // namespace

std::optional<SharedMemory> SharedMemory::OpenOrCreate(const std::string& name, size_t size, bool* created) {
  if (name.empty() || name.find('/') != std::string::npos || size == 0) return std::nullopt;
  const std::string shm = ShmName(name);
  const int users = open(("/dev/shm/" + name + ".users").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (users < 0) return std::nullopt;
  // Exclusive at once: nobody else has the section open, so it starts afresh as on Windows.
  const bool alone = flock(users, LOCK_EX | LOCK_NB) == 0;
  int fd = shm_open(shm.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    close(users);
    return std::nullopt;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    close(fd);
    return std::nullopt;
  }
  // A fresh object has size 0; growing is zero-filled. A larger object stays as it is.
  if (static_cast<size_t>(st.st_size) < size && ftruncate(fd, static_cast<off_t>(size)) != 0) {
    close(fd);
    close(users);
    return std::nullopt;
  }
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (p == MAP_FAILED) {
    close(users);
    return std::nullopt;
  }
  if (alone) std::memset(p, 0, size);
  // From now on others see a user; converting also releases the exclusive lock.
  while (flock(users, LOCK_SH) != 0 && errno == EINTR) {
  }
  SharedMemory section;
  section.data_ = static_cast<unsigned char*>(p);
  section.size_ = size;
  section.usersFd_ = users;
  if (created != nullptr) *created = alone;
  return section;
}

void SharedMemory::Remove(const std::string& name) {
  shm_unlink(ShmName(name).c_str());
  unlink(("/dev/shm/" + name + ".users").c_str());
}

void SharedMemory::Reset() {
  if (data_ != nullptr) munmap(data_, size_);
  if (usersFd_ >= 0) close(usersFd_);
  data_ = nullptr;
  size_ = 0;
  usersFd_ = -1;
}

std::optional<NamedLock> NamedLock::Open(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return std::nullopt;
  const std::string path = "/dev/shm/" + name;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return std::nullopt;
  NamedLock lock;
  lock.fd_ = fd;
  return lock;
}

void NamedLock::Remove(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return;
  unlink(("/dev/shm/" + name).c_str());
}

void NamedLock::Reset() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void NamedLock::Lock() {
  ProcessLockMutex().lock();
  if (fd_ < 0) return;
  while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
}

void NamedLock::Unlock() {
  if (fd_ >= 0) flock(fd_, LOCK_UN);
  ProcessLockMutex().unlock();
}

}  // namespace orvane::platform
