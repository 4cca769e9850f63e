// The recorder on its own: its thread, the real AVI writer and real files, fed by a fake frame source
// that stands in for the acquisition thread's converted frames (numbered, with the capture times the
// test chooses, so the duration and the declared rate follow from the frames alone).
#include "sdk/recorder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "../output/avi_test_reader.h"
#include "OrvaneSdk.h"
#include "output/avi_frame.h"

#ifndef _WIN32
#include "../output/file_size_limit.h"
#endif

namespace {

using orvane::output::test::FrameNumber;
using orvane::output::test::Le32;
using orvane::output::test::NumberedFrame;
using orvane::output::test::ReadFileBytes;
using orvane::output::test::TempDir;
using orvane::sdk::Recorder;

constexpr int kWidth = 64;
constexpr int kHeight = 32;
// Far beyond any wait on a loaded machine: a wait that reaches it is a hang.
constexpr auto kHangLimit = std::chrono::seconds(120);

// The acquisition thread's side: every call hands out the next numbered frame, captured 100 ms after
// the one before, unless the test made that call fail (the frame changed geometry). Records the error
// the recorder reports.
class FakeFrameSource {
 public:
  bool Take(uint8_t* out, size_t size, uint32_t* captureMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint32_t number = ++calls_;
    changed_.notify_all();
    for (uint32_t failing : failingCalls_) {
      if (failing == number) return false;
    }
    const std::vector<uint8_t> frame = NumberedFrame(size, number);
    std::memcpy(out, frame.data(), size);
    *captureMs = (number - 1) * 100;
    return true;
  }
  void Error(int code) {
    std::lock_guard<std::mutex> lock(mutex_);
    error_ = code;
    changed_.notify_all();
  }
  void FailCall(uint32_t number) {
    std::lock_guard<std::mutex> lock(mutex_);
    failingCalls_.push_back(number);
  }
  // Waits until the recorder has asked for `count` frames or reported an error; false on neither.
  bool WaitForCalls(uint32_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kHangLimit, [&] { return calls_ >= count || error_ != 0; });
  }
  uint32_t Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  int ErrorCode() {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  uint32_t calls_ = 0;
  int error_ = 0;
  std::vector<uint32_t> failingCalls_;
};

class RecorderTest : public ::testing::Test {
 protected:
  // Tells the recorder of `count` new frames, one at a time, each once the one before was taken.
  void Deliver(uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t next = source_.Calls() + 1;
      recorder_.FrameReady();
      ASSERT_TRUE(source_.WaitForCalls(next)) << "the recorder never took frame " << next;
    }
  }
  // The frame numbers stored in the file, in file order (frames follow "movi" at 232 back to back).
  std::vector<uint32_t> StoredFrames(const std::vector<uint8_t>& file) const {
    const size_t frameBytes = orvane::output::AviFrameBytes(kWidth, kHeight);
    std::vector<uint32_t> numbers;
    for (uint32_t i = 0; i < Le32(&file[140]); ++i) {
      const size_t at = 232 + 8 + i * (frameBytes + 8);
      if (at + frameBytes > file.size()) break;
      numbers.push_back(FrameNumber(&file[at]));
    }
    return numbers;
  }

  TempDir dir_{"recorder"};
  const std::string path_ = dir_.File("clip.avi");
  FakeFrameSource source_;
  Recorder recorder_{[this](uint8_t* out, size_t size, uint32_t* ms) { return source_.Take(out, size, ms); },
                     [this](int code) { source_.Error(code); }};
};

TEST_F(RecorderTest, ARecordingEndsByItselfOnceItsDurationHasPassedSinceTheFirstFrame) {
  EXPECT_FALSE(recorder_.Active());
  ASSERT_TRUE(recorder_.Open(path_.c_str(), kWidth, kHeight));
  ASSERT_TRUE(recorder_.Start(250));
  EXPECT_TRUE(recorder_.Active());
  // Frames captured at 0, 100, 200 and 300 ms: the fourth is past 250 ms, and the recording ends with it.
  Deliver(4);
  recorder_.Reap();  // joins the thread that ended by itself
  EXPECT_FALSE(recorder_.Active());
  EXPECT_EQ(source_.ErrorCode(), 0);

  const std::vector<uint8_t> file = ReadFileBytes(path_);
  ASSERT_GT(file.size(), 232u);
  EXPECT_EQ(Le32(&file[48]), 4u);   // the main header's frame count
  EXPECT_EQ(Le32(&file[140]), 4u);  // the stream's length
  EXPECT_EQ(Le32(&file[32]), 100'000u) << "4 frames over 300 ms of capture time are 10 frames a second";
  EXPECT_EQ(StoredFrames(file), (std::vector<uint32_t>{1, 2, 3, 4}));
}

TEST_F(RecorderTest, StopBeforeTheDurationFinishesTheFileWithTheFramesSoFar) {
  ASSERT_TRUE(recorder_.Open(path_.c_str(), kWidth, kHeight));
  ASSERT_TRUE(recorder_.Start(60'000));
  Deliver(3);
  recorder_.Stop();
  EXPECT_FALSE(recorder_.Active());
  EXPECT_EQ(source_.ErrorCode(), 0);

  const std::vector<uint8_t> file = ReadFileBytes(path_);
  ASSERT_GT(file.size(), 232u);
  EXPECT_EQ(Le32(&file[48]), 3u);
  EXPECT_EQ(Le32(&file[140]), 3u);
  EXPECT_EQ(Le32(&file[32]), 100'000u);
  EXPECT_EQ(StoredFrames(file), (std::vector<uint32_t>{1, 2, 3}));
  // A stop with no recording left, and a second one, change nothing.
  recorder_.Stop();
  EXPECT_EQ(ReadFileBytes(path_), file);
}

TEST_F(RecorderTest, AFrameTheSourceCannotGiveIsSkippedAndTheRecordingGoesOn) {
  source_.FailCall(2);
  ASSERT_TRUE(recorder_.Open(path_.c_str(), kWidth, kHeight));
  ASSERT_TRUE(recorder_.Start(60'000));
  Deliver(4);
  EXPECT_TRUE(recorder_.Active());
  recorder_.Stop();
  EXPECT_EQ(source_.ErrorCode(), 0) << "a frame of another geometry is no write error";

  const std::vector<uint8_t> file = ReadFileBytes(path_);
  ASSERT_GT(file.size(), 232u);
  EXPECT_EQ(Le32(&file[140]), 3u);
  EXPECT_EQ(StoredFrames(file), (std::vector<uint32_t>{1, 3, 4}));
}

TEST_F(RecorderTest, ANewRecordingStartsAfterOneThatEndedByItself) {
  ASSERT_TRUE(recorder_.Open(path_.c_str(), kWidth, kHeight));
  ASSERT_TRUE(recorder_.Start(50));
  Deliver(2);  // 0 and 100 ms: past 50 ms
  recorder_.Reap();
  ASSERT_FALSE(recorder_.Active());

  const std::string second = dir_.File("second.avi");
  ASSERT_TRUE(recorder_.Open(second.c_str(), kWidth, kHeight));
  ASSERT_TRUE(recorder_.Start(60'000));
  Deliver(2);
  recorder_.Stop();
  EXPECT_EQ(StoredFrames(ReadFileBytes(second)), (std::vector<uint32_t>{3, 4}));
  EXPECT_EQ(StoredFrames(ReadFileBytes(path_)), (std::vector<uint32_t>{1, 2}));
}

TEST_F(RecorderTest, AFileThatCannotBeCreatedIsRefused) {
  EXPECT_FALSE(recorder_.Open(dir_.File("missing/clip.avi").c_str(), kWidth, kHeight));
  EXPECT_FALSE(recorder_.Active());
}

#ifndef _WIN32
using orvane::output::test::FileSizeLimit;

TEST_F(RecorderTest, AWriteFailureEndsTheRecordingWithError12AndTheFileStaysReadable) {
  std::vector<uint8_t> file;
  {
    FileSizeLimit limit(64 * 1024);  // room for the header and about ten frames
    if (!limit.Applied()) GTEST_SKIP() << "file size limit not permitted";
    ASSERT_TRUE(recorder_.Open(path_.c_str(), kWidth, kHeight));
    ASSERT_TRUE(recorder_.Start(600'000));
    for (uint32_t i = 1; i <= 1000 && source_.ErrorCode() == 0; ++i) {
      recorder_.FrameReady();
      ASSERT_TRUE(source_.WaitForCalls(i)) << "the recorder neither took frame " << i << " nor failed";
    }
    recorder_.Reap();  // the recording ended by itself
  }
  EXPECT_EQ(source_.ErrorCode(), ORVANE_ERR_CONVERSION);
  EXPECT_FALSE(recorder_.Active());
  const uint32_t calls = source_.Calls();
  ASSERT_LT(calls, 1000u);

  // The header tells the frames that were written before the failure, and they are in the file.
  file = ReadFileBytes(path_);
  ASSERT_GT(file.size(), 232u);
  const uint32_t stored = Le32(&file[140]);
  EXPECT_GT(stored, 0u);
  EXPECT_LE(stored, calls);
  const std::vector<uint32_t> numbers = StoredFrames(file);
  ASSERT_EQ(numbers.size(), stored);
  for (uint32_t i = 0; i < stored; ++i) EXPECT_EQ(numbers[i], i + 1);
}
#endif

}  // namespace
