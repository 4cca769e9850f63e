// Short writes for the tests (POSIX hosts only): the file size limit (RLIMIT_FSIZE, SIGXFSZ ignored)
// makes writes past it fail as a full disk does, for the whole process while the object lives.
#pragma once

#include <sys/resource.h>

#include <csignal>

namespace orvane::output::test {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    applied_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool Applied() const { return applied_; }

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = nullptr;
  bool applied_ = false;
};

}  // namespace orvane::output::test
