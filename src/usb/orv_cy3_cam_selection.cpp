// Selecting a camera: the claim that makes a camera this controller's alone among every process
// sharing the device table, and the handles that only a holder may open.
#include <utility>

#include "platform/log.h"
#include "usb/orv_cy3_cam.h"

using namespace orvane::usb;

bool COrvCy3Cam::SelectDevice(int index) {
  CloseStreamHandle();
  if (!IsDeviceOpenable(index)) return false;
  const std::optional<DeviceEntry> entry = GetDeviceEntry(index);
  if (!entry) return false;
  std::lock_guard<std::mutex> lock(claimMutex_);
  if (!claim_ || claimedPath_ != entry->devicePath) {
    std::optional<orvane::platform::CameraClaim> claim;
    const auto result = orvane::platform::CameraClaim::TryAcquire(sectionName() + driver().ClaimScope(), entry->devicePath, &claim);
    if (!claim) {
      // The camera selected so far (if any) stays this controller's.
      ORVANE_LOG(kUsb, kInfo, "camera %d not selected: %s", index,
                 result == orvane::platform::ClaimResult::kBusy ? "another object holds it" : "no claim possible");
      return false;
    }
    claim_ = std::move(claim);  // lets the previous camera go
    claimedPath_ = entry->devicePath;
  }
  deviceIndex_.store(index);
  holdsDevice_.store(true);
  return true;
}

void COrvCy3Cam::ReleaseDevice() {
  CloseStreamHandle();
  std::lock_guard<std::mutex> lock(claimMutex_);
  holdsDevice_.store(false);
  claim_.reset();
  claimedPath_.clear();
}

std::unique_ptr<DeviceHandle> COrvCy3Cam::OpenSelectedHandle(bool overlapped) {
  if (!holdsDevice_.load()) return nullptr;
  return OpenDeviceHandle(deviceIndex_.load(), overlapped);
}
