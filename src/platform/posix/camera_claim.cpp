#include "platform/camera_claim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/log.h"

namespace orvane::platform {

struct CameraClaim::Holder {
  int fd = -1;       // holds the flock
  std::string path;  // removed before the lock is let go
  ~Holder() {
    // Removing first: a claimer that opened this file meanwhile finds it gone once it gets the lock.
    unlink(path.c_str());
    close(fd);
  }
};

namespace {

// A claimer may lock a file that its holder removed a moment before; it then retries with the new one.
constexpr int kReplacedFileRetries = 8;

// The user's private directory of claim files, made on first use. Anything else at the name (a file,
// a link, another user's directory, a directory others may write) is refused.
bool PrivateDirectory(std::string* dir) {
  *dir = "/dev/shm/orvane-sdk-" + std::to_string(geteuid());
  if (mkdir(dir->c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (lstat(dir->c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
      (st.st_mode & 0077) != 0) {
    ORVANE_LOG(kDevice, kError, "camera claims: %s is not a private directory of this user", dir->c_str());
    return false;
  }
  return true;
}

bool SameFile(int fd, const std::string& path) {
  struct stat opened {}, named {};
  return fstat(fd, &opened) == 0 && lstat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
         opened.st_ino == named.st_ino;
}

}  // namespace

ClaimResult CameraClaim::TryAcquire(const std::string& scope, const std::string& key,
                                    std::optional<CameraClaim>* claim) {
  claim->reset();
  if (scope.empty() || scope.find('/') != std::string::npos) return ClaimResult::kFailed;
  std::string dir;
  if (!PrivateDirectory(&dir)) return ClaimResult::kFailed;
  const std::string path = dir + "/" + ObjectName(scope, key);
  for (int attempt = 0; attempt < kReplacedFileRetries; ++attempt) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return ClaimResult::kFailed;
    int locked;
    while ((locked = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
      const bool busy = errno == EWOULDBLOCK;
      close(fd);
      return busy ? ClaimResult::kBusy : ClaimResult::kFailed;
    }
    if (!SameFile(fd, path)) {
      close(fd);
      continue;
    }
    CameraClaim held;
    held.holder_ = std::make_unique<Holder>();
    held.holder_->fd = fd;
    held.holder_->path = path;
    claim->emplace(std::move(held));
    return ClaimResult::kHeld;
  }
  return ClaimResult::kBusy;
}

CameraClaim::CameraClaim(CameraClaim&& other) noexcept = default;
CameraClaim& CameraClaim::operator=(CameraClaim&& other) noexcept = default;
CameraClaim::~CameraClaim() = default;

}  // namespace orvane::platform
