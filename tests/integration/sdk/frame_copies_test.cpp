// How many times a frame is copied whole between the USB read and the application's buffer or the AVI
// file. Per delivered frame:
//   1. ring slot -> raw image, in the orientation and at the stride of the image (the acquisition thread
//      hands the newest frame out; the frame was read straight into a free ring buffer, which copies
//      nothing)
//   2. output image -> application buffer (callback preview), or -> the recorder's stored form
// In 8- and 16-bit modes the raw image is the output image; in colour modes the demosaic writes the
// output, which is image processing, not a copy. So: at most 2 in every mode. (The software mirror adds
// two; the stream here is not mirrored.) Frames the preview skips cost no copy.
//
// A run counts between two frame messages, so every copy counted belongs to a delivered frame; on a
// loaded machine the acquisition thread may have begun the frame after the last one counted when the
// count is read: one copy off. A run that disagrees is measured again; a path that copies a frame once
// more is off by a copy per delivered frame in every run and fails.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "OrvaneSdk.h"
#include "platform/frame_copies.h"
#include "sim/fault_injection.h"
#include "sim/virtual_camera.h"
#include "test_camera.h"
#include "test_settings.h"
#include "test_window.h"

namespace {

constexpr int kFrames = 4;
constexpr int kAttempts = 5;
// The exposure (300 ms, a second in sanitised builds) stretches the frame period past it: the
// acquisition thread, with the sub-sampled 2048 x 1080 frame, is usually done with each frame before the
// next arrives.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kExposure100us = 10000;  // sanitised builds convert and record several times slower
#else
constexpr int kExposure100us = 3000;
#endif

// What one run moved: copies counted, frames the camera completed, frames the application was told
// of (frame messages) or that the AVI file holds.
struct StreamRun {
  uint64_t copies = 0;
  uint64_t sent = 0;
  uint64_t delivered = 0;
};

class FrameCopies : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kOneVirtualCamera);
    UseFreshSettingsStore();
    handle_ = Orvane_Initialize(nullptr);
    ASSERT_NE(handle_, 0);
    camera_ = dynamic_cast<orvane::sim::VirtualCamera*>(orvane::sim::ProcessCameraFaults(1));
    ASSERT_NE(camera_, nullptr);
    ASSERT_EQ(Orvane_SetExposureTime(handle_, kExposure100us), 1);
    // The smallest frame this camera sends: 2 x 2 sub-sampling, 2048 x 1080.
    ASSERT_EQ(Orvane_SetSubSample(handle_, 17), 1);
  }
  void TearDown() override { EXPECT_EQ(Orvane_Release(handle_), 1); }

  uint64_t Sent() const { return camera_->counters().framesCompleted; }

  // Takes `count` frame messages; false on a failure message or when none comes for 10 s.
  bool TakeFrames(int count) {
    TakenMessage m;
    for (int taken = 0; taken < count;) {
      if (!window_.Take(&m)) return false;
      if (m.message != ORVANE_WM_FRAME) continue;
      if (m.wParam == 0) return false;
      ++taken;
    }
    return true;
  }

  // Stops the stream and drops the messages it left, so that the next run starts with none.
  void Stop() {
    EXPECT_EQ(Orvane_StopPreview(handle_), 1);
    TakenMessage m;
    while (window_.Take(&m, 0)) {
    }
  }

  // Counts between the first frame message and the one kFrames later, away from the stream's start and
  // stop: the copies of kFrames frames, each made before its message.
  StreamRun Preview(std::vector<unsigned char>& buffer) {
    StreamRun run;
    EXPECT_EQ(Orvane_CallBackPreview(handle_, window_.handle(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
    if (TakeFrames(1)) {
      const uint64_t copies = orvane::platform::FrameCopies(), sent = Sent();
      if (TakeFrames(kFrames)) {
        run.copies = orvane::platform::FrameCopies() - copies;
        run.sent = Sent() - sent;
        run.delivered = kFrames;
      }
    }
    Stop();
    return run;
  }

  // A whole recording, its frames counted in the finished file; the frame messages of a callback
  // preview without a buffer only pace the test. The recorder converts on its own thread, so the copies
  // are counted once everything has stopped.
  StreamRun Record(const std::filesystem::path& file) {
    StreamRun run;
    const uint64_t copies = orvane::platform::FrameCopies(), sent = Sent();
    EXPECT_EQ(Orvane_Record(handle_, file.string().c_str(), 600000, 0), 1);
    EXPECT_EQ(Orvane_CallBackPreview(handle_, window_.handle(), nullptr, 0, 1), 1);
    EXPECT_TRUE(TakeFrames(kFrames)) << "frames stopped coming";
    Stop();
    run.copies = orvane::platform::FrameCopies() - copies;
    run.sent = Sent() - sent;
    std::ifstream in(file, std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
    if (bytes.size() >= 52) {  // the main header's frame count
      run.delivered = bytes[48] | bytes[49] << 8 | bytes[50] << 16 | static_cast<uint64_t>(bytes[51]) << 24;
    }
    return run;
  }

  // Measures with `once` until a run agrees or the attempts are used up: `expected` copies per
  // delivered frame, whatever the camera sent besides.
  template <typename Once>
  void ExpectCopiesPerFrame(uint64_t expected, Once once) {
    StreamRun run;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
      run = once();
      // A recorder that fell behind stored fewer frames than were delivered: fewer, but some.
      ASSERT_GE(run.delivered, 1u) << "frames stopped coming";
      if (run.copies == expected * run.delivered) return;
    }
    FAIL() << "no run out of " << kAttempts << " agreed; the last: " << run.sent << " sent, " << run.delivered
           << " delivered, " << run.copies << " copies, " << expected * run.delivered << " expected";
  }

  int handle_ = 0;
  orvane::sim::VirtualCamera* camera_ = nullptr;
  TestWindow window_;
};

TEST_F(FrameCopies, CallBackPreviewCopiesEachFrameTwiceInEveryColourMode) {
  for (const int bits : {8, 16, 24, 32, 48, 64}) {
    SCOPED_TRACE(std::to_string(bits) + " bits");
    ASSERT_EQ(Orvane_SetColorMode(handle_, bits), 1);
    std::vector<unsigned char> buffer(size_t{2048} * 1080 * bits / 8);
    ExpectCopiesPerFrame(2, [&] { return Preview(buffer); });
  }
  EXPECT_EQ(Orvane_GetLastError(handle_), 0);
}

TEST_F(FrameCopies, RecordingCopiesEachFrameTwice) {
  ASSERT_EQ(Orvane_SetColorMode(handle_, 24), 1);
  const auto file = std::filesystem::temp_directory_path() /
                    ("orvane_frame_copies_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".avi");
  ExpectCopiesPerFrame(2, [&] { return Record(file); });
  std::filesystem::remove(file);
  EXPECT_EQ(Orvane_GetLastError(handle_), 0);
}

}  // namespace
