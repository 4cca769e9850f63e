// The virtual USB bus: a driver backend of the seam with a number of virtual cameras. The library
// uses one per process when ORVANE_SIM_CAMERAS=N (1..32) is set; tests make their own.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/environment_driver.h"
#include "sim/virtual_camera.h"
#include "usb/driver_seam.h"

namespace orvane::sim {

struct BusOptions {
  std::string serialPrefix = "SIM";  // serial numbers <prefix>00001, <prefix>00002, ...
  int firstNumber = 1;
  uint16_t productId = 0x31F0;
  Pacing pacing = Pacing::kSensorTiming;
  double noiseStdDev = 0.0;          // ORVANE_SIM_NOISE for the process bus
  // The cameras are claimed as real ones are, across processes (ORVANE_SIM_SHARED=1 for the process
  // bus): for tests of one camera shared between processes. Off, each process's cameras are its own.
  bool claimedAcrossProcesses = false;
  std::vector<FaultStep> faults{};   // scheduled on every camera plugged in (ORVANE_SIM_FAULTS)
};

class VirtualBus final : public usb::DriverBackend {
 public:
  explicit VirtualBus(int cameras, BusOptions options = {});
  ~VirtualBus() override;

  int CameraCount() const;
  // Camera `index` in plug order (0-based); the camera stays valid for the bus's lifetime.
  VirtualCamera& Camera(int index) const;
  std::shared_ptr<VirtualCamera> CameraPtr(int index) const;
  // Plugs in one more camera with the next serial number.
  VirtualCamera& AddCamera();
  VirtualCamera& AddCamera(CameraConfig config);

  std::vector<std::string> EnumerateInterfaces(const usb::InterfaceGuid& guid, int maxMembers) override;
  std::unique_ptr<usb::DeviceHandle> Open(const std::string& path, bool overlapped, uint32_t* error) override;
  // The cameras live in this process: claims on them are private to it unless claimedAcrossProcesses.
  std::string ClaimScope() const override;

 private:
  CameraConfig NextConfigLocked();

  mutable std::mutex mutex_;
  BusOptions options_;                                   // guarded by mutex_
  std::vector<std::shared_ptr<VirtualCamera>> cameras_;  // guarded by mutex_; never shrinks
};

// ORVANE_SIM_CAMERAS when it is 1..32, else 0.
int CamerasRequestedByEnvironment();
// ORVANE_SIM_NOISE (standard deviation in 8-bit levels) when set and positive, else 0.
double NoiseRequestedByEnvironment();
// The process's bus, created with `cameras` cameras on first call.
VirtualBus& ProcessBus(int cameras);
// The process's bus when the library selected virtual cameras; null otherwise.
VirtualBus* ActiveProcessBus();

}  // namespace orvane::sim
