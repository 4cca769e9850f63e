// Feeds the controller's frame reads from a fake driver: the camera answers the header read of
// endpoint 0x81 with 64 bytes of the input and the payload reads with as many bytes as the input says
// it sends, repeating the input's remaining bytes as the pattern. Input: the transfer buffer's size
// and the bytes sent (3 little-endian bytes each, up to three 512 KiB pieces), the 64-byte header
// (zero-padded), the pattern. Checked: the header and its counter word arrive unchanged after exactly
// one arming request; the payload read succeeds exactly when the announced length fits the buffer and
// the camera sent that much, and then the buffer holds the payload; nothing is written past the buffer.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/shared_memory.h"
#include "usb/driver_seam.h"
#include "usb/orv_cy3_cam.h"
#include "usb/transfer_record.h"
#include "usb/vendor_requests.h"

namespace {

using namespace orvane::usb;

constexpr size_t kMaxBuffer = 3 * kFramePieceSize;
constexpr char kPath[] = "\\\\?\\usb#vid_04b4&pid_31f0#fuzz#{328184c5-93e6-49b7-94b8-2ada13aabb39}";

// Pattern of a camera whose input gave none: 251 bytes, so that piece boundaries fall at every phase.
struct DefaultPattern {
  uint8_t bytes[251];
  DefaultPattern() {
    for (size_t i = 0; i < sizeof(bytes); ++i) bytes[i] = static_cast<uint8_t>((i * 131) >> 3);
  }
};

// What the fake camera sends on endpoint 0x81 for the current input.
struct Stream {
  uint8_t header[kFrameHeaderSize] = {};
  const uint8_t* pattern = nullptr;
  size_t patternSize = 0;
  size_t payloadSize = 0;  // bytes the camera sends after the header
  bool headerSent = false;
  size_t payloadSent = 0;
  int armRequests = 0;

  // Payload bytes [offset, offset + n): the pattern repeated from the payload's start.
  void Copy(size_t offset, size_t n, uint8_t* out) const {
    while (n != 0) {
      const size_t phase = offset % patternSize;
      const size_t run = std::min(n, patternSize - phase);
      std::memcpy(out, pattern + phase, run);
      out += run;
      offset += run;
      n -= run;
    }
  }
  bool Matches(const uint8_t* data, size_t n) const {
    for (size_t offset = 0; offset < n;) {
      const size_t run = std::min(n - offset, patternSize - offset % patternSize);
      if (std::memcmp(data + offset, pattern + offset % patternSize, run) != 0) return false;
      offset += run;
    }
    return true;
  }
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
        stream_.Copy(stream_.payloadSent, n, data);
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
  static const DefaultPattern defaultPattern;
  if (size < 6) return 0;
  const auto le24 = [](const uint8_t* p) { return size_t{p[0]} | size_t{p[1]} << 8 | size_t{p[2]} << 16; };
  const size_t bufferSize = le24(data) % (kMaxBuffer + 1);
  Stream& stream = rig.stream;
  stream = Stream{};
  stream.payloadSize = le24(data + 3) % (kMaxBuffer + 1);
  data += 6;
  size -= 6;
  std::memcpy(stream.header, data, std::min(size, kFrameHeaderSize));
  if (size > kFrameHeaderSize) {
    stream.pattern = data + kFrameHeaderSize;
    stream.patternSize = size - kFrameHeaderSize;
  } else {
    stream.pattern = defaultPattern.bytes;
    stream.patternSize = sizeof(defaultPattern.bytes);
  }

  // Exactly the buffer's size, so a write past it is an AddressSanitizer report.
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[bufferSize]);
  FrameTransferRequest request;
  request.buffer = buffer.get();
  request.bufferSize = bufferSize;
  if (!rig.cam->ReadFrameHeader(&request) || stream.armRequests != 1) __builtin_trap();
  if (std::memcmp(request.header, stream.header, kFrameHeaderSize) != 0 ||
      request.frameCounterWord != LoadU32(stream.header + frame_header::kFrameCounter) ||
      request.FrameCounter() != stream.header[frame_header::kFrameCounter]) {
    __builtin_trap();
  }

  const uint32_t length = request.PayloadLength();
  const bool shouldRead = length <= bufferSize && length <= stream.payloadSize;
  const bool read = rig.cam->ReadFrameData(&request, 1000);
  if (read != shouldRead) __builtin_trap();
  if (read && !stream.Matches(buffer.get(), length)) __builtin_trap();
  if (stream.payloadSent > bufferSize) __builtin_trap();
  return 0;
}
