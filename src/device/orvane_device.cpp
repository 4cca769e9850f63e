#include "device/orvane_device.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "device/frame_copy.h"
#include "hardware/camera_registers.h"
#include "platform/log.h"
#include "platform/thread.h"
#include "platform/time.h"
#include "sensor/sensor_imx226.h"
#include "sim/environment_driver.h"

using orvane::device::SyncEvent;

namespace {

// Controller information record: firmware version (u16, little-endian) and the "GPIO 25 is wired" flag.
constexpr int kInfoFirmwareVersionOffset = 24;
constexpr int kInfoGpio25FlagOffset = 52;
// Firmware from this version on has the pipe reset; above it, the FPGA's ready line is GPIO 25.
constexpr uint16_t kFirmwarePipeReset = 0x1100;

// Waiting for the FPGA at open: GPIO 25 polled up to 400 times, 500 ms apart; every 25 s without it the
// FPGA's start-up bit is pulsed again.
constexpr int kGpio25Attempts = 400;
constexpr uint32_t kGpio25AttemptDelayMs = 500;
constexpr uint32_t kFpgaPulseIntervalMs = 24999;

constexpr uint8_t kStreamEndpoint = 0x81;

namespace fpga = orvane::camera::fpga;
namespace eeprom = orvane::camera::eeprom;

// Streaming.
constexpr int kMaxFailedAttempts = 5;
constexpr int32_t kDefaultTransferTimeoutMs = 5000;
constexpr int32_t kLongExposureThreshold = 50000;  // 100 us units; above it the timeout is exposure / 5
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

// Reading the serial number: a pause after each byte. Identification bytes live in the EEPROM's
// first 4 KiB.
constexpr uint32_t kSerialByteDelayMs = 10;
constexpr int32_t kIdAddressMask = 0xFFF;
constexpr int kIdReadBacks = 10;

constexpr int32_t kInternalCorrectionTypeArg = 16;

uint32_t AlignTransferBuffer(uint64_t bytes) { return static_cast<uint32_t>((bytes + 8191) & ~uint64_t{8191}); }

}  // namespace

std::recursive_mutex& COrvaneR3O5Base::ClassLock() {
  static std::recursive_mutex lock;
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
// Device object and open sequence

int COrvaneR3O5Base::CreateController(void*, const InterfaceClassGuid* guid) {
  std::lock_guard<std::recursive_mutex> lock(ClassLock());
  Close();
  controller_ = controllerFactory_ ? controllerFactory_(guid != nullptr ? *guid : kDefaultInterfaceGuid) : nullptr;
  // Without the shared device table the controller exists but finds no camera.
  return controller_ && controller_->TableAttached() ? 1 : 0;
}

int COrvaneR3O5Base::InitializeDevice() {
  if (!controller_ || !controller_->PrepareStreaming()) return 0;
  std::array<uint8_t, CameraController::kInfoRecordSize> record{};
  if (controller_->ReadControllerInfo(record.data())) controllerInfo_ = record;
  if (!sensor_) return 0;

  const bool infoRead = controller_->ReadControllerInfo(record.data());
  if (infoRead) controllerInfo_ = record;
  const uint16_t version = static_cast<uint16_t>(record[kInfoFirmwareVersionOffset] |
                                                 record[kInfoFirmwareVersionOffset + 1] << 8);
  const uint8_t gpio25Wired = record[kInfoGpio25FlagOffset];
  ORVANE_LOG(kDevice, kDebug, "open: controller info %s, firmware 0x%04x, GPIO 25 wired %u", infoRead ? "read" : "unreadable", version, gpio25Wired);
  if (infoRead && gpio25Wired == 1 && version > kFirmwarePipeReset) {
    // The FPGA loads its configuration after power-up and raises GPIO 25 when it is ready.
    uint32_t pulseStart = Now();
    bool ready = false;
    for (int attempt = 0; attempt < kGpio25Attempts; ++attempt) {
      uint8_t level = 0;
      if (controller_->Registers()->ReadGpio25(&level) && level == 1) {
        ready = true;
        break;
      }
      Sleep(kGpio25AttemptDelayMs);
      if (Now() - pulseStart > kFpgaPulseIntervalMs) {
        sensor_->PulseFpgaStartup();
        pulseStart = Now();
      }
    }
    ORVANE_LOG(kDevice, kDebug, "open: FPGA %s", ready ? "ready (GPIO 25 high)" : "never raised GPIO 25");
    if (!ready) return 0;
  }
  ORVANE_LOG(kDevice, kDebug, "open: checking the sensor and applying its defaults");
  if (sensor_->IsReady() == 0) return 0;
  return sensor_->ApplyDefaults();
}

int COrvaneR3O5Base::Close() {
  std::lock_guard<std::recursive_mutex> lock(ClassLock());
  StopTransfer(1);
  if (controller_) {
    controller_->CloseDataChannel();
    sensor_.reset();  // borrows the controller's register interface
    controller_.reset();
  }
  controllerInfo_.fill(0);
  captureMode_ = 0;
  transferBuffer_ = std::vector<uint8_t>();
  ClearRing();
  sensor_.reset();
  {
    std::lock_guard<std::mutex> events(eventLock_);
    frameEvent_.reset();
    threadEnd_.reset();
  }
  transferFailed_ = false;
  return 1;
}

void COrvaneR3O5Base::ClearRing() {
  std::lock_guard<std::mutex> ring(ringLock_);
  for (auto& slot : slots_) {
    std::lock_guard<std::mutex> slotLock(slot.lock);
    slot.data = std::vector<uint8_t>();
    slot.counter = -1;
    slot.status.fill(0xFFFF);
  }
  frameSize_ = 0;
}

int COrvaneR3O5Base::GetControllerInfo(uint8_t* record) {
  if (!controller_ || record == nullptr) return 0;
  std::memcpy(record, controllerInfo_.data(), controllerInfo_.size());
  return 1;
}

int COrvaneR3O5Base::GetControllerStatus(uint8_t* record) {
  if (!controller_ || record == nullptr) return 0;
  return controller_->ReadControllerStatus(record) ? 1 : 0;
}

int COrvaneR3O5Base::ForwardSensorRequest(void*, int32_t, int32_t) { return 0; }

int COrvaneR3O5Base::Reopen(int32_t number) {
  StopTransfer(1);
  return Open(number) != 0 ? 0 : -1;
}

int COrvaneR3O5Base::FindTableIndex(int32_t number) {
  for (int i = 0; i < kMaxDevices; ++i) {
    DeviceTableEntry entry;
    if (controller_->GetTableEntry(i, &entry) && entry.number == number && entry.type == cameraType_) return i;
  }
  return -1;
}

int COrvaneR3O5Base::Open(int32_t number) {
  std::lock_guard<std::recursive_mutex> lock(ClassLock());
  ORVANE_LOG(kDevice, kInfo, "open camera %d", static_cast<int>(number));
  if (!controller_ || cameraType_ == -1) return 0;
  if (controller_->EnumerateDevices() < 1 || IsDevicePresent(number) == 0) return 0;
  const int index = FindTableIndex(number);
  if (index < 0) return 0;
  if (cameraType_ != kCameraTypeImx226) return 0;
  // Selecting a device closes the data channel under the streaming thread: stop it first.
  if (thread_.joinable()) StopTransfer(1);
  // Refused while another object holds the camera; the camera open so far stays open.
  if (!controller_->Registers()->SelectDevice(index)) return 0;
  released_ = false;
  sensor_.reset();
  sensor_ = std::make_unique<CSensorIMX226>(controller_->Registers(), orvane::camera::i2c::kSensor);
  if (sleeper_) sensor_->SetSleeper(sleeper_);
  deviceNumber_ = number;
  reconfigureNeeded_ = true;
  ORVANE_LOG(kDevice, kDebug, "open: camera %d is device table entry %d, sensor driver made", static_cast<int>(number), index);
  const int initialised = InitializeDevice();
  ORVANE_LOG(kDevice, kInfo, "open camera %d: %s", static_cast<int>(number), initialised != 0 ? "ready" : "initialisation failed");
  return initialised;
}

int COrvaneR3O5Base::IsDevicePresent(int32_t number) {
  std::lock_guard<std::recursive_mutex> lock(ClassLock());
  if (!controller_) return 0;
  for (int i = 0; i < kMaxDevices; ++i) {
    DeviceTableEntry entry;
    if (!controller_->GetTableEntry(i, &entry)) continue;
    if (entry.type == cameraType_ && entry.number == number && controller_->IsDeviceOpenable(i)) return 1;
  }
  return 0;
}

int COrvaneR3O5Base::CountDevices(int32_t typeCode) {
  std::lock_guard<std::recursive_mutex> lock(ClassLock());
  if (!controller_) return 0;
  const int count = controller_->EnumerateDevices();
  if (typeCode == 0) return count;
  int present = 0;
  for (int i = 0; i < std::min(count, kMaxDevices); ++i) {
    DeviceTableEntry entry;
    if (controller_->GetTableEntry(i, &entry) && entry.type == typeCode && controller_->IsDeviceOpenable(i)) ++present;
  }
  return present;
}

int COrvaneR3O5Base::GetDeviceName(int32_t index, char* buffer, size_t size) {
  std::lock_guard<std::recursive_mutex> lock(ClassLock());
  if (!controller_ || buffer == nullptr || size == 0) return 0;
  return controller_->GetDeviceName(index, buffer, size) ? 1 : 0;
}

int COrvaneR3O5Base::SetCameraType(int32_t code) {
  cameraType_ = code;
  std::lock_guard<std::mutex> ring(ringLock_);
  ringSize_ = kRingSize;
  readMark_ = ringSize_ - 1;
  return 1;
}

int32_t COrvaneR3O5Base::GetCameraType() { return cameraType_; }

int32_t COrvaneR3O5Base::GetTableEntryId(int32_t index) {
  DeviceTableEntry entry;
  if (!controller_ || index < 0 || index >= kMaxDevices || !controller_->GetTableEntry(index, &entry)) return 0;
  return entry.id;
}

int32_t COrvaneR3O5Base::GetTableEntryType(int32_t index) {
  DeviceTableEntry entry;
  if (!controller_ || index < 0 || index >= kMaxDevices || !controller_->GetTableEntry(index, &entry)) return 0;
  return entry.type;
}

int32_t COrvaneR3O5Base::GetTableEntryNumber(int32_t index) {
  DeviceTableEntry entry;
  if (!controller_ || index < 0 || index >= kMaxDevices || !controller_->GetTableEntry(index, &entry)) return -1;
  return entry.number;
}

int COrvaneR3O5Base::UsesSingleRequestLoop() { return 0; }
int COrvaneR3O5Base::IsLineSensor() { return 0; }
int32_t COrvaneR3O5Base::GetDeviceNumber() { return deviceNumber_; }
int COrvaneR3O5Base::GetMaxDevices() { return kMaxDevices; }

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
        if (i < ringSize_) slot.data.resize(static_cast<size_t>(frameSize));
        slot.counter = -1;
        slot.status.fill(0xFFFF);
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
  if (++*attempts >= kMaxFailedAttempts) return true;
  if (sensor_) sensor_->RearmReadout();
  controller_->OpenDataChannel();
  return false;
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

void COrvaneR3O5Base::StoreFrame(int slotIndex, int32_t counter, const std::array<int32_t, 4>* status) {
  int32_t size = 0;
  {
    std::lock_guard<std::mutex> ring(ringLock_);
    size = frameSize_;
  }
  Slot& slot = slots_[slotIndex];
  std::lock_guard<std::mutex> slotLock(slot.lock);
  const size_t bytes = std::min({static_cast<size_t>(size), slot.data.size(), transferBuffer_.size()});
  std::memcpy(slot.data.data(), transferBuffer_.data(), bytes);
  slot.counter = counter;
  if (status != nullptr) slot.status = *status;
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
  CControllerBase* regs = controller_->Registers();

  bool gaveUp = false;
  const bool opened = controller_->OpenDataChannel();
  // A data channel that cannot be opened (the camera was unplugged) is a failed stream, not one that
  // waits for frames in silence: waiters see the failure instead of timing out for ever.
  if (!opened && running_) gaveUp = true;
  if (opened) {
    int attempts = 0;
    while (running_) {
      const int32_t timeout = transferTimeout_;
      if (triggerMode_ == 1) {
        // Free-running trigger: transfer only after the FPGA counted a new frame.
        uint8_t counter = 0;
        if (!regs->FpgaReadByte(fpga::kFrameCounter, &counter)) continue;
        if (counter == lastFrameCounter_) {
          orvane::platform::SleepMs(1);
          continue;
        }
        lastFrameCounter_ = counter;
      }
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
      const uint32_t elapsedMs = std::max<uint32_t>(orvane::platform::MultimediaTimeMs() - start, 1);
      transferFailed_ = false;
      transferRate_ = static_cast<double>(frameSize / 1024) / 128.0 / (elapsedMs / 1000.0);
      CountFrameForRate();
      int slotIndex = 0;
      {
        std::lock_guard<std::mutex> ring(ringLock_);
        slotIndex = writeIndex_;
      }
      StoreFrame(slotIndex, lastFrameCounter_, &status);
      {
        std::lock_guard<std::mutex> ring(ringLock_);
        writeIndex_ = (slotIndex + 1) % ringSize_;
        ++framesStored_;
      }
      frameInTransfer_ = false;
      SignalFrameEvent();
      attempts = 0;
      if (mode == 1) break;
      if (mode == 2) {
        ++triggeredFrames_;
        break;
      }
    }
  }
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
        StoreFrame(0, transfer_.FrameCounter(), nullptr);
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

int COrvaneR3O5Base::WaitFrame(int32_t ms) {
  if (transferFailed_) return kWaitFailed;
  std::shared_ptr<SyncEvent> event = FrameEvent();
  if (!event || !event->Wait(ms)) return kWaitNoFrame;
  // The thread may have given up while we waited.
  if (transferFailed_) return kWaitFailed;
  std::lock_guard<std::mutex> ring(ringLock_);
  // Counted, not compared by ring index: when exactly a ring's worth of frames arrived since the last
  // hand-out, the write index is back at the read mark although new frames are there.
  return framesStored_ != framesHandedOut_ ? kWaitNewFrame : kWaitNoFrame;
}

int32_t COrvaneR3O5Base::RingWriteIndex() const {
  std::lock_guard<std::mutex> ring(ringLock_);
  return writeIndex_;
}

int32_t COrvaneR3O5Base::FrameSize() const {
  std::lock_guard<std::mutex> ring(ringLock_);
  return frameSize_;
}


// The slot stays locked for the copy, so the streaming thread never writes it at the same time.
int COrvaneR3O5Base::CopySlot(void* buffer, int32_t length, int32_t* counter, int32_t* status, int firstSlot,
                              int rowOrder, bool markRead) {
  if (buffer == nullptr) return 0;
  std::unique_lock<std::mutex> ring(ringLock_);
  if (frameSize_ <= 0 || length < frameSize_) return 0;
  const int slotIndex = firstSlot != 0 ? 0 : (writeIndex_ + ringSize_ - 1) % ringSize_;
  if (markRead) {
    readMark_ = writeIndex_;
    if (framesStored_ - framesHandedOut_ > 1) ORVANE_LOG(kDevice, kDebug, "%llu frames skipped (taken slower than they came)", static_cast<unsigned long long>(framesStored_ - framesHandedOut_ - 1));
    framesHandedOut_ = framesStored_;
  }
  Slot& slot = slots_[slotIndex];
  std::unique_lock<std::mutex> slotLock(slot.lock);
  const int32_t frameSize = frameSize_;
  const int32_t rows = copyHeight_;
  const int32_t unit = bytesPerPixel_;
  const int32_t rowBytes = copyWidth_ * unit;
  const int32_t d = orientation_;
  ring.unlock();

  orvane::device::CopyOrientedFrame(static_cast<uint8_t*>(buffer), slot.data.data(), frameSize, rows, rowBytes, unit, d, rowOrder);
  if (counter) *counter = slot.counter;
  if (status) std::copy(slot.status.begin(), slot.status.end(), status);
  return 1;
}

int COrvaneR3O5Base::CopyFrame(void* buffer, int32_t length, int32_t* counter, int32_t* status1, int32_t* status2,
                               int32_t* status3, int32_t* status4, int firstSlot, int rowOrder) {
  int32_t status[4] = {};
  if (CopySlot(buffer, length, counter, status, firstSlot, rowOrder, false) == 0) return 0;
  if (status1) *status1 = status[0];
  if (status2) *status2 = status[1];
  if (status3) *status3 = status[2];
  if (status4) *status4 = status[3];
  return 1;
}

int COrvaneR3O5Base::GetFrame(void* buffer, int32_t length, int rowOrder) {
  return CopySlot(buffer, length, nullptr, nullptr, 0, rowOrder, true) != 0 ? 0 : 1;
}

int COrvaneR3O5Base::GetFrameTimed(void* buffer, int32_t length, int64_t*, int32_t*, int) {
  return CopySlot(buffer, length, nullptr, nullptr, 0, 1, true) != 0 ? 0 : 1;
}

int COrvaneR3O5Base::GetFrameInfo(void* buffer, int32_t length, int32_t* counter, int32_t* status1, int32_t* status2,
                                  int32_t* status3, int32_t* status4, int rowOrder) {
  int32_t status[4] = {};
  if (CopySlot(buffer, length, counter, status, 0, rowOrder, true) == 0) return 1;
  if (status1) *status1 = status[0];
  if (status2) *status2 = status[1];
  if (status3) *status3 = status[2];
  if (status4) *status4 = status[3];
  return 0;
}

int COrvaneR3O5Base::GetFirstSlotFrame(void* buffer, int32_t length, int rowOrder) {
  if (buffer == nullptr) return -2;
  CopySlot(buffer, length, nullptr, nullptr, 1, rowOrder, false);
  return 0;
}

// ---------------------------------------------------------------------------------------------------
// Settings engine

int COrvaneR3O5Base::SetBitDepth(int32_t mode) {
  if (!controller_) return 0;
  const uint8_t format = mode == 1 ? fpga::kPixelFormat16Bit : fpga::kPixelFormat8Bit;
  if (!controller_->Registers()->FpgaWriteByte(fpga::kPixelFormat, format)) return 0;
  if (mode == bitDepthMode_) return 1;
  bitDepthMode_ = mode;
  // The streaming thread writes the current buffers: they change at the next start.
  if (thread_.joinable()) {
    reconfigureNeeded_ = true;
    return 1;
  }
  return ConfigureBuffers();
}

int COrvaneR3O5Base::SetReadoutMode(int32_t mode) {
  if (!sensor_) return 0;
  if (mode == 2) {
    uint32_t speed = 0;
    // Mode 2 needs the bandwidth of a USB 3.0 link (speed code 4).
    if (!controller_->GetLinkSpeed(&speed) || speed != 4) mode = 0;
  }
  return sensor_->SetReadoutMode(mode);
}

int COrvaneR3O5Base::GetReadoutMode(int32_t* mode) { return sensor_ ? sensor_->GetReadoutMode(mode) : 0; }

int COrvaneR3O5Base::SetWindow(int32_t x, int32_t y, int32_t width, int32_t height, int32_t mode) {
  if (!sensor_) return 0;
  const SensorInfo& info = sensor_->Info();
  if (info.windowX == x && info.windowY == y && info.windowWidth == width && info.windowHeight == height &&
      info.subSampleMode == mode) {
    return 1;
  }
  if (sensor_->SetWindow(x, width, y, height, mode) == 0) return 0;
  reconfigureNeeded_ = true;
  return 1;
}

int COrvaneR3O5Base::GetWindow(int32_t* x, int32_t* y, int32_t* width, int32_t* height, int32_t* mode) {
  if (!sensor_) return 0;
  return sensor_->GetWindow(x, width, y, height, mode) != 0 ? 1 : 0;
}

int COrvaneR3O5Base::SetTriggerMode(int32_t mode, int32_t force) {
  if (!sensor_) return 0;
  if (force == 0 && mode == triggerMode_) return 1;
  StopTransfer(0);
  EnsureFrameEvent();
  sensor_->SetTriggerMode(mode);
  if (mode >= 1 && mode <= 3) ReadFrameCounter();
  triggerMode_ = mode;
  return 1;
}

int COrvaneR3O5Base::SetExposureTime(int32_t value) {
  if (!sensor_) return 0;
  transferTimeout_ = value <= kLongExposureThreshold ? kDefaultTransferTimeoutMs : value / 5;
  return sensor_->SetExposureTime(value);
}

// Plain forwards to the sensor driver: 0 (or the stated default) without one.
#define ORVANE_FORWARD(call, fallback) return sensor_ ? sensor_->call : (fallback)

int COrvaneR3O5Base::SetMirrorH(int32_t flag) { ORVANE_FORWARD(SetMirrorH(flag), 0); }
int COrvaneR3O5Base::SetMirrorV(int32_t flag) { ORVANE_FORWARD(SetMirrorV(flag), 0); }
int COrvaneR3O5Base::GetMirrorH(int32_t* flag) { ORVANE_FORWARD(GetMirrorH(flag), 0); }
int COrvaneR3O5Base::GetMirrorV(int32_t* flag) { ORVANE_FORWARD(GetMirrorV(flag), 0); }
int COrvaneR3O5Base::GetMirrorVDefault() { ORVANE_FORWARD(GetMirrorVDefault(), 0); }
int COrvaneR3O5Base::GetMirrorHDefault() { ORVANE_FORWARD(GetMirrorHDefault(), 0); }
int COrvaneR3O5Base::HasMirrorV() { ORVANE_FORWARD(HasMirrorV(), 0); }
int COrvaneR3O5Base::HasMirrorH() { ORVANE_FORWARD(HasMirrorH(), 0); }
int COrvaneR3O5Base::AllowsNarrowWindow() { ORVANE_FORWARD(AllowsNarrowWindow(), 0); }
int COrvaneR3O5Base::AllowsLowWindow() { ORVANE_FORWARD(AllowsLowWindow(), 0); }
int COrvaneR3O5Base::SetGlobalGain(int32_t code) { ORVANE_FORWARD(SetGlobalGain(code), 0); }
int COrvaneR3O5Base::GetGlobalGain(int32_t* code) { ORVANE_FORWARD(GetGlobalGain(code), 0); }
int COrvaneR3O5Base::GetGlobalGainMin(int32_t* code) { ORVANE_FORWARD(GetGlobalGainMin(code), 0); }
int COrvaneR3O5Base::GetGlobalGainMax(int32_t* code) { ORVANE_FORWARD(GetGlobalGainMax(code), 0); }
int COrvaneR3O5Base::GetGlobalGainDefault(int32_t* code) { ORVANE_FORWARD(GetGlobalGainDefault(code), 0); }
int COrvaneR3O5Base::GetExposureTime(int32_t* value) { ORVANE_FORWARD(GetExposureTime(value), 0); }
int COrvaneR3O5Base::GetExposureTimeMin(int32_t* value) { ORVANE_FORWARD(GetExposureTimeMin(value), 0); }
int COrvaneR3O5Base::GetExposureTimeMax(int32_t* value) { ORVANE_FORWARD(GetExposureTimeMax(value), 0); }
int COrvaneR3O5Base::GetExposureTimeDefault(int32_t* value) { ORVANE_FORWARD(GetExposureTimeDefault(value), 0); }
int COrvaneR3O5Base::HasExposureTimeEx() { ORVANE_FORWARD(HasExposureTimeEx(), 0); }
int COrvaneR3O5Base::SetExposureTimeEx(double seconds) { ORVANE_FORWARD(SetExposureTimeEx(seconds), 0); }
int COrvaneR3O5Base::GetExposureTimeEx(double* seconds) { ORVANE_FORWARD(GetExposureTimeEx(seconds), 0); }
int COrvaneR3O5Base::GetExposureTimeExMin(double* seconds) { ORVANE_FORWARD(GetExposureTimeExMin(seconds), 0); }
int COrvaneR3O5Base::GetExposureTimeExMax(double* seconds) { ORVANE_FORWARD(GetExposureTimeExMax(seconds), 0); }
int COrvaneR3O5Base::GetExposureTimeExDefault(double* seconds) {
  ORVANE_FORWARD(GetExposureTimeExDefault(seconds), 0);
}
int COrvaneR3O5Base::SetColorGainRed(int32_t value) { ORVANE_FORWARD(SetColorGainRed(value), 0); }
int COrvaneR3O5Base::GetColorGainRed(int32_t* value) { ORVANE_FORWARD(GetColorGainRed(value), 0); }
int COrvaneR3O5Base::SetColorGainGreen1(int32_t value) { ORVANE_FORWARD(SetColorGainGreen1(value), 0); }
int COrvaneR3O5Base::GetColorGainGreen1(int32_t* value) { ORVANE_FORWARD(GetColorGainGreen1(value), 0); }
int COrvaneR3O5Base::SetColorGainGreen2(int32_t value) { ORVANE_FORWARD(SetColorGainGreen2(value), 0); }
int COrvaneR3O5Base::GetColorGainGreen2(int32_t* value) { ORVANE_FORWARD(GetColorGainGreen2(value), 0); }
int COrvaneR3O5Base::SetColorGainBlue(int32_t value) { ORVANE_FORWARD(SetColorGainBlue(value), 0); }
int COrvaneR3O5Base::GetColorGainBlue(int32_t* value) { ORVANE_FORWARD(GetColorGainBlue(value), 0); }
int COrvaneR3O5Base::GetColorGainMin(int32_t* value) { ORVANE_FORWARD(GetColorGainMin(value), 0); }
int COrvaneR3O5Base::GetColorGainMax(int32_t* value) { ORVANE_FORWARD(GetColorGainMax(value), 0); }
int COrvaneR3O5Base::GetColorGainDefault(int32_t* value) { ORVANE_FORWARD(GetColorGainDefault(value), 0); }
int COrvaneR3O5Base::HasBlackLevel() { ORVANE_FORWARD(HasBlackLevel(), 0); }
int COrvaneR3O5Base::SetBlackLevel(int32_t value) { ORVANE_FORWARD(SetBlackLevel(value), 0); }
int COrvaneR3O5Base::GetBlackLevel(int32_t* value) { ORVANE_FORWARD(GetBlackLevel(value), 0); }
int COrvaneR3O5Base::GetBlackLevelMin(int32_t* value) { ORVANE_FORWARD(GetBlackLevelMin(value), 0); }
int COrvaneR3O5Base::GetBlackLevelMax(int32_t* value) { ORVANE_FORWARD(GetBlackLevelMax(value), 0); }
int COrvaneR3O5Base::GetBlackLevelDefault(int32_t* value) { ORVANE_FORWARD(GetBlackLevelDefault(value), 0); }
int COrvaneR3O5Base::HasGainMode() { ORVANE_FORWARD(HasGainMode(), 0); }
int COrvaneR3O5Base::SetGainMode(int32_t mode) { ORVANE_FORWARD(SetGainMode(mode), 0); }
int COrvaneR3O5Base::GetGainMode() { ORVANE_FORWARD(GetGainMode(), -1); }
int COrvaneR3O5Base::HasShortExposureMode() { ORVANE_FORWARD(HasShortExposureMode(), 0); }
int COrvaneR3O5Base::GetShortExposureMode(int32_t* flag) { ORVANE_FORWARD(GetShortExposureMode(flag), 0); }
int COrvaneR3O5Base::SetShortExposureMode(int32_t flag) { ORVANE_FORWARD(SetShortExposureMode(flag), 0); }
int COrvaneR3O5Base::ColorModeQuery1() { ORVANE_FORWARD(AllowsGray8AndBgrx(), 1); }
int COrvaneR3O5Base::ColorModeQuery2() { ORVANE_FORWARD(AllowsGray16(), 1); }
int COrvaneR3O5Base::ColorModeQuery3() { ORVANE_FORWARD(AllowsColorModes(), 1); }
int COrvaneR3O5Base::SetSamplingRate(int32_t, int32_t word, int32_t* rate) {
  ORVANE_FORWARD(SetSamplingRate(word, rate), 0);
}
int COrvaneR3O5Base::HasPreviewResetSetting() { ORVANE_FORWARD(HasPreviewResetSetting(), 0); }
int COrvaneR3O5Base::GetPreviewResetSetting(int32_t* value) { ORVANE_FORWARD(GetPreviewResetSetting(value), 0); }
int COrvaneR3O5Base::SetPreviewResetSetting(int32_t value) { ORVANE_FORWARD(SetPreviewResetSetting(value), 0); }
int COrvaneR3O5Base::HasPeltier() { ORVANE_FORWARD(HasPeltier(), 0); }
int COrvaneR3O5Base::GetPeltier(int32_t* value) { ORVANE_FORWARD(GetPeltier(value), 0); }
int COrvaneR3O5Base::SetPeltier(int32_t value) { ORVANE_FORWARD(SetPeltier(value), 0); }
int COrvaneR3O5Base::HasTemperature() { ORVANE_FORWARD(HasTemperature(), 0); }
int COrvaneR3O5Base::ReadTemperature(double* celsius) { ORVANE_FORWARD(ReadTemperature(celsius), 0); }
int COrvaneR3O5Base::WriteSensorRegister(int32_t, int32_t address, int32_t value) {
  ORVANE_FORWARD(WriteRegister(address, value), 0);
}

#undef ORVANE_FORWARD

void COrvaneR3O5Base::PreparePreview() {
  if (sensor_) sensor_->PreparePreview();
}

int32_t COrvaneR3O5Base::ReadSensorRegister(int32_t, int32_t address, int32_t* ok) {
  int32_t value = 0;
  const int result = sensor_ ? sensor_->ReadRegister(address, &value) : 0;
  if (ok) *ok = result != 0 ? 1 : 0;
  return result != 0 ? value : 0;
}

// ---------------------------------------------------------------------------------------------------
// Device information and auxiliary I/O

int COrvaneR3O5Base::WriteFpgaRegister(int32_t address, int32_t value) {
  if (!controller_) return 0;
  return controller_->Registers()->FpgaWriteByte(static_cast<uint8_t>(address), static_cast<uint8_t>(value)) ? 1 : 0;
}

int32_t COrvaneR3O5Base::ReadFpgaRegister(int32_t address, int32_t* ok) {
  uint8_t value = 0;
  const bool read = controller_ && controller_->Registers()->FpgaReadByte(static_cast<uint8_t>(address), &value);
  if (ok) *ok = read ? 1 : 0;
  return read ? value : 0;
}

int COrvaneR3O5Base::WaitFpgaIdle(int32_t ms) {
  if (!controller_) return 0;
  const uint32_t start = orvane::platform::TickCountMs();
  while (static_cast<int64_t>(orvane::platform::TickCountMs() - start) < ms) {
    uint8_t status = 0;
    if (!controller_->Registers()->FpgaReadByte(fpga::kStatus, &status)) return 0;
    if ((status & fpga::kStatusBusy) == 0) return 1;
    orvane::platform::SleepMs(1);
  }
  return 0;
}

int COrvaneR3O5Base::WriteEeprom(int32_t address, uint8_t value) {
  if (!controller_ || address < 0 || address > 0xFFFF) return 0;
  return controller_->Registers()->EepromWrite(static_cast<uint16_t>(address), value) ? 1 : 0;
}

int COrvaneR3O5Base::ReadEeprom(int32_t address, uint8_t* value) {
  if (!controller_ || value == nullptr || address < 0 || address > 0xFFFF) return 0;
  return controller_->Registers()->EepromRead(static_cast<uint16_t>(address), value) ? 1 : 0;
}

int COrvaneR3O5Base::WriteConfigurationByte(uint8_t value) { return WriteEeprom(eeprom::kConfigurationByte, value); }
int COrvaneR3O5Base::ReadConfigurationByte(uint8_t* value) { return ReadEeprom(eeprom::kConfigurationByte, value); }

int COrvaneR3O5Base::ReadSerialNumber(char* buffer, int32_t length) {
  if (!controller_ || buffer == nullptr || length <= 0) return 0;
  char text[eeprom::kSerialNumberLength] = {};
  int count = 0;
  bool firstReadFailed = false;
  for (int i = 0; i < eeprom::kSerialNumberLength; ++i) {
    uint8_t byte = 0;
    const bool read = ReadEeprom(eeprom::kSerialNumber + i, &byte) != 0;
    Sleep(kSerialByteDelayMs);
    if (!read) {
      firstReadFailed = i == 0;
      break;
    }
    if (byte == eeprom::kSerialNumberEnd) break;
    text[count++] = static_cast<char>(byte);
  }
  if (count == 0) return firstReadFailed ? 0 : 1;
  // Never more than the caller's buffer: at most length - 1 characters and the terminator.
  const int copied = std::min(count, length - 1);
  std::memcpy(buffer, text, static_cast<size_t>(copied));
  buffer[copied] = '\0';
  return 1;
}

int COrvaneR3O5Base::WriteIdentificationByte(int32_t address, uint8_t value, int32_t* readBackFailures) {
  if (readBackFailures) *readBackFailures = 0;
  const int32_t masked = address & kIdAddressMask;
  if (WriteEeprom(masked, value) == 0) return 0;
  for (int i = 0; i < kIdReadBacks; ++i) {
    uint8_t back = 0;
    if (ReadEeprom(masked, &back) != 0) {
      if (back == value) break;
    } else if (readBackFailures) {
      ++*readBackFailures;
    }
    WriteEeprom(masked, value);
  }
  return 1;
}

int COrvaneR3O5Base::ReadIdentificationByte(int32_t address, uint8_t* value) {
  return ReadEeprom(address & kIdAddressMask, value);
}

int COrvaneR3O5Base::HasInternalCorrection() {
  return sensor_ ? sensor_->HasInternalCorrection(kInternalCorrectionTypeArg) : 0;
}

int COrvaneR3O5Base::GetInternalCorrection() {
  // The correction is never on for this camera type, even where a driver offers it.
  return 0;
}

int COrvaneR3O5Base::SetInternalCorrection(int32_t on) {
  if (HasInternalCorrection() == 0) return 0;
  return on == GetInternalCorrection() ? 1 : 0;
}

int COrvaneR3O5Base::GetFpgaTemperature(double* celsius) {
  if (cameraType_ == kCameraTypeImx226 || !controller_ || celsius == nullptr) return 0;
  uint8_t low = 0, high = 0;
  CControllerBase* regs = controller_->Registers();
  if (!regs->FpgaReadByte(fpga::kTemperatureLow, &low) || !regs->FpgaReadByte(fpga::kTemperatureHigh, &high)) return 0;
  const double raw = static_cast<double>(low | high << 8);
  *celsius = raw * 503.975 / 65536.0 - 273.15;
  return 1;
}
