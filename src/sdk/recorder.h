// The recorder of one SDK object: an AVI file written by its own thread from the frames the acquisition
// thread converts. The SDK object opens it on the output image's geometry, starts it, tells it of every
// converted frame, and stops it (which finishes the file).
//
// Threads: the controlling thread (the SDK object's control lock held) calls Open, Start, Stop and Reap;
// the acquisition thread calls FrameReady with the frame lock held; the recording thread runs Run and
// takes the frame lock (inside the frame source) while holding none of the recorder's. Lock order:
// control lock, frame lock, then mutex_.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <thread>
#include <vector>

#include "output/avi_writer.h"
#include "platform/thread_annotations.h"

namespace orvane::sdk {

class Recorder {
 public:
  // Converts the newest output image into `out` (`size` bytes, one AVI frame) and gives the time it
  // was captured (millisecond clock); false when the frame no longer has the recording's geometry.
  using FrameSource = std::function<bool(uint8_t* out, size_t size, uint32_t* captureMs)>;
  // Records an error code for the SDK object (a failed write ends the recording with it).
  using ErrorSink = std::function<void(int code)>;

  Recorder(FrameSource source, ErrorSink errors);
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // True from Start until the recording has ended (its duration passed, it was stopped, a write failed).
  [[nodiscard]] bool Active() const { return active_.load(); }
  // Joins the thread of a recording that ended by itself, so that a new one may start.
  void Reap();
  // Creates the file for frames of `width` x `height`; false when it cannot be created.
  [[nodiscard]] bool Open(const char* fileName, int width, int height);
  // Starts the recording thread on the opened file; false (the file closed) when no thread could be had.
  [[nodiscard]] bool Start(int durationMs);
  // Ends a recording in progress, waiting for its thread to finish the file.
  void Stop();
  // A new frame was converted (acquisition thread): wakes the recording thread.
  void FrameReady();

 private:
  void Run(const std::stop_token& stop, int durationMs);
  // Appends the newest frame; false when nothing was appended (`failed` set for a write error).
  bool AppendFrame(uint32_t* captureMs, bool* failed);

  FrameSource source_;
  ErrorSink errors_;
  orvane::platform::Mutex mutex_;
  std::condition_variable_any frameReady_;  // waits on mutex_; notified by FrameReady and by a stop
  bool newFrame_ ORVANE_GUARDED_BY(mutex_) = false;
  // Written by Start (before the thread exists) and by the thread when it ends; read by any thread.
  std::atomic<bool> active_{false};
  // The writer and its frame buffer belong to the recording thread while it runs, to the controlling
  // thread otherwise (Open, Start and Stop run only while no recording thread runs or after its join).
  orvane::output::AviWriter avi_;
  std::vector<uint8_t> frame_;
  std::jthread thread_;  // controlling thread only
};

}  // namespace orvane::sdk
