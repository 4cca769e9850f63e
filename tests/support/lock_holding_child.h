// A child process that takes a lock (a file lock, a camera claim) and keeps it until the test kills it:
// the "other process" that holds a lock and never lets go. POSIX only.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

class LockHoldingChild {
 public:
  // Forks a child that calls `take` (which must use only calls that are safe after fork), tells the
  // parent whether it got the lock and then waits to be killed. Returns once the child has told.
  template <typename Take>
  explicit LockHoldingChild(Take take) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      const char answer = take() ? 'L' : 'F';
      if (write(ready[1], &answer, 1) != 1) _exit(2);
      for (;;) pause();
    }
    close(ready[1]);
    char answer = 0;
    if (pid_ > 0 && read(ready[0], &answer, 1) == 1) {
      reported_ = true;
      holds_ = answer == 'L';
    }
    close(ready[0]);
  }
  ~LockHoldingChild() { static_cast<void>(Kill()); }
  LockHoldingChild(const LockHoldingChild&) = delete;
  LockHoldingChild& operator=(const LockHoldingChild&) = delete;

  // The child started and said whether it got the lock.
  bool reported() const { return reported_; }
  // The child said it holds the lock.
  bool holds() const { return holds_; }

  // Kills the child with SIGKILL, so that the lock goes with its death; true once it is reaped.
  [[nodiscard]] bool Kill() {
    if (pid_ <= 0) return false;
    kill(pid_, SIGKILL);
    int status = 0;
    const bool reaped = waitpid(pid_, &status, 0) == pid_;
    pid_ = -1;
    return reaped;
  }

 private:
  pid_t pid_ = -1;
  bool reported_ = false;
  bool holds_ = false;
};

// Takes an exclusive flock on `path`, creating the file 0600 when it is missing; the descriptor is
// left open, so the lock lasts as long as the process. Safe after fork.
inline bool LockFileForever(const char* path) {
  const int fd = open(path, O_RDWR | O_CREAT, 0600);
  return fd >= 0 && flock(fd, LOCK_EX) == 0;
}
