#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/log.h"

namespace orvane::platform {

namespace {

// Every name is the user's own: other users' processes use other names, and a name one of them
// squatted is refused instead of used.
std::string UserName(const std::string& name) { return name + "-" + std::to_string(geteuid()); }
std::string ShmName(const std::string& name) { return "/" + UserName(name); }
std::string ShmPath(const std::string& name, const char* suffix) { return "/dev/shm/" + UserName(name) + suffix; }

bool ValidName(const std::string& name) { return !name.empty() && name.find('/') == std::string::npos; }

// A regular file of this user; what a squatter created at the name (another user's file, a directory,
// a device) is not. One of ours that others could open is narrowed to the user.
bool OwnRegularFile(int fd, const std::string& what) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    ORVANE_LOG(kUsb, kError, "shared objects: %s is not this user's own file", what.c_str());
    return false;
  }
  if ((st.st_mode & 0077) != 0) fchmod(fd, 0600);
  return true;
}

int OpenPrivateFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    ORVANE_LOG(kUsb, kError, "shared objects: cannot open %s (%s)", path.c_str(), std::strerror(errno));
    return -1;
  }
  if (!OwnRegularFile(fd, path)) {
    close(fd);
    return -1;
  }
  return fd;
}

// flock excludes open file descriptions, not threads, and tells ThreadSanitizer nothing; the process
// gate orders the threads of this process. One gate serves every named lock: they are never nested.
// A mutex with a condition variable rather than std::timed_mutex, whose timed wait ThreadSanitizer
// does not see (it then reports the unlock as one of an unlocked mutex).
class ProcessGate {
 public:
  [[nodiscard]] bool EnterBefore(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    if (!free_.wait_until(lock, deadline, [this] { return !held_; })) return false;
    held_ = true;
    return true;
  }
  void Leave() {
    {
      std::lock_guard lock(mutex_);
      held_ = false;
    }
    free_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable free_;
  bool held_ = false;  // guarded by mutex_
};

ProcessGate& LockGate() {
  static ProcessGate gate;
  return gate;
}

// flock has no timed form: a lock held elsewhere is asked again after pauses growing to this bound.
constexpr int kLongestPauseMs = 20;

}  // namespace

std::optional<SharedMemory> SharedMemory::OpenOrCreate(const std::string& name, size_t size, bool* created) {
  if (!ValidName(name) || size == 0) return std::nullopt;
  const int users = OpenPrivateFile(ShmPath(name, ".users"));
  if (users < 0) return std::nullopt;
  // Exclusive at once: nobody else has the section open, so it starts afresh as on Windows.
  const bool alone = flock(users, LOCK_EX | LOCK_NB) == 0;
  const int fd = shm_open(ShmName(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0 || !OwnRegularFile(fd, ShmName(name))) {
    if (fd >= 0) close(fd);
    close(users);
    return std::nullopt;
  }
  struct stat st {};
  // A fresh object has size 0; growing is zero-filled. A larger object stays as it is.
  if (fstat(fd, &st) != 0 ||
      (static_cast<size_t>(st.st_size) < size && ftruncate(fd, static_cast<off_t>(size)) != 0)) {
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
  if (!ValidName(name)) return;
  shm_unlink(ShmName(name).c_str());
  unlink(ShmPath(name, ".users").c_str());
}

void SharedMemory::Reset() {
  if (data_ != nullptr) munmap(data_, size_);
  if (usersFd_ >= 0) close(usersFd_);
  data_ = nullptr;
  size_ = 0;
  usersFd_ = -1;
}

std::optional<NamedLock> NamedLock::Open(const std::string& name) {
  if (!ValidName(name)) return std::nullopt;
  const int fd = OpenPrivateFile(ShmPath(name, ""));
  if (fd < 0) return std::nullopt;
  NamedLock lock;
  lock.fd_ = fd;
  return lock;
}

void NamedLock::Remove(const std::string& name) {
  if (!ValidName(name)) return;
  unlink(ShmPath(name, "").c_str());
}

void NamedLock::Reset() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool NamedLock::Lock(uint32_t timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  if (!LockGate().EnterBefore(deadline)) return false;
  if (fd_ < 0) return true;
  int pauseMs = 1;
  for (;;) {
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(std::chrono::milliseconds(pauseMs),
                                                                              deadline - now));
    pauseMs = std::min(pauseMs * 2, kLongestPauseMs);
  }
  LockGate().Leave();
  ORVANE_LOG(kUsb, kError, "shared objects: a named lock stayed held by another process for %u ms", timeoutMs);
  return false;
}

void NamedLock::Unlock() {
  if (fd_ >= 0) flock(fd_, LOCK_UN);
  LockGate().Leave();
}

}  // namespace orvane::platform
