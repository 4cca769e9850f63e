#include "sim/virtual_bus.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/thread.h"

namespace orvane::sim {
namespace {

class SimHandle final : public usb::DeviceHandle {
 public:
  SimHandle(std::shared_ptr<VirtualCamera> camera, uint64_t generation, bool overlapped)
      : camera_(std::move(camera)), generation_(generation), overlapped_(overlapped) {}
  bool overlapped() const override { return overlapped_; }
  usb::IoStart Control(usb::IoCode code, void* in, uint32_t inLength, void* out, uint32_t outLength) override {
    return camera_->Io(generation_, overlapped_, code, in, inLength, out, outLength);
  }

 private:
  std::shared_ptr<VirtualCamera> camera_;
  uint64_t generation_;
  bool overlapped_;
};

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

}  // namespace

VirtualBus::VirtualBus(int cameras, BusOptions options) : options_(std::move(options)) {
  for (int i = 0; i < cameras && i < 256; ++i) AddCamera();
}

VirtualBus::~VirtualBus() = default;

int VirtualBus::CameraCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(cameras_.size());
}

VirtualCamera& VirtualBus::Camera(int index) const { return *CameraPtr(index); }

std::shared_ptr<VirtualCamera> VirtualBus::CameraPtr(int index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (index < 0 || index >= static_cast<int>(cameras_.size())) return nullptr;
  return cameras_[static_cast<size_t>(index)];
}

CameraConfig VirtualBus::NextConfigLocked() {
  CameraConfig config;
  char serial[40];
  std::snprintf(serial, sizeof(serial), "%s%05d", options_.serialPrefix.c_str(),
                options_.firstNumber + static_cast<int>(cameras_.size()));
  config.serial = serial;
  config.instance = Lower(serial);
  config.productId = options_.productId;
  config.pacing = options_.pacing;
  config.noiseStdDev = options_.noiseStdDev;
  config.noiseSeed = static_cast<uint32_t>(options_.firstNumber + static_cast<int>(cameras_.size()));
  config.number = static_cast<int>(cameras_.size()) + 1;
  return config;
}

VirtualCamera& VirtualBus::AddCamera() {
  CameraConfig config;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    config = NextConfigLocked();
  }
  return AddCamera(std::move(config));
}

VirtualCamera& VirtualBus::AddCamera(CameraConfig config) {
  auto camera = std::make_shared<VirtualCamera>(std::move(config));
  std::vector<FaultStep> faults;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cameras_.push_back(camera);
    faults = options_.faults;
  }
  if (!faults.empty()) camera->Schedule(faults);
  return *camera;
}

std::vector<std::string> VirtualBus::EnumerateInterfaces(const usb::InterfaceGuid& guid, int maxMembers) {
  std::vector<std::string> paths;
  if (!(guid == usb::kCameraInterfaceGuid)) return paths;
  std::vector<std::shared_ptr<VirtualCamera>> cameras;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cameras = cameras_;
  }
  for (const auto& camera : cameras) {
    if (static_cast<int>(paths.size()) >= maxMembers) break;
    camera->PollFaults();
    if (camera->plugged()) paths.push_back(camera->path());
  }
  return paths;
}

std::unique_ptr<usb::DeviceHandle> VirtualBus::Open(const std::string& path, bool overlapped, uint32_t* error) {
  std::vector<std::shared_ptr<VirtualCamera>> cameras;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cameras = cameras_;
  }
  for (const auto& camera : cameras) {
    camera->PollFaults();
    if (camera->plugged() && camera->path() == path) {
      camera->NoteOpened();
      return std::make_unique<SimHandle>(camera, camera->generation(), overlapped);
    }
  }
  if (error != nullptr) *error = usb::kErrorFileNotFound;
  return nullptr;
}

int CamerasRequestedByEnvironment() {
  const char* value = std::getenv("ORVANE_SIM_CAMERAS");
  if (value == nullptr || *value == '\0') return 0;
  char* end = nullptr;
  const long n = std::strtol(value, &end, 10);
  if (end == value || *end != '\0' || n < 1 || n > 32) return 0;
  return static_cast<int>(n);
}

double NoiseRequestedByEnvironment() {
  const char* value = std::getenv("ORVANE_SIM_NOISE");
  if (value == nullptr || *value == '\0') return 0.0;
  char* end = nullptr;
  const double sigma = std::strtod(value, &end);
  if (end == value || *end != '\0' || !(sigma > 0.0) || sigma > 255.0) return 0.0;
  return sigma;
}

namespace {
std::atomic<VirtualBus*>& ActiveBus() {
  static std::atomic<VirtualBus*> bus{nullptr};
  return bus;
}
}  // namespace

VirtualBus& ProcessBus(int cameras) {
  static VirtualBus* const bus = [cameras] {
    BusOptions options;
    options.noiseStdDev = NoiseRequestedByEnvironment();
    const char* shared = std::getenv("ORVANE_SIM_SHARED");
    options.claimedAcrossProcesses = shared != nullptr && std::string(shared) == "1";
    options.faults = FaultsRequestedByEnvironment();
    // Lives as long as the process: controllers may still hold handles during static destruction.
    auto* b = new VirtualBus(cameras, options);
    ActiveBus().store(b);
    return b;
  }();
  return *bus;
}

std::string VirtualBus::ClaimScope() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (options_.claimedAcrossProcesses) return {};
  return "-Process" + std::to_string(platform::CurrentProcessId());
}

VirtualBus* ActiveProcessBus() { return ActiveBus().load(); }

usb::DriverBackend* EnvironmentDriver() {
  const int cameras = CamerasRequestedByEnvironment();
  return cameras > 0 ? &ProcessBus(cameras) : nullptr;
}

FaultInjection* ProcessCameraFaults(int number) {
  VirtualBus* bus = ActiveProcessBus();
  if (bus == nullptr) {
    // Before the library's first look at the driver: the bus it will use is this one.
    const int cameras = CamerasRequestedByEnvironment();
    if (cameras == 0) return nullptr;
    bus = &ProcessBus(cameras);
  }
  return bus->CameraPtr(number - 1).get();
}

}  // namespace orvane::sim
