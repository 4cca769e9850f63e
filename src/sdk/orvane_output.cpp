// Image files and AVI recording of the processed frames.

#include <chrono>
#include <system_error>

#include "output/avi_frame.h"
#include "output/image_file_writer.h"
#include "platform/log.h"
#include "platform/time.h"
#include "sdk/orvane.h"

int COrvane::SaveImage(const char* fileName, int type) {
  if (fileName == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  if (!HasDevice() || imageValid_ == 0) {
    ReportError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  if (fileName[0] == '\0') return 0;
  // The whole write runs under the frame lock: the acquisition thread waits instead of replacing
  // the frame being saved.
  std::lock_guard frame(frameLock_);
  const orvane::image::DibImage* output = OutputImage();
  if (output == nullptr || !output->Valid()) {
    ReportError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  return orvane::output::ImageFileWriter::Write(fileName, *output, type, 16) ? 1 : 0;
}

int COrvane::Record(const char* fileName, int durationMs, int showWindow) {
  if (fileName == nullptr || fileName[0] == '\0') {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  if (!RequireDevice()) return 0;
  std::lock_guard control(controlMutex_);
  if (recording_ != 0) {
    ReportError(ORVANE_ERR_NOT_NOW);  // one recording at a time
    return 0;
  }
  if (recordingThread_.joinable()) recordingThread_.join();  // a recording that finished by itself
  {
    std::lock_guard lock(windowMutex_);
    callbackWindow_ = nullptr;
    appBuffer_ = nullptr;
    appBufferSize_ = 0;
    appRowOrder_ = 0;
  }
  if (showWindow != 0 && acquisitionMode_ != 1 && !CreatePreviewWindow()) return 0;
  bool started = StartPreview() != 0;
  if (started) {
    std::lock_guard frame(frameLock_);
    const orvane::image::DibImage* output = OutputImage();
    started = output != nullptr && output->Valid() && avi_.Create(fileName, output->Width(), output->Height());
    if (started) aviFrame_.resize(orvane::output::AviFrameBytes(output->Width(), output->Height()));
  }
  if (!started) {
    ORVANE_LOG(kOutput, kError, "recording into %s could not start", fileName);
    Close();
    ReportError(ORVANE_ERR_CONVERSION);
    return 0;
  }
  {
    std::lock_guard lock(newFrameMutex_);
    newFrame_ = 0;
  }
  SetRecording(1);
  ORVANE_LOG(kOutput, kInfo, "recording %d ms into %s", durationMs, fileName);
  try {
    recordingThread_ = std::thread([this, durationMs] { RecordingLoop(durationMs); });
  } catch (const std::system_error&) {
    SetRecording(0);
    avi_.Close();
    Close();
    ReportError(ORVANE_ERR_THREAD);
    return 0;
  }
  return 1;
}

void COrvane::SetRecording(int value) {
  {
    std::lock_guard lock(newFrameMutex_);
    recording_ = value;
  }
  newFrameReady_.notify_all();
}

// The recording thread: appends each new processed frame, brings the file's header and index up to
// date at least once a second (so a killed process leaves the frames up to then readable), and when the
// duration (counted from the first frame's capture) has passed, or the recording is stopped, finishes the
// file with the rate of the stored frames. It wakes for every frame the acquisition thread converts, so as
// long as it keeps up no frame is skipped; a frame that arrives while it is still writing the previous one
// replaces the one before it. Duration and rate follow the frames' capture times, not the moments the
// recorder got to them, so a recorder that lags on a loaded machine still declares the pace of the frames
// it stored. A write error ends the recording with error 12, the file finished as far as it can be.
void COrvane::RecordingLoop(int durationMs) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kUpdateInterval = std::chrono::milliseconds(500);
  bool failed = false;
  uint32_t first = 0, last = 0, count = 0;
  auto nextUpdate = Clock::now() + kUpdateInterval;
  while (recording_ != 0 && !failed) {
    bool frameReady;
    {
      std::unique_lock lock(newFrameMutex_);
      frameReady = newFrameReady_.wait_until(lock, nextUpdate, [this] { return newFrame_ != 0 || recording_ == 0; });
      if (recording_ == 0) break;
      if (frameReady) newFrame_ = 0;
    }
    uint32_t captured = 0;
    if (frameReady && RecordFrame(&captured, &failed)) {
      if (count++ == 0) first = captured;
      last = captured;
      if (static_cast<int32_t>(last - first - static_cast<uint32_t>(durationMs)) > 0) break;
    }
    if (Clock::now() >= nextUpdate) {
      failed = !avi_.Update();
      nextUpdate = Clock::now() + kUpdateInterval;
    }
  }
  // The duration passed, the recording was stopped, or a write failed: the file is finished either way.
  if (!avi_.Finish(orvane::output::RecordedRateTimes100(count, first, last)) || failed) {
    ReportError(ORVANE_ERR_CONVERSION);
  }
  ORVANE_LOG(kOutput, kInfo, "recording finished: %u frames%s", count, failed ? " (write error)" : "");
  SetRecording(0);
}

// Converts the newest frame and appends it, with the time it was captured. False when nothing was
// appended: the frame no longer has the recording's size, or the write failed (`failed` set).
bool COrvane::RecordFrame(uint32_t* captureMs, bool* failed) {
  bool converted;
  {
    std::lock_guard frame(frameLock_);
    const orvane::image::DibImage* output = OutputImage();
    converted = output != nullptr && orvane::output::ConvertToAviFrame(*output, aviFrame_.data(), aviFrame_.size());
    *captureMs = frameCaptureMs_;
  }
  if (!converted) return false;
  if (!avi_.AddFrame(aviFrame_.data(), aviFrame_.size())) {
    // A write error (disk full) ends the recording; the file is finished as far as it can be.
    ORVANE_LOG(kOutput, kError, "recording: writing frame %u failed, the recording ends", avi_.FrameCount() + 1);
    *failed = true;
    return false;
  }
  return true;
}

void COrvane::StopRecording() {
  SetRecording(0);
  if (recordingThread_.joinable()) recordingThread_.join();
  // The thread has finished the file; this only closes one whose thread never ran.
  avi_.Close();
}
