// The device object and its open sequence: the controller, discovery of the cameras of the device
// table, the open and bring-up of one camera, and closing.
#include <algorithm>
#include <cstring>

#include "device/controller_info.h"
#include "device/orvane_device.h"
#include "hardware/camera_registers.h"
#include "platform/log.h"
#include "sensor/sensor_imx226.h"

using orvane::device::kFirmwarePipeReset;
using orvane::device::kInfoFirmwareVersionOffset;
using orvane::device::kInfoGpio25FlagOffset;

namespace {

// Waiting for the FPGA at open: GPIO 25 polled up to 400 times, 500 ms apart; every 25 s without it the
// FPGA's start-up bit is pulsed again.
constexpr int kGpio25Attempts = 400;
constexpr uint32_t kGpio25AttemptDelayMs = 500;
constexpr uint32_t kFpgaPulseIntervalMs = 24999;

}  // namespace

bool COrvaneR3O5Base::CreateController(void*, const InterfaceClassGuid* guid) {
  std::lock_guard<std::mutex> lock(ClassLock());
  CloseLocked();
  controller_ = controllerFactory_ ? controllerFactory_(guid != nullptr ? *guid : kDefaultInterfaceGuid) : nullptr;
  // Without the shared device table the controller exists but finds no camera.
  return controller_ && controller_->TableAttached();
}

bool COrvaneR3O5Base::InitializeDevice() {
  if (!controller_ || !controller_->PrepareStreaming()) return false;
  std::array<uint8_t, CameraController::kInfoRecordSize> record{};
  if (controller_->ReadControllerInfo(record.data())) controllerInfo_ = record;
  if (!sensor_) return false;

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
    if (!ready) return false;
  }
  ORVANE_LOG(kDevice, kDebug, "open: checking the sensor and applying its defaults");
  if (!sensor_->IsReady()) return false;
  return sensor_->ApplyDefaults();
}

bool COrvaneR3O5Base::Close() {
  std::lock_guard<std::mutex> lock(ClassLock());
  return CloseLocked();
}

bool COrvaneR3O5Base::CloseLocked() {
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
  return true;
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

bool COrvaneR3O5Base::GetControllerInfo(uint8_t* record) {
  if (!controller_ || record == nullptr) return false;
  std::memcpy(record, controllerInfo_.data(), controllerInfo_.size());
  return true;
}

bool COrvaneR3O5Base::GetControllerStatus(uint8_t* record) {
  if (!controller_ || record == nullptr) return false;
  return controller_->ReadControllerStatus(record);
}

bool COrvaneR3O5Base::ForwardSensorRequest(void*, int32_t, int32_t) { return false; }

bool COrvaneR3O5Base::Reopen(int32_t number) {
  StopTransfer(1);
  return Open(number);
}

int COrvaneR3O5Base::FindTableIndex(int32_t number) {
  for (int i = 0; i < kMaxDevices; ++i) {
    DeviceTableEntry entry;
    if (controller_->GetTableEntry(i, &entry) && entry.number == number && entry.type == cameraType_) return i;
  }
  return -1;
}

bool COrvaneR3O5Base::Open(int32_t number) {
  std::lock_guard<std::mutex> lock(ClassLock());
  return OpenLocked(number);
}

bool COrvaneR3O5Base::OpenLocked(int32_t number) {
  ORVANE_LOG(kDevice, kInfo, "open camera %d", static_cast<int>(number));
  if (!controller_ || cameraType_ == -1) return false;
  if (controller_->EnumerateDevices() < 1 || !IsDevicePresentLocked(number)) return false;
  const int index = FindTableIndex(number);
  if (index < 0) return false;
  if (cameraType_ != kCameraTypeImx226) return false;
  // Selecting a device closes the data channel under the streaming thread: stop it first.
  if (thread_.joinable()) StopTransfer(1);
  // Refused while another object holds the camera; the camera open so far stays open.
  if (!controller_->Registers()->SelectDevice(index)) return false;
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

bool COrvaneR3O5Base::IsDevicePresent(int32_t number) {
  std::lock_guard<std::mutex> lock(ClassLock());
  return IsDevicePresentLocked(number);
}

bool COrvaneR3O5Base::IsDevicePresentLocked(int32_t number) {
  if (!controller_) return false;
  for (int i = 0; i < kMaxDevices; ++i) {
    DeviceTableEntry entry;
    if (!controller_->GetTableEntry(i, &entry)) continue;
    if (entry.type == cameraType_ && entry.number == number && controller_->IsDeviceOpenable(i)) return true;
  }
  return false;
}

int COrvaneR3O5Base::CountDevices(int32_t typeCode) {
  std::lock_guard<std::mutex> lock(ClassLock());
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

bool COrvaneR3O5Base::GetDeviceName(int32_t index, char* buffer, size_t size) {
  std::lock_guard<std::mutex> lock(ClassLock());
  if (!controller_ || buffer == nullptr || size == 0) return false;
  return controller_->GetDeviceName(index, buffer, size);
}

bool COrvaneR3O5Base::SetCameraType(int32_t code) {
  cameraType_ = code;
  std::lock_guard<std::mutex> ring(ringLock_);
  ringSize_ = kRingSize;
  readMark_ = ringSize_ - 1;
  return true;
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

bool COrvaneR3O5Base::UsesSingleRequestLoop() { return false; }
bool COrvaneR3O5Base::IsLineSensor() { return false; }
int32_t COrvaneR3O5Base::GetDeviceNumber() { return deviceNumber_; }
int COrvaneR3O5Base::GetMaxDevices() { return kMaxDevices; }
