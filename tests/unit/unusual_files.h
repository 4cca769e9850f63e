// Paths that are not regular files, for the tests of loads that must refuse them at once: a
// directory, the zero device (never ends), a FIFO without a writer (an ordinary open blocks on it),
// and a sparse regular file of a given size. POSIX only.
#pragma once

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>

namespace orvane::test {

class SpecialFiles {
 public:
  SpecialFiles() {
    dir_ = std::filesystem::temp_directory_path() /
           ("orvane_unusual_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    std::filesystem::create_directories(dir_ / "a directory");
    ::mkfifo(Fifo().c_str(), 0600);
  }
  ~SpecialFiles() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string Directory() const { return (dir_ / "a directory").string(); }
  std::string Fifo() const { return (dir_ / "fifo").string(); }
  static std::string ZeroDevice() { return "/dev/zero"; }
  // A sparse regular file of `bytes` bytes starting with `head`.
  std::string Sized(const std::string& name, uint64_t bytes, const std::string& head = {}) const {
    const std::filesystem::path path = dir_ / name;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
      (void)!::write(fd, head.data(), head.size());
      (void)!::ftruncate(fd, static_cast<off_t>(bytes));
      ::close(fd);
    }
    return path.string();
  }

  // Runs `load` on another thread and answers whether it returned within a generous limit. When it
  // does not (it blocks on the FIFO), the FIFO is given a writer that closes at once, so the load
  // sees its end and the thread can be joined.
  bool ReturnsWithoutBlocking(const std::function<void()>& load) const {
    std::packaged_task<void()> task(load);
    std::future<void> done = task.get_future();
    std::thread runner(std::move(task));
    const bool returned = done.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
      int fd = ::open(Fifo().c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
    }
    runner.join();
    return returned;
  }

 private:
  static inline int counter_ = 0;
  std::filesystem::path dir_;
};

}  // namespace orvane::test
#endif
