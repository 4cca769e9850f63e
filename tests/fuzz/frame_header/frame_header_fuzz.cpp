// Feeds the controller's frame reads from a fake driver: the camera answers the header read of
// endpoint 0x81 with 64 bytes of the input and the payload reads with what follows. Input: two bytes
// choosing the transfer buffer's size (0..8192), the 64-byte header (zero-padded), then the payload
// the camera has to send. Checked: the header and its counter word arrive unchanged after exactly one
// arming request; the payload read succeeds exactly when the announced length fits the buffer and the
// camera sent that much, and then the buffer holds the payload; nothing is written past the buffer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/shared_memory.h"
#include "usb/driver_seam.h"
#include "usb/orv_cy3_cam.h"
#include "usb/transfer_record.h"
#include "usb/vendor_requests.h"

namespace {

using namespace orvane::usb;

constexpr size_t kMaxBuffer = 8192;
constexpr char kPath[] = "\\\\?\\usb#vid_04b4&pid_31f0#fuzz#{328184c5-93e6-49b7-94b8-2ada13aabb39}";

// What the fake camera sends on endpoint 0x81 for the current input.
struct Stream {
  uint8_t header[kFrameHeaderSize] = {};
  const uint8_t* payload = nullptr;
  size_t payloadSize = 0;
  bool headerSent = false;
  size_t payloadSent = 0;
  int armRequests = 0;
};

// Every request completes at once; bulk reads of endpoint 0x81 give the header first, then payload
// bytes until they run out (a short read).
class FakeHandle : public DeviceHandle {
 public:
  FakeHandle(Stream& stream, bool overlapped) : stream_(stream), overlapped_(overlapped) {}
  bool overlapped() const override { return overlapped_; }
  IoStart Control(IoCode code, void* in, uint32_t inLength, void* out, uint32_t outLength) override {
    const auto* rec = static_cast<const uint8_t*>(in);
    switch (code) {
      case IoCode::kControlTransfer:
        if (inLength >= kTransferRecordSize && rec[record::kRequest] == vendor::kArmRead) ++stream_.armRequests;
        return {kErrorSuccess, inLength, nullptr};
      case IoCode::kDirectBulkTransfer: {
        if (inLength < kTransferRecordSize || rec[record::kEndpoint] != kEndpointFrames) {
          return {kErrorGenFailure, 0, nullptr};
        }
        auto* data = static_cast<uint8_t*>(out);
        if (!stream_.headerSent) {
          const uint32_t n = std::min<uint32_t>(outLength, kFrameHeaderSize);
          std::memcpy(data, stream_.header, n);
          stream_.headerSent = true;
          return {kErrorSuccess, n, nullptr};
        }
        const size_t n = std::min<size_t>(outLength, stream_.payloadSize - stream_.payloadSent);
        if (n != 0) std::memcpy(data, stream_.payload + stream_.payloadSent, n);
        stream_.payloadSent += n;
        return {kErrorSuccess, static_cast<uint32_t>(n), nullptr};
      }
      default:
        return {kErrorSuccess, 0, nullptr};
    }
  }

 private:
  Stream& stream_;
  bool overlapped_;
};

class FakeDriver : public DriverBackend {
 public:
  explicit FakeDriver(Stream& stream) : stream_(stream) {}
  std::vector<std::string> EnumerateInterfaces(const InterfaceGuid&, int) override { return {kPath}; }
  std::unique_ptr<DeviceHandle> Open(const std::string& path, bool overlapped, uint32_t* error) override {
    if (path != kPath) {
      *error = kErrorFileNotFound;
      return nullptr;
    }
    return std::make_unique<FakeHandle>(stream_, overlapped);
  }

 private:
  Stream& stream_;
};

// One controller on one fake camera per process, with a device table of its own.
struct Rig {
  Stream stream;
  FakeDriver driver{stream};
  std::string section = "orvane-frame-header-fuzz-" + std::to_string(getpid());
  std::unique_ptr<COrvCy3Cam> cam;
  Rig() {
    cam = std::make_unique<COrvCy3Cam>(ControllerOptions{kCameraInterfaceGuid, &driver, section});
    if (cam->EnumerateDevices() != 1 || !cam->SelectDevice(0) || !cam->PrepareStreaming()) __builtin_trap();
  }
  ~Rig() {
    cam.reset();
    orvane::platform::SharedMemory::Remove(section);
    orvane::platform::NamedLock::Remove(section + "-Lock");
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Rig rig;
  if (size < 2) return 0;
  const size_t bufferSize = (static_cast<size_t>(data[0]) | static_cast<size_t>(data[1]) << 8) % (kMaxBuffer + 1);
  data += 2;
  size -= 2;
  Stream& stream = rig.stream;
  stream = Stream{};
  std::memcpy(stream.header, data, std::min(size, kFrameHeaderSize));
  if (size > kFrameHeaderSize) {
    stream.payload = data + kFrameHeaderSize;
    stream.payloadSize = size - kFrameHeaderSize;
  }

  // Exactly the buffer's size, so a write past it is an AddressSanitizer report.
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[bufferSize]);
  FrameTransferRequest request;
  request.buffer = buffer.get();
  request.bufferSize = bufferSize;
  if (!rig.cam->ReadFrameHeader(&request) || stream.armRequests != 1) __builtin_trap();
  if (std::memcmp(request.header, stream.header, kFrameHeaderSize) != 0 ||
      request.headerWord32 != LoadU32(stream.header + frame_header::kFrameCounter) ||
      request.FrameCounter() != stream.header[frame_header::kFrameCounter]) {
    __builtin_trap();
  }

  const uint32_t length = request.PayloadLength();
  const bool shouldRead = length <= bufferSize && length <= stream.payloadSize;
  const bool read = rig.cam->ReadFrameData(&request, 1000);
  if (read != shouldRead) __builtin_trap();
  if (read && length != 0 && std::memcmp(buffer.get(), stream.payload, length) != 0) __builtin_trap();
  if (stream.payloadSent > bufferSize) __builtin_trap();
  return 0;
}
