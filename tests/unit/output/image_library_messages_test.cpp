// The image libraries' own diagnostics: a failing write must not print to the process's stderr
// (libpng and libtiff do by default); their messages reach the library's log instead.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "output/image_file_writer.h"
#include "output_test_util.h"
#include "platform/debug_output.h"
#include "platform/log.h"

namespace orvane::output {
namespace {

// Sends fd 2 into a file for its lifetime and gives back what was written there.
class CapturedStderr {
 public:
  explicit CapturedStderr(const std::string& path) : path_(path) {
    std::fflush(stderr);
    saved_ = ::dup(2);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 2);
    ::close(fd);
  }
  std::string Release() {
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    const std::vector<uint8_t> bytes = test::ReadFileBytes(path_);
    return std::string(bytes.begin(), bytes.end());
  }

 private:
  std::string path_;
  int saved_ = -1;
};

TEST(ImageLibraryMessages, AFailingWriteSaysNothingOnStderrAndLogsTheLibrarysMessage) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  test::TempDir dir("messages");
  image::DibImage frame;
  ASSERT_TRUE(frame.Create(400, 300, 24));
  test::FillFrame(frame, 4);  // noise: every form writes more than a stdio buffer
  std::mutex mutex;
  std::vector<std::string> logged;  // guarded by mutex
  ASSERT_TRUE(log::Configure("output:warn"));
  platform::SetDebugSink([&](const std::string& line) {
    std::lock_guard lock(mutex);
    logged.push_back(line);
  });
  const struct {
    int type;
    const char* library;
  } kForms[] = {{kFileTypePng, "libpng"}, {kFileTypeTiff, "libtiff"}, {kFileTypeJpeg100, "libjpeg"}};
  for (const auto& form : kForms) {
    {
      std::lock_guard lock(mutex);
      logged.clear();
    }
    CapturedStderr captured(dir.File("stderr"));
    const bool written = ImageFileWriter::Write("/dev/full", frame, form.type);
    const std::string printed = captured.Release();
    EXPECT_FALSE(written) << form.library;
    EXPECT_EQ(printed, "") << form.library;
    std::lock_guard lock(mutex);
    bool seen = false;
    for (const std::string& line : logged) seen = seen || line.find(form.library) != std::string::npos;
    EXPECT_TRUE(seen) << form.library << " said nothing in the log";
  }
  platform::SetDebugSink({});
  ASSERT_TRUE(log::Configure("error"));
}

}  // namespace
}  // namespace orvane::output
