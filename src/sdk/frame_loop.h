// The acquisition thread of one SDK object: it waits for the device's frames, has its client deliver
// each one to the application, pauses the application's wait time between frames and measures the
// rate of the frames read. The client (the SDK object) owns the images, the device and the state.
//
// Threads: Start, RequestStop and Join come from the client's controlling thread (its control lock
// held, so that they never overlap); the client's callbacks and CountFrame run on the loop's thread;
// SetWaitTime, WaitTime and FrameRate from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <stop_token>
#include <thread>

#include "platform/thread_annotations.h"

namespace orvane::sdk {

class FrameLoop {
 public:
  // What the loop asks of its client, on the loop's thread.
  class Client {
   public:
    // Waits up to `ms` for the device's next frame: one of COrvaneR3O5Base's kWait results.
    virtual int WaitForFrame(int ms) = 0;
    // Delivers the frame the device has ready, in colour mode `mode` (the stream's).
    virtual void DeliverReadyFrame(int mode, const std::stop_token& stop) = 0;
    // The device's stream failed; the loop ends after this.
    virtual void StreamFailed() = 0;

   protected:
    ~Client() = default;
  };

  explicit FrameLoop(Client& client);
  ~FrameLoop();
  FrameLoop(const FrameLoop&) = delete;
  FrameLoop& operator=(const FrameLoop&) = delete;

  // Starts the thread for a stream of colour mode `mode`; false when no thread could be had.
  [[nodiscard]] bool Start(int mode);
  // Asks the thread to end: its pause ends at once, a frame being delivered is let finish its stage.
  void RequestStop();
  // Waits for the thread to end (after RequestStop, or after a failed stream).
  void Join();

  // Milliseconds paused before each wait for a frame (any non-negative value).
  void SetWaitTime(int milliseconds) { waitTime_ = milliseconds; }
  int WaitTime() const { return waitTime_.load(); }
  // Counts a frame read for the rate (loop thread); answers the rate in frames per second x 10.
  int CountFrame();
  int FrameRate() const { return frameRate_.load(); }

 private:
  void Run(const std::stop_token& stop, int mode);

  Client& client_;
  std::atomic<int> waitTime_{10};
  orvane::platform::Mutex waitMutex_;     // pairs with stopWait_ for the pause between frames
  std::condition_variable_any stopWait_;  // ended early by the thread's stop token
  // The rate's window: written by the loop thread only, and by Start before the thread exists.
  int frameCounter_ = 0;
  uint32_t lastRateTime_ = 0;
  std::atomic<int> frameRate_{0};
  std::jthread thread_;  // the client's controlling thread only
};

}  // namespace orvane::sdk
