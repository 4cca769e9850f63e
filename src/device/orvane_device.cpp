// The device object's parts: the open sequence (device_open.cpp), the streaming engine (here), the
// settings (device_settings.cpp) and the auxiliary I/O (device_auxiliary_io.cpp).
#include "device/orvane_device.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "device/controller_info.h"
#include "hardware/camera_registers.h"
#include "platform/log.h"
#include "platform/thread.h"
#include "platform/time.h"
#include "sim/environment_driver.h"

using orvane::device::FrameMetadata;
using orvane::device::SyncEvent;

namespace {

constexpr uint8_t kStreamEndpoint = 0x81;

namespace fpga = orvane::camera::fpga;
using orvane::device::kFirmwarePipeReset;
using orvane::device::kInfoFirmwareVersionOffset;

// Streaming.
constexpr int kMaxFailedAttempts = 5;
constexpr int32_t kSinglePieceTimeoutMs = 3000;
constexpr uint32_t kSingleFrameGiveUpMs = 9999;
constexpr int kSingleFrameMaxFailures = 10;
constexpr uint32_t kStopSettleMs = 100;
constexpr int64_t kThreadEndWaitMs = 3000;
// A stop lets the read in progress end by itself for about one frame-header attempt (400 ms); a read
// still pending after that waits for a frame that is not coming (a stalled pipe) and is aborted, so
// that a stop never holds its caller for the reader's remaining retries.
constexpr int64_t kStopGraceMs = 500;
constexpr int64_t kRestartCheckMs = 5;

uint32_t AlignTransferBuffer(uint64_t bytes) { return static_cast<uint32_t>((bytes + 8191) & ~uint64_t{8191}); }

}  // namespace

std::mutex& COrvaneR3O5Base::ClassLock() {
  static std::mutex lock;
  return lock;
}

COrvaneR3O5Base::COrvaneR3O5Base() {
  // The controllers made here reach the virtual cameras instead of the platform's driver when the
  // environment asks for them; the seam itself knows nothing of them.
  orvane::usb::OfferDriverChooser(&orvane::sim::EnvironmentDriver);
  controllerFactory_ = [](const InterfaceClassGuid& guid) { return CreateCameraController(guid); };
}

COrvaneR3O5Base::~COrvaneR3O5Base() { Close(); }

void COrvaneR3O5Base::SetTiming(Sleeper sleeper, Clock clock) {
  sleeper_ = std::move(sleeper);
  clock_ = std::move(clock);
  if (sensor_) sensor_->SetSleeper(sleeper_);
}

void COrvaneR3O5Base::Sleep(uint32_t ms) const {
  if (sleeper_) {
    sleeper_(ms);
  } else {
    orvane::platform::SleepMs(ms);
  }
}

uint32_t COrvaneR3O5Base::Now() const { return clock_ ? clock_() : orvane::platform::TickCountMs(); }

// ---------------------------------------------------------------------------------------------------
// Streaming engine

void COrvaneR3O5Base::EnsureFrameEvent() {
  std::lock_guard<std::mutex> events(eventLock_);
  if (!frameEvent_) frameEvent_ = std::make_shared<SyncEvent>();
}

std::shared_ptr<SyncEvent> COrvaneR3O5Base::FrameEvent() {
  std::lock_guard<std::mutex> events(eventLock_);
  return frameEvent_;
}

void COrvaneR3O5Base::SignalFrameEvent() {
  if (auto event = FrameEvent()) event->Set();
}

int COrvaneR3O5Base::SetCaptureMode(int32_t mode) {
  if (!controller_ || mode < 0 || mode > 3) return 0;
  if (mode != captureMode_) {
    StopTransfer(0);
    EnsureFrameEvent();
    if (mode == 2) {
      std::lock_guard<std::mutex> ring(ringLock_);
      writeIndex_ = readMark_;
      framesHandedOut_ = framesStored_;
    }
  }
  captureMode_ = mode;
  return 1;
}

int COrvaneR3O5Base::StartTransfer(int32_t mode) {
  if (thread_.joinable()) {
    std::shared_ptr<SyncEvent> threadEnd;
    {
      std::lock_guard<std::mutex> events(eventLock_);
      threadEnd = threadEnd_;
    }
    if (running_) {
      orvane::platform::TimerResolution resolution;
      if (!threadEnd || !threadEnd->Wait(kRestartCheckMs)) StopTransfer(1);
    }
  }
  EnsureFrameEvent();
  if (SetCaptureMode(mode) == 0) return 0;
  // A thread that ended by itself (one frame, or given up) is collected before the buffers change.
  JoinThread(kThreadEndWaitMs);
  if (reconfigureNeeded_) ConfigureBuffers();

  auto threadEnd = std::make_shared<SyncEvent>(/*manualReset=*/true);
  {
    std::lock_guard<std::mutex> events(eventLock_);
    threadEnd_ = threadEnd;
  }
  // A new start is a new attempt: waiters must not see the previous run's failure.
  transferFailed_ = false;
  {
    std::lock_guard<std::mutex> ring(ringLock_);
    stats_ = {};
    lastTakenSequence_ = 0;
  }
  running_ = true;
  thread_ = std::thread([this] { ThreadBody(); });
  if (sensor_ && sensor_->IsReadoutStarted() == 0) sensor_->StartReadout();
  return 1;
}

void COrvaneR3O5Base::JoinThread(int64_t abortAfterMs) {
  if (!thread_.joinable()) return;
  std::shared_ptr<SyncEvent> threadEnd;
  {
    std::lock_guard<std::mutex> events(eventLock_);
    threadEnd = threadEnd_;
  }
  // A transfer in progress ends within its timeout; when it takes too long it is aborted, so that the
  // thread never outlives the buffers it writes.
  if (threadEnd && !threadEnd->Wait(abortAfterMs) && controller_) {
    controller_->Registers()->AbortPipe();
  }
  thread_.join();
}

int COrvaneR3O5Base::StopTransfer(int32_t wait) {
  if (sensor_) sensor_->StopReadout(1);
  if (running_.exchange(false) && wait != 0) {
    Sleep(kStopSettleMs);
    if (controller_) controller_->Registers()->AbortPipe();
  }
  JoinThread(kStopGraceMs);
  orvane::platform::SleepMs(1);
  std::shared_ptr<SyncEvent> frameEvent;
  {
    std::lock_guard<std::mutex> events(eventLock_);
    threadEnd_.reset();
    frameEvent.swap(frameEvent_);
  }
  // Waiters still holding the event wake up and find nothing new.
  if (frameEvent) frameEvent->Set();
  if (controller_) {
    ResetController();
    orvane::platform::SleepMs(5);
  }
  captureMode_ = 0;
  triggeredFrames_ = 0;
  frameRate_ = 0.0f;
  return 1;
}

int COrvaneR3O5Base::ResetController() {
  if (!controller_) return 0;
  const uint16_t version = static_cast<uint16_t>(controllerInfo_[kInfoFirmwareVersionOffset] |
                                                 controllerInfo_[kInfoFirmwareVersionOffset + 1] << 8);
  if (version >= kFirmwarePipeReset) controller_->ResetPipe(kStreamEndpoint);
  controller_->SendStreamReset();
  return 1;
}

int COrvaneR3O5Base::ConfigureBuffers() {
  transferBuffer_ = std::vector<uint8_t>();
  if (!sensor_) return 0;
  const SensorInfo& info = sensor_->Info();
  int32_t readoutMode = 0;
  const bool doubled = sensor_->GetReadoutMode(&readoutMode) != 0 && readoutMode == 2;
  const int32_t width = info.windowWidth;
  const int32_t lineLength = doubled ? width * 2 : width;
  const int32_t height = info.windowHeight;
  const int32_t bytesPerPixel = (bitDepthMode_ == 1 || bitDepthMode_ == 2) ? 2 : 1;
  if (width <= 0 || height <= 0) return 0;
  const uint32_t bufferSize = AlignTransferBuffer(static_cast<uint64_t>(height + 128) *
                                                  static_cast<uint64_t>(lineLength + 128) * bytesPerPixel);
  const int32_t frameSize = height * lineLength * bytesPerPixel;
  {
    std::lock_guard<std::mutex> ring(ringLock_);
    try {
      transferBuffer_.resize(bufferSize);
      for (int i = 0; i < kMaxRingSlots; ++i) {
        Slot& slot = slots_[i];
        std::lock_guard<std::mutex> slotLock(slot.lock);
        slot.data = std::vector<uint8_t>();
        // Of the transfer buffer's size: frames are read into the free buffer, which then changes places
        // with a slot.
        if (i < ringSize_) slot.data.resize(bufferSize);
        slot.counter = -1;
        slot.status.fill(0xFFFF);
        slot.metadata = {};
      }
    } catch (const std::bad_alloc&) {
      transferBuffer_ = std::vector<uint8_t>();
      for (auto& slot : slots_) {
        std::lock_guard<std::mutex> slotLock(slot.lock);
        slot.data = std::vector<uint8_t>();
      }
      frameSize_ = 0;
      return 0;
    }
    frameSize_ = frameSize;
    copyWidth_ = width;
    copyHeight_ = height;
    bytesPerPixel_ = bytesPerPixel;
    orientation_ = sensor_->GetOrientation();
  }

  // FPGA geometry: line length and height, then the window's start inside the readout.
  if (controller_) sensor_->WriteFpgaGeometry(lineLength);
  reconfigureNeeded_ = false;
  return 1;
}

void COrvaneR3O5Base::ThreadBody() {
  orvane::platform::SetCurrentThreadTimeCritical();
  std::shared_ptr<SyncEvent> threadEnd;
  {
    std::lock_guard<std::mutex> events(eventLock_);
    threadEnd = threadEnd_;
  }
  if (cameraType_ == kCameraTypeImx226) {
    TransferLoop();
  } else {
    // Other camera types run loops of their own; this build has none.
    running_ = false;
  }
  if (threadEnd) threadEnd->Set();
}

bool COrvaneR3O5Base::RecordFailedAttempt(int* attempts) {
  controller_->CloseDataChannel();
  ORVANE_LOG(kDevice, kWarn, "frame transfer failed (attempt %d of %d)", *attempts + 1, kMaxFailedAttempts);
  const bool givesUp = ++*attempts >= kMaxFailedAttempts;
  {
    std::lock_guard<std::mutex> ring(ringLock_);
    ++stats_.failedTransfers;
    stats_.timeouts += transfer_.timeouts;
    if (!givesUp) ++stats_.resets;
  }
  transfer_.timeouts = 0;
  if (givesUp) return true;
  if (sensor_) sensor_->RearmReadout();
  controller_->OpenDataChannel();
  return false;
}

FrameMetadata COrvaneR3O5Base::ReadMetadata() const {
  FrameMetadata metadata;
  metadata.hostTimeNs = static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
  // This camera's header always carries the low byte of its frame counter.
  metadata.cameraCounter = transfer_.FrameCounter();
  metadata.status = orvane::device::TransferStatus::kComplete;
  return metadata;
}

void COrvaneR3O5Base::CountFrameForRate() {
  ++rateCount_;
  const uint32_t now = orvane::platform::MultimediaTimeMs();
  const uint32_t elapsed = now - rateStartMs_;
  if (elapsed >= 1000) {
    frameRate_ = static_cast<float>(static_cast<double>(rateCount_) / elapsed * 1000.0);
    rateCount_ = 0;
    rateStartMs_ = now;
  }
}

void COrvaneR3O5Base::StoreFrame(int slotIndex, int32_t counter, const std::array<int32_t, 4>* status,
                                 const FrameMetadata& metadata, bool intoRing) {
  std::lock_guard<std::mutex> ring(ringLock_);
  {
    // The frame was read straight into the free buffer: it changes places with the slot's bytes, which
    // become the free buffer of the next read. Nothing is copied.
    Slot& slot = slots_[slotIndex];
    std::lock_guard<std::mutex> slotLock(slot.lock);
    slot.data.swap(transferBuffer_);
    slot.counter = counter;
    if (status != nullptr) slot.status = *status;
    slot.metadata = metadata;
    slot.metadata.sequence = ++stats_.framesRead;
  }
  stats_.timeouts += transfer_.timeouts;
  transfer_.timeouts = 0;
  transfer_.buffer = transferBuffer_.data();
  transfer_.bufferSize = transferBuffer_.size();
  if (intoRing) {
    writeIndex_ = (slotIndex + 1) % ringSize_;
    ++framesStored_;
  }
}

void COrvaneR3O5Base::TransferLoop() {
  if (!controller_ || transferBuffer_.empty()) {
    running_ = false;
    return;
  }
  int32_t frameSize = 0;
  {
    std::lock_guard<std::mutex> ring(ringLock_);
    frameSize = frameSize_;
  }
  transfer_ = FrameTransfer{};
  transfer_.buffer = transferBuffer_.data();
  transfer_.bufferSize = transferBuffer_.size();
  transfer_.frameSize = static_cast<size_t>(frameSize);
  transferFailed_ = false;
  rateCount_ = 0;
  rateStartMs_ = orvane::platform::MultimediaTimeMs();
  bool gaveUp = false;
  const bool opened = controller_->OpenDataChannel();
  // A data channel that cannot be opened (the camera was unplugged) is a failed stream, not one that
  // waits for frames in silence: waiters see the failure instead of timing out for ever.
  if (!opened && running_) gaveUp = true;
  if (opened) gaveUp = ReadFramesWhileRunning(frameSize);
  frameInTransfer_ = false;
  if (gaveUp) {
    ORVANE_LOG(kDevice, kError, "frame transfer failed %d times in a row: the stream stops", kMaxFailedAttempts);
    transferFailed_ = true;
    SignalFrameEvent();
  }
  controller_->CloseDataChannel();
  if (transferFailed_) SignalFrameEvent();
  running_ = false;
}

// The streaming thread's frame loop: reads frames into the ring until the capture mode's frames are
// in, the stream stops, or the transfer failed too often in a row (then true).
bool COrvaneR3O5Base::ReadFramesWhileRunning(int32_t frameSize) {
  CControllerBase* regs = controller_->Registers();
  bool gaveUp = false;
  int attempts = 0;
  while (running_) {
    const int32_t timeout = transferTimeout_;
    if (triggerMode_ == 1 && !FpgaCountedNewFrame(regs)) continue;
    if (!controller_->ReadFrameHeader(&transfer_)) {
      if ((gaveUp = RecordFailedAttempt(&attempts))) break;
      continue;
    }
    const std::array<int32_t, 4> status{transfer_.StatusWord(0), transfer_.StatusWord(1), transfer_.StatusWord(2),
                                        transfer_.StatusWord(3)};
    const int32_t mode = captureMode_;
    if (mode == 3) {
      lastFrameCounter_ = transfer_.FrameCounter();
      break;
    }
    if (mode != 2) lastFrameCounter_ = transfer_.FrameCounter();

    const uint32_t start = orvane::platform::MultimediaTimeMs();
    frameInTransfer_ = true;
    // A payload shorter than the frame would leave stale bytes in the slot: a failed attempt.
    const bool complete = controller_->ReadFrameData(&transfer_, timeout) &&
                          transfer_.PayloadLength() >= static_cast<uint32_t>(frameSize);
    if (!complete) {
      frameInTransfer_ = false;
      if ((gaveUp = RecordFailedAttempt(&attempts))) break;
      continue;
    }
    const FrameMetadata metadata = ReadMetadata();
    const uint32_t elapsedMs = std::max<uint32_t>(orvane::platform::MultimediaTimeMs() - start, 1);
    transferFailed_ = false;
    transferRate_ = static_cast<double>(frameSize / 1024) / 128.0 / (elapsedMs / 1000.0);
    CountFrameForRate();
    int slotIndex = 0;
    {
      std::lock_guard<std::mutex> ring(ringLock_);
      slotIndex = writeIndex_;
    }
    StoreFrame(slotIndex, lastFrameCounter_, &status, metadata, true);
    frameInTransfer_ = false;
    SignalFrameEvent();
    attempts = 0;
    if (mode == 1) break;
    if (mode == 2) {
      ++triggeredFrames_;
      break;
    }
  }
  return gaveUp;
}

// Free-running trigger: a frame is transferred only after the FPGA counted a new one.
bool COrvaneR3O5Base::FpgaCountedNewFrame(CControllerBase* regs) {
  uint8_t counter = 0;
  if (!regs->FpgaReadByte(fpga::kFrameCounter, &counter)) return false;
  if (counter == lastFrameCounter_) {
    orvane::platform::SleepMs(1);
    return false;
  }
  lastFrameCounter_ = counter;
  return true;
}

int COrvaneR3O5Base::CaptureOneFrame() {
  if (!controller_) return 2;
  // The streaming thread owns the transfer buffer while it runs.
  if (thread_.joinable()) StopTransfer(1);
  if (reconfigureNeeded_) ConfigureBuffers();
  if (transferBuffer_.empty()) return 2;
  int32_t frameSize = 0;
  {
    std::lock_guard<std::mutex> ring(ringLock_);
    frameSize = frameSize_;
  }
  transfer_ = FrameTransfer{};
  transfer_.buffer = transferBuffer_.data();
  transfer_.bufferSize = transferBuffer_.size();
  transfer_.frameSize = static_cast<size_t>(frameSize);
  transferFailed_ = false;
  const uint32_t start = orvane::platform::TickCountMs();
  if (controller_->OpenDataChannel()) {
    int failures = 0;
    for (;;) {
      if (controller_->ReadFrameHeader(&transfer_) && controller_->ReadFrameData(&transfer_, kSinglePieceTimeoutMs) &&
          transfer_.PayloadLength() >= static_cast<uint32_t>(frameSize)) {
        StoreFrame(0, transfer_.FrameCounter(), nullptr, ReadMetadata(), false);
        break;
      }
      ++failures;
      if (orvane::platform::TickCountMs() - start > kSingleFrameGiveUpMs || failures > kSingleFrameMaxFailures) {
        transferFailed_ = true;
        break;
      }
    }
  } else {
    transferFailed_ = true;
  }
  controller_->CloseDataChannel();
  {
    std::lock_guard<std::mutex> events(eventLock_);
    if (threadEnd_) threadEnd_->Set();
  }
  running_ = false;
  return 0;
}

int COrvaneR3O5Base::ReadFrameCounter() {
  if (!controller_) return 0;
  uint8_t counter = 0;
  if (!controller_->Registers()->FpgaReadByte(fpga::kFrameCounter, &counter)) return 0;
  lastFrameCounter_ = counter;
  return 1;
}

int COrvaneR3O5Base::SetTransferTimeout(int32_t ms) {
  transferTimeout_ = ms;
  return 1;
}
