// The Win32 backend of the driver seam: SetupAPI enumeration, CreateFileA, DeviceIoControl and
// GetOverlappedResult, and nothing more.
#include <windows.h>
#include <setupapi.h>

#include <cstring>
#include <vector>

#include "usb/driver_seam.h"

namespace orvane::usb {
namespace {

GUID ToGuid(const InterfaceGuid& g) {
  GUID guid;
  static_assert(sizeof(GUID) == sizeof(g.words));
  std::memcpy(&guid, g.words, sizeof(guid));
  return guid;
}

class Win32PendingIo final : public PendingIo {
 public:
  explicit Win32PendingIo(HANDLE file) : file_(file) {
    std::memset(&overlapped_, 0, sizeof(overlapped_));
    overlapped_.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  }
  ~Win32PendingIo() override {
    if (started_) {
      DWORD bytes = 0;
      if (!GetOverlappedResult(file_, &overlapped_, &bytes, FALSE) && GetLastError() == ERROR_IO_INCOMPLETE) {
        CancelIoEx(file_, &overlapped_);
        GetOverlappedResult(file_, &overlapped_, &bytes, TRUE);
      }
    }
    if (overlapped_.hEvent != nullptr) CloseHandle(overlapped_.hEvent);
  }
  bool valid() const { return overlapped_.hEvent != nullptr; }
  OVERLAPPED* overlapped() { return &overlapped_; }
  void MarkStarted() { started_ = true; }

  bool Wait(uint32_t timeoutMs) override {
    return WaitForSingleObject(overlapped_.hEvent, timeoutMs == kInfinite ? INFINITE : timeoutMs) == WAIT_OBJECT_0;
  }
  bool GetResult(uint32_t* bytes, uint32_t* error) override {
    DWORD n = 0;
    const BOOL ok = GetOverlappedResult(file_, &overlapped_, &n, FALSE);
    if (bytes != nullptr) *bytes = n;
    if (error != nullptr) *error = ok ? 0 : GetLastError();
    return ok != FALSE;
  }

 private:
  HANDLE file_;
  OVERLAPPED overlapped_;
  bool started_ = false;
};

class Win32Handle final : public DeviceHandle {
 public:
  Win32Handle(HANDLE file, bool overlapped) : file_(file), overlapped_(overlapped) {}
  ~Win32Handle() override { CloseHandle(file_); }
  bool overlapped() const override { return overlapped_; }

  IoStart Control(IoCode code, void* in, uint32_t inLength, void* out, uint32_t outLength) override {
    IoStart start;
    if (!overlapped_) {
      DWORD bytes = 0;
      const BOOL ok = DeviceIoControl(file_, static_cast<DWORD>(code), in, inLength, out, outLength, &bytes, nullptr);
      start.error = ok ? 0 : GetLastError();
      start.bytes = bytes;
      return start;
    }
    auto io = std::make_unique<Win32PendingIo>(file_);
    if (!io->valid()) {
      start.error = GetLastError();
      return start;
    }
    DWORD bytes = 0;
    const BOOL ok =
        DeviceIoControl(file_, static_cast<DWORD>(code), in, inLength, out, outLength, &bytes, io->overlapped());
    start.error = ok ? 0 : GetLastError();
    start.bytes = bytes;
    if (start.error == 0 || start.error == ERROR_IO_PENDING) {
      io->MarkStarted();
      start.io = std::move(io);
    }
    SetLastError(0);
    return start;
  }

 private:
  HANDLE file_;
  bool overlapped_;
};

class Win32Driver final : public DriverBackend {
 public:
  std::vector<std::string> EnumerateInterfaces(const InterfaceGuid& guid, int maxMembers) override {
    std::vector<std::string> paths;
    GUID classGuid = ToGuid(guid);
    HDEVINFO set = SetupDiGetClassDevsA(&classGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return paths;
    for (DWORD member = 0; member < static_cast<DWORD>(maxMembers); ++member) {
      SP_DEVICE_INTERFACE_DATA data{};
      data.cbSize = sizeof(data);
      if (!SetupDiEnumDeviceInterfaces(set, nullptr, &classGuid, member, &data)) continue;
      DWORD required = 0;
      SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
      if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
      // Sized from the queried length: a long path must not overflow a fixed buffer.
      std::vector<unsigned char> buffer(required + 1, 0);
      auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
      detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
      if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr)) continue;
      paths.emplace_back(detail->DevicePath);
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
  }

  std::unique_ptr<DeviceHandle> Open(const std::string& path, bool overlapped, uint32_t* error) override {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    if (file == nullptr || file == INVALID_HANDLE_VALUE) {
      if (error != nullptr) *error = GetLastError();
      return nullptr;
    }
    return std::make_unique<Win32Handle>(file, overlapped);
  }
};

}  // namespace

DriverBackend& PlatformDriver() {
  static Win32Driver driver;
  return driver;
}

}  // namespace orvane::usb
