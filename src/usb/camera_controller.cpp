// Binds the device object's view of the controller (camera_controller.h) to COrvCy3Cam.
#include "usb/camera_controller.h"

#include "usb/orv_cy3_cam.h"

namespace {

class Cy3CameraController final : public CameraController {
 public:
  explicit Cy3CameraController(const orvane::usb::ControllerOptions& options) : cam_(options) {}

  CControllerBase* Registers() override { return &cam_; }
  int EnumerateDevices() override { return cam_.EnumerateDevices(); }
  bool IsDeviceOpenable(int index) override { return cam_.IsDeviceOpenable(index); }
  bool GetDeviceName(int index, char* text, size_t size) override { return cam_.GetDeviceName(index, text, size); }
  bool GetTableEntry(int index, DeviceTableEntry* entry) override {
    if (index < 0 || index >= kTableEntries || entry == nullptr) return false;
    // Entries past the used ones are cleared: no IDs, number -1.
    const auto used = cam_.GetDeviceEntry(index);
    *entry = used ? DeviceTableEntry{used->vendorId, used->productId, used->ordinal} : DeviceTableEntry{};
    return true;
  }
  void ReleaseDevice() override { cam_.ReleaseDevice(); }
  bool HoldsDevice() override { return cam_.HoldsDevice(); }
  bool TableAttached() override { return cam_.IsAttached(); }
  bool PrepareStreaming() override { return cam_.PrepareStreaming(); }
  bool ReadControllerInfo(uint8_t record[kInfoRecordSize]) override { return cam_.ReadControllerInfo(record); }
  bool ReadControllerStatus(uint8_t record[kInfoRecordSize]) override { return cam_.ReadControllerStatus(record); }
  bool GetLinkSpeed(uint32_t* speed) override { return cam_.GetLinkSpeed(speed); }
  bool OpenDataChannel() override { return cam_.EnsureStreamHandle(); }
  void CloseDataChannel() override { cam_.CloseStreamHandle(); }
  bool ReadFrameHeader(FrameTransfer* transfer) override { return cam_.ReadFrameHeader(transfer); }
  bool ReadFrameData(FrameTransfer* transfer, uint32_t timeoutMs) override {
    return cam_.ReadFrameData(transfer, timeoutMs);
  }
  bool ResetPipe(uint8_t endpoint) override { return cam_.ResetPipe(endpoint); }
  bool SendStreamReset() override { return cam_.SendStreamReset(); }

 private:
  COrvCy3Cam cam_;
};

}  // namespace

std::unique_ptr<CameraController> CreateCameraController(const InterfaceClassGuid& guid) {
  orvane::usb::ControllerOptions options;
  options.guid = guid;
  return CreateCameraController(options);
}

std::unique_ptr<CameraController> CreateCameraController(const orvane::usb::ControllerOptions& options) {
  return std::make_unique<Cy3CameraController>(options);
}
