// The extension exports (OrvaneSdkEx.h) against one virtual camera: frame metadata, the frame
// callback, stream statistics, error names and the pollable message queue.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <poll.h>
#endif

#include "OrvaneSdkEx.h"
#include "one_camera.h"

namespace {

// An application's frame callback that keeps the metadata of every frame it is given and lets the test
// wait for a number of them.
class FrameRecorder {
 public:
  // The callback to pass to OrvaneEx_SetFrameCallback with this recorder as context.
  static void ORVANE_CALL OnFrame(void* context, const unsigned char* frame, int32_t size,
                                  const OrvaneExFrameMetadata* metadata) {
    auto* self = static_cast<FrameRecorder*>(context);
    std::lock_guard lock(self->mutex_);
    self->frames_.push_back(*metadata);
    if (frame == nullptr || size < metadata->stride * metadata->height) ++self->malformed_;
    self->arrived_.notify_all();
  }

  // Waits (generous limit) until `count` frames have come; false when they did not.
  bool WaitFor(size_t count) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::seconds(60), [&] { return frames_.size() >= count; });
  }
  std::vector<OrvaneExFrameMetadata> Frames() {
    std::lock_guard lock(mutex_);
    return frames_;
  }
  int Malformed() {
    std::lock_guard lock(mutex_);
    return malformed_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<OrvaneExFrameMetadata> frames_;  // guarded by mutex_
  int malformed_ = 0;                          // guarded by mutex_
};

OrvaneExStreamStats StatsOf(int handle) {
  OrvaneExStreamStats stats{};
  stats.size = sizeof stats;
  EXPECT_EQ(OrvaneEx_GetStreamStats(handle, &stats), 1);
  return stats;
}

constexpr int kSmallBytes = SmallFrameBytes(8);

// A call's result and the newest code in the handle's history (popped), compared with Failed(code).
int g_handle = 0;
std::pair<int, int> Outcome(int result) { return {result, Orvane_GetLastError(g_handle)}; }
std::pair<int, int> Failed(int code) { return {0, code}; }

class Extensions : public OneCameraTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(OneCameraTest::SetUp());
    ASSERT_NO_FATAL_FAILURE(UseSmallFrames(handle_, 8));
    g_handle = handle_;
  }
  // Streams into the recorder until it holds `count` frames, then stops.
  std::vector<OrvaneExFrameMetadata> Stream(FrameRecorder& recorder, size_t count) {
    EXPECT_EQ(OrvaneEx_SetFrameCallback(handle_, &FrameRecorder::OnFrame, &recorder), 1);
    EXPECT_EQ(Orvane_StartPreview(handle_), 1);
    EXPECT_TRUE(recorder.WaitFor(count));
    EXPECT_EQ(Orvane_StopPreview(handle_), 1);
    EXPECT_EQ(OrvaneEx_SetFrameCallback(handle_, nullptr, nullptr), 1);
    return recorder.Frames();
  }
};

TEST_F(Extensions, SequenceRisesByOnePerFrameReadAndTheCountsAgree) {
  ASSERT_EQ(Orvane_SetWaitTime(handle_, 0), 1);
  FrameRecorder recorder;
  std::vector<OrvaneExFrameMetadata> frames = Stream(recorder, 12);
  ASSERT_GE(frames.size(), 12u);
  EXPECT_EQ(recorder.Malformed(), 0);
  EXPECT_GE(frames[0].sequence, 1u);
  EXPECT_EQ(frames[0].sequence, 1u + frames[0].skipped) << "the first frame read is 1";
  for (size_t i = 1; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].sequence, frames[i - 1].sequence + 1 + frames[i].skipped) << "frame " << i;
  }
  for (const OrvaneExFrameMetadata& m : frames) {
    EXPECT_EQ(m.size, sizeof(OrvaneExFrameMetadata));
    EXPECT_EQ(std::make_tuple(m.width, m.height, m.bitsPerPixel, m.stride, m.status),
              std::make_tuple(kSmallWidth, kSmallHeight, 8, kSmallWidth, ORVANE_EX_TRANSFER_OK));
    EXPECT_EQ(m.reserved, 0u);
  }
  const OrvaneExStreamStats stats = StatsOf(handle_);
  // The device counts a frame taken for delivery; a stop may come between the take and the callback.
  EXPECT_GE(stats.framesDelivered, frames.size());
  EXPECT_LE(stats.framesDelivered, frames.size() + 1);
  EXPECT_GE(stats.framesRead, frames.back().sequence);
  EXPECT_GE(stats.framesRead, stats.framesDelivered + stats.framesSkipped);
  uint64_t skipped = 0;
  for (const OrvaneExFrameMetadata& m : frames) skipped += m.skipped;
  EXPECT_GE(stats.framesSkipped, skipped);
  EXPECT_EQ(std::make_tuple(stats.failedTransfers, stats.resets), std::make_tuple(0u, 0u));
}

// Host nanoseconds per frame read between consecutive delivered frames.
std::vector<double> Spacings(const std::vector<OrvaneExFrameMetadata>& frames) {
  std::vector<double> spacings;
  for (size_t i = 1; i < frames.size(); ++i) {
    spacings.push_back(double(frames[i].hostTimeNs - frames[i - 1].hostTimeNs) /
                       double(frames[i].sequence - frames[i - 1].sequence));
  }
  return spacings;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Spacings more than half a period away from `period`; a loaded machine may delay one frame.
int OffPeriod(const std::vector<double>& spacings, double period) {
  return static_cast<int>(std::count_if(spacings.begin(), spacings.end(),
                                        [&](double s) { return s < 0.5 * period || s > 1.5 * period; }));
}

TEST_F(Extensions, HostTimesRiseByTheFramePeriodAndASlowConsumerSeesTheGapsAsSkipped) {
  ASSERT_EQ(Orvane_SetWaitTime(handle_, 0), 1);
  FrameRecorder fast;
  std::vector<OrvaneExFrameMetadata> frames = Stream(fast, 10);
  ASSERT_GE(frames.size(), 10u);
  const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  EXPECT_LE(frames.back().hostTimeNs, static_cast<uint64_t>(now.count()));
  EXPECT_GT(frames.back().hostTimeNs + 60'000'000'000ull, static_cast<uint64_t>(now.count()))
      << "not the host's monotonic clock";
  for (size_t i = 1; i < frames.size(); ++i) ASSERT_GT(frames[i].hostTimeNs, frames[i - 1].hostTimeNs);
  std::vector<double> spacings = Spacings(frames);
  const double period = Median(spacings);
  ASSERT_GT(period, 0);
  EXPECT_LE(OffPeriod(spacings, period), 1);

  // The acquisition loop pauses three frame periods before each frame: the frames read meanwhile are
  // replaced before delivery, and each delivered frame says how many.
  ASSERT_EQ(Orvane_SetWaitTime(handle_, static_cast<int>(3 * period / 1e6) + 1), 1);
  FrameRecorder slow;
  frames = Stream(slow, 8);
  ASSERT_GE(frames.size(), 8u);
  uint64_t skipped = 0;
  for (size_t i = 1; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].skipped, frames[i].sequence - frames[i - 1].sequence - 1) << "frame " << i;
    skipped += frames[i].skipped;
  }
  EXPECT_GE(skipped, frames.size() - 1) << "a consumer three periods slow skips frames";
  EXPECT_LE(OffPeriod(Spacings(frames), period), 1) << "frames read while the consumer slept keep the period";
}

// Counts the frames given to it and checks each against the application buffer it was copied to.
struct BufferCheck {
  const std::vector<unsigned char>* buffer = nullptr;
  std::atomic<int> calls{0};
  std::atomic<int> differing{0};
  std::atomic<bool> stopped{false};
  std::atomic<int> afterStop{0};

  static void ORVANE_CALL OnFrame(void* context, const unsigned char* frame, int32_t size,
                                  const OrvaneExFrameMetadata*) {
    auto* self = static_cast<BufferCheck*>(context);
    if (self->stopped) ++self->afterStop;
    if (size != static_cast<int32_t>(self->buffer->size()) || std::memcmp(frame, self->buffer->data(), size) != 0) {
      ++self->differing;
    }
    ++self->calls;
  }
};

TEST_F(Extensions, TheCallbackSeesEveryDeliveredFrameAfterItsCopyAndNoneAfterStop) {
  std::vector<unsigned char> buffer(kSmallBytes);
  BufferCheck check;
  check.buffer = &buffer;
  ASSERT_EQ(OrvaneEx_SetFrameCallback(handle_, &BufferCheck::OnFrame, &check), 1);
  ASSERT_EQ(Orvane_CallBackPreview(handle_, window_.handle(), buffer.data(), kSmallBytes, 1), 1);
  int messages = 0;
  while (messages < 6) {
    TakenMessage m = NextFrameMessage();
    ASSERT_NE(m.wParam, 0u) << "error " << m.lParam;
    ++messages;
  }
  ASSERT_EQ(Orvane_StopPreview(handle_), 1);
  check.stopped = true;
  TakenMessage m;
  while (window_.Take(&m, 0)) messages += m.message == ORVANE_WM_FRAME && m.wParam != 0;
  const OrvaneExStreamStats stats = StatsOf(handle_);
  EXPECT_GE(stats.framesDelivered, static_cast<uint64_t>(check.calls));
  EXPECT_LE(stats.framesDelivered, static_cast<uint64_t>(check.calls) + 1) << "taken, then the stop came";
  EXPECT_GE(check.calls, messages) << "a frame message without a callback";
  EXPECT_LE(check.calls, messages + 1) << "only a stop between the callback and the message drops one";
  EXPECT_EQ(check.differing, 0) << "the callback's frame is the application buffer's";
  // A snapshot is not a delivered frame of the stream; nothing reaches the callback after the stop.
  ASSERT_EQ(Orvane_SnapShot(handle_, buffer.data(), kSmallBytes, 1), 1);
  EXPECT_EQ(check.afterStop, 0);
  EXPECT_EQ(OrvaneEx_SetFrameCallback(handle_, nullptr, nullptr), 1);
}

// A callback that, on its first frame, waits for the test to replace it and then checks whether it
// is still running when the replacement returns; on later frames it calls the SDK from inside.
struct Reentrant {
  int handle = 0;
  std::mutex mutex;
  std::condition_variable changed;
  bool replacing = false;          // guarded by mutex
  bool entered = false;            // guarded by mutex
  std::atomic<bool> running{false};
  std::atomic<int> firstCalls{0};
  std::atomic<int> secondCalls{0};
  int stopResult = -1, stopError = -1, statsResult = -1, newestResult = -1, removeResult = -1;

  static void ORVANE_CALL First(void* context, const unsigned char*, int32_t, const OrvaneExFrameMetadata*) {
    auto* self = static_cast<Reentrant*>(context);
    self->running = true;
    std::unique_lock lock(self->mutex);
    self->entered = true;
    self->changed.notify_all();
    self->changed.wait_for(lock, std::chrono::seconds(60), [&] { return self->replacing; });
    ++self->firstCalls;
    self->running = false;
  }

  static void ORVANE_CALL Second(void* context, const unsigned char*, int32_t, const OrvaneExFrameMetadata* m) {
    auto* self = static_cast<Reentrant*>(context);
    if (++self->secondCalls > 1) return;
    OrvaneExStreamStats stats{};
    stats.size = sizeof stats;
    self->statsResult = OrvaneEx_GetStreamStats(self->handle, &stats);
    std::vector<unsigned char> copy(static_cast<size_t>(m->stride) * static_cast<size_t>(m->height));
    OrvaneExFrameMetadata newest{};
    newest.size = sizeof newest;
    self->newestResult = OrvaneEx_GetNewestFrame(self->handle, copy.data(), static_cast<int>(copy.size()), 1, &newest);
    // Stopping from inside would wait for this very thread: refused.
    self->stopResult = Orvane_StopPreview(self->handle);
    self->stopError = Orvane_GetLastError(self->handle);
    self->removeResult = OrvaneEx_SetFrameCallback(self->handle, nullptr, nullptr);
  }
};

TEST_F(Extensions, ReplacingTheCallbackWaitsForItAndTheCallbackMayCallTheSdk) {
  Reentrant r;
  r.handle = handle_;
  ASSERT_EQ(OrvaneEx_SetFrameCallback(handle_, &Reentrant::First, &r), 1);
  ASSERT_EQ(Orvane_CallBackPreview(handle_, window_.handle(), nullptr, 0, 1), 1);
  {
    std::unique_lock lock(r.mutex);
    ASSERT_TRUE(r.changed.wait_for(lock, std::chrono::seconds(60), [&] { return r.entered; }));
    r.replacing = true;
    r.changed.notify_all();
  }
  ASSERT_EQ(OrvaneEx_SetFrameCallback(handle_, &Reentrant::Second, &r), 1);
  EXPECT_FALSE(r.running) << "the replaced callback still ran after the replacement returned";
  EXPECT_EQ(r.firstCalls, 1);
  // Frame messages follow their callbacks: the first is of the replaced callback's frame, the second
  // of the second callback's first (where it removed itself), the third of a frame no callback saw.
  for (int i = 0; i < 3; ++i) ASSERT_NE(NextFrameMessage().wParam, 0u);
  ASSERT_EQ(Orvane_StopPreview(handle_), 1);
  EXPECT_EQ(r.secondCalls, 1) << "called again after it removed itself";
  EXPECT_EQ(std::make_tuple(r.statsResult, r.newestResult, r.stopResult, r.stopError, r.removeResult),
            std::make_tuple(1, 1, 0, ORVANE_ERR_NOT_NOW, 1));
}

TEST_F(Extensions, TheNewestFrameIsTheImageOfGetImageWithItsOwnMetadata) {
  FrameRecorder recorder;
  std::vector<OrvaneExFrameMetadata> frames = Stream(recorder, 3);
  std::vector<unsigned char> image(kSmallBytes), newest(kSmallBytes), reversed(kSmallBytes);
  ASSERT_EQ(Orvane_GetImage(handle_, image.data(), kSmallBytes, 1), 1);
  OrvaneExFrameMetadata m{};
  m.size = sizeof m;
  ASSERT_EQ(OrvaneEx_GetNewestFrame(handle_, newest.data(), kSmallBytes, 1, &m), 1);
  EXPECT_EQ(newest, image);
  EXPECT_EQ(std::memcmp(&m, &frames.back(), sizeof m), 0) << "the metadata of the last delivered frame";
  ASSERT_EQ(OrvaneEx_GetNewestFrame(handle_, reversed.data(), kSmallBytes, 0, &m), 1);
  for (int row : {0, 1, kSmallHeight - 1}) {
    EXPECT_EQ(std::memcmp(&reversed[size_t(row) * kSmallWidth], &image[size_t(kSmallHeight - 1 - row) * kSmallWidth],
                          kSmallWidth), 0) << "row " << row;
  }
}

TEST_F(Extensions, BadInputGetsItsCodeAndNothingElse) {
  std::vector<unsigned char> buffer(kSmallBytes, 0xA5);
  OrvaneExFrameMetadata m{};
  m.size = sizeof m;
  // Nothing delivered yet.
  EXPECT_EQ(Outcome(OrvaneEx_GetNewestFrame(handle_, buffer.data(), kSmallBytes, 1, &m)), Failed(ORVANE_ERR_NOT_NOW));
  OrvaneExStreamStats stats{};
  stats.size = sizeof stats;
  stats.framesRead = 77;
  ASSERT_EQ(OrvaneEx_GetStreamStats(handle_, &stats), 1);
  EXPECT_EQ(std::make_tuple(stats.size, stats.framesRead, stats.framesDelivered), std::make_tuple(56u, 0u, 0u));

  FrameRecorder recorder;
  Stream(recorder, 1);
  const uint64_t delivered = StatsOf(handle_).framesDelivered;
  EXPECT_EQ(Outcome(OrvaneEx_GetNewestFrame(handle_, buffer.data(), kSmallBytes, 1, nullptr)), Failed(ORVANE_ERR_ARGUMENT));
  OrvaneExFrameMetadata small{};
  small.size = offsetof(OrvaneExFrameMetadata, reserved);
  EXPECT_EQ(Outcome(OrvaneEx_GetNewestFrame(handle_, buffer.data(), kSmallBytes, 1, &small)), Failed(ORVANE_ERR_ARGUMENT));
  EXPECT_EQ(Outcome(OrvaneEx_GetNewestFrame(handle_, nullptr, kSmallBytes, 1, &m)), Failed(ORVANE_ERR_ARGUMENT));
  EXPECT_EQ(Outcome(OrvaneEx_GetNewestFrame(handle_, buffer.data(), -1, 1, &m)), Failed(ORVANE_ERR_ARGUMENT));
  EXPECT_EQ(Outcome(OrvaneEx_GetNewestFrame(handle_, buffer.data(), kSmallBytes - 1, 1, &m)), Failed(ORVANE_ERR_MEMORY));
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](unsigned char b) { return b == 0xA5; }))
      << "a refused copy wrote into the buffer";
  EXPECT_EQ(Outcome(OrvaneEx_GetStreamStats(handle_, nullptr)), Failed(ORVANE_ERR_ARGUMENT));
  OrvaneExStreamStats tiny{};
  tiny.size = 8;
  EXPECT_EQ(Outcome(OrvaneEx_GetStreamStats(handle_, &tiny)), Failed(ORVANE_ERR_ARGUMENT));
  EXPECT_EQ(tiny.framesRead, 0u);
  // Stats of a stopped camera are those of its last stream.
  EXPECT_EQ(StatsOf(handle_).framesDelivered, delivered);

  // An unknown handle: 0, and nothing recorded anywhere.
  const int unknown = handle_ ^ 0x5A5A5A5A;
  EXPECT_EQ(OrvaneEx_GetNewestFrame(unknown, buffer.data(), kSmallBytes, 1, &m), 0);
  EXPECT_EQ(OrvaneEx_GetStreamStats(unknown, &stats), 0);
  EXPECT_EQ(OrvaneEx_SetFrameCallback(unknown, &FrameRecorder::OnFrame, &recorder), 0);
  EXPECT_EQ(Orvane_GetLastError(handle_), 0);
  // The camera is usable afterwards.
  FrameRecorder again;
  EXPECT_GE(Stream(again, 2).size(), 2u);
}

TEST(ExtensionNames, EveryErrorCodeHasItsNameAndOthersAreUnknown) {
  const char* const names[] = {"ORVANE_ERR_NONE", "ORVANE_ERR_NOT_NOW", "ORVANE_ERR_NO_CAMERA", "ORVANE_ERR_THREAD",
                               "ORVANE_ERR_WINDOW", "ORVANE_ERR_MEMORY", "ORVANE_ERR_DEVICE_IO", "ORVANE_ERR_GEOMETRY",
                               "ORVANE_ERR_TRANSFER", "ORVANE_ERR_ARGUMENT", "ORVANE_ERR_UNUSED_10",
                               "ORVANE_ERR_NOT_SUPPORTED", "ORVANE_ERR_CONVERSION", "ORVANE_ERR_STREAM",
                               "ORVANE_ERR_MASK_FILE"};
  for (int code = 0; code <= ORVANE_ERR_MASK_FILE; ++code) EXPECT_STREQ(OrvaneEx_GetErrorName(code), names[code]);
  for (int code : {-1, 15, 255, INT_MAX, INT_MIN}) EXPECT_STREQ(OrvaneEx_GetErrorName(code), "unknown") << code;
}

#ifndef _WIN32
bool Readable(int fd, int timeoutMs) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, timeoutMs) == 1 && (entry.revents & POLLIN) != 0;
}

TEST_F(Extensions, PollOnTheQueueDescriptorWakesForTheSdksMessages) {
  const int fd = OrvaneEx_GetMessageQueueFd(window_.handle());
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(Readable(fd, 0)) << "SetUp took every message";
  EXPECT_EQ(Orvane_Fps(handle_), 0);  // posts error 11 without recording it
  ASSERT_TRUE(Readable(fd, 60000));
  TakenMessage m;
  ASSERT_TRUE(window_.Take(&m, 0));
  EXPECT_EQ(std::make_tuple(m.message, m.lParam), std::make_tuple(unsigned{ORVANE_WM_ERROR}, intptr_t{11}));
  EXPECT_FALSE(Readable(fd, 0));
  // Frame messages posted by the acquisition thread wake a poll of the application's thread.
  ASSERT_EQ(Orvane_CallBackPreview(handle_, window_.handle(), nullptr, 0, 1), 1);
  ASSERT_TRUE(Readable(fd, 60000));
  ASSERT_TRUE(window_.Take(&m, 0));
  EXPECT_EQ(m.message, unsigned{ORVANE_WM_FRAME});
  ASSERT_EQ(Orvane_StopPreview(handle_), 1);
  EXPECT_EQ(OrvaneEx_GetMessageQueueFd(nullptr), -1);
}
#else
TEST_F(Extensions, WindowsHaveNoQueueDescriptor) {
  EXPECT_EQ(OrvaneEx_GetMessageQueueFd(window_.handle()), -1);
  EXPECT_EQ(OrvaneEx_GetMessageQueueFd(nullptr), -1);
}
#endif

}  // namespace
