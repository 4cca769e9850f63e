#include "sdk/orvane.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "platform/log.h"
#include "platform/messages.h"
#include "platform/text.h"
#include "platform/time.h"

COrvane::COrvane() : COrvane([] { return std::make_unique<COrvaneUSB3R5SimpleSdk>(); }) {}

COrvane::COrvane(DeviceFactory deviceFactory)
    : pipeline_(std::make_unique<orvane::image::ImagePipeline>()),
      recorder_([this](uint8_t* out, size_t size, uint32_t* captureMs) { return TakeRecordingFrame(out, size, captureMs); },
                [this](int code) { ReportError(code); }),
      deviceFactory_(std::move(deviceFactory)) {}

COrvane::~COrvane() {
  currentCamera_ = -1;
  if (device_) SaveCameraSettings();
  Close();
  if (device_) {
    Dev()->GetDeviceNumber();
    Dev()->Close();
  }
  device_.reset();
}

bool COrvane::Setup(HWND notifyWindow) {
  device_.reset();
  if (deviceFactory_) device_ = deviceFactory_();
  if (!device_) return false;  // every later operation records error 1
  notifyWindow_ = notifyWindow;
  if (notifyWindow != nullptr &&
      !deviceNotification_.Register(notifyWindow, orvane::platform::kCameraInterfaceGuid)) {
    return false;  // nothing recorded: the application learns of it through the later calls
  }
  // The image buffers are created empty with the object; the mask references are allocated on
  // first use, so nothing here can fail for memory.
  SetDefaultImageSettings();
  LoadSizeSettings();  // creates the store's tree with its defaults on first use
  Dev()->SetCameraType(kCameraType);
  if (!Dev()->CreateController(notifyWindow, nullptr)) {
    // The shared device table is squatted or its lock stuck: no camera can be found.
    ReportError(ORVANE_ERR_THREAD);
  }
  if (Dev()->CountDevices(kCameraType) == 1) SetDeviceNumber(0);
  if (currentCamera_ < 0) LoadCameraSettings();
  LoadStreamSettings();
  return true;
}

// The image settings when none are stored: neutral filters, unity gains, the sensor's Bayer phase.
void COrvane::SetDefaultImageSettings() { imageSettings_.ResetToDefaults(); }

// ---- Errors --------------------------------------------------------------------------------

void COrvane::ReportError(int code) {
  ORVANE_LOG(kApi, kWarn, "error %d recorded by %s", code, orvane::log::CurrentExport());
  history_.Push(code);
  HWND window = notifyWindow_;
  if (window != nullptr) orvane::platform::PostWindowMessage(window, ORVANE_WM_ERROR, 0, code);
}

void COrvane::NotifyError(int code) { orvane::platform::PostWindowMessage(notifyWindow_, ORVANE_WM_ERROR, 0, code); }

int COrvane::GetLastError() { return history_.Pop(); }

bool COrvane::RequireDevice() {
  if (HasDevice()) return true;
  ReportError(ORVANE_ERR_NOT_NOW);
  return false;
}

// ---- Wide strings ----------------------------------------------------------------------------

bool COrvane::ConvertArgument(const ORVANE_WCHAR* text, std::array<char, kTextBufferSize>& out) {
  if (!orvane::platform::WideToAnsi(text, out.data(), out.size())) {
    ReportError(ORVANE_ERR_CONVERSION);
    return false;
  }
  return true;
}

bool COrvane::ConvertResult(const char* text, ORVANE_WCHAR* out, int length) {
  std::array<ORVANE_WCHAR, kTextBufferSize> wide{};
  if (!orvane::platform::AnsiToWide(text, wide.data(), wide.size())) {
    ReportError(ORVANE_ERR_CONVERSION);
    return false;
  }
  size_t needed = 1;
  while (wide[needed - 1] != 0) ++needed;
  if (out == nullptr || length < 0 || static_cast<size_t>(length) < needed) {
    ReportError(ORVANE_ERR_CONVERSION);
    return false;
  }
  std::memcpy(out, wide.data(), needed * sizeof(ORVANE_WCHAR));
  return true;
}

// ---- Device choice ---------------------------------------------------------------------------

int COrvane::EnumDevice(char names[10][256]) {
  if (names == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  if (!RequireDevice()) return 0;
  int count = Dev()->CountDevices(kCameraType);
  int written = 0;
  for (int j = 0; j < count && written < 10; ++j) {
    if (!Dev()->IsDevicePresent(j)) continue;
    std::snprintf(names[written], 256, "%s_%02d", kProductName, written + 1);
    ++written;
  }
  for (int i = written; i < 10; ++i) names[i][0] = '\0';
  return written;
}

int COrvane::EnumDeviceW(ORVANE_WCHAR names[10][256]) {
  if (names == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  char narrow[10][256];
  int count = EnumDevice(narrow);
  for (int i = 0; i < 10; ++i) {
    if (i >= count || !ConvertResult(narrow[i], names[i], 256)) names[i][0] = 0;
  }
  return count;
}

int COrvane::GetDeviceName(int deviceNumber, char* name, int length) {
  // "OrvaneKD7-USB3-R5_NN": the buffer must hold the whole name with its terminator.
  constexpr int kNameBytes = static_cast<int>(std::char_traits<char>::length(kProductName)) + 3 + 1;
  if (name == nullptr || length <= 18 || length < kNameBytes) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  if (deviceNumber < 0 || deviceNumber >= COrvaneR3O5Base::kMaxDevices) {
    ReportError(ORVANE_ERR_NO_CAMERA);
    return 0;
  }
  if (!RequireDevice()) return 0;
  if (!Dev()->IsDevicePresent(deviceNumber)) {
    ReportError(ORVANE_ERR_NO_CAMERA);
    return 0;
  }
  std::snprintf(name, static_cast<size_t>(length), "%s_%02d", kProductName, deviceNumber + 1);
  return 1;
}

int COrvane::GetDeviceNameW(int deviceNumber, ORVANE_WCHAR* name, int length) {
  if (name == nullptr || length < 0) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  char narrow[256] = {};
  if (!GetDeviceName(deviceNumber, narrow, sizeof(narrow))) return 0;
  return ConvertResult(narrow, name, length) ? 1 : 0;
}

int COrvane::SetDeviceNumber(int deviceNumber) {
  if (!RequireDevice()) return 0;
  if (RefuseInFrameCallback()) return 0;
  orvane::platform::MutexLock control(controlMutex_);
  if (cameraSelected_) SaveCameraSettings();
  cameraSelected_ = true;
  if (!Dev()->IsDevicePresent(deviceNumber)) {
    ReportError(ORVANE_ERR_NO_CAMERA);
    return 0;
  }
  if (deviceNumber == currentCamera_ && Dev()->HoldsCamera()) return 1;
  // Refused too while another SDK object (in any process) has the camera open.
  if (!Dev()->Open(deviceNumber)) {
    ReportError(ORVANE_ERR_NO_CAMERA);
    return 0;
  }
  lastCamera_ = deviceNumber;
  LoadCameraSettings();
  ApplyCameraSettings();
  currentCamera_ = deviceNumber;
  return 1;
}

bool COrvane::HoldCamera() {
  if (Dev()->HoldsCamera()) return true;
  // Given up by Close: open it again unless another object took it meanwhile.
  if (!Dev()->ReclaimCamera()) {
    ReportError(ORVANE_ERR_NO_CAMERA);
    return false;
  }
  ApplyCameraSettings();
  return true;
}

// Pushes the cached analog settings to a newly opened camera.
void COrvane::ApplyCameraSettings() {
  DeviceAccess device = Dev();
  deviceSettings_.ApplyToCamera(*device.get());
}

// ---- Geometry and windows ----------------------------------------------------------------------

int COrvane::SetPreviewWindow(HWND parent, int x, int y, int width, int height) {
  if (!RequireDevice()) return 0;
  orvane::platform::MutexLock lock(windowMutex_);
  previewParent_ = parent;
  previewX_ = x;
  previewY_ = y;
  previewWidth_ = width;
  previewHeight_ = height;
  return 1;
}

int COrvane::GetCaptureWindowEx(int* th, int* ehs, int* eh, int* tv, int* evs, int* ev) {
  if (th) *th = th_;
  if (ehs) *ehs = ehs_;
  if (eh) *eh = eh_;
  if (tv) *tv = tv_;
  if (evs) *evs = evs_;
  if (ev) *ev = ev_;
  return 1;
}

int COrvane::SetCaptureWindowEx(int th, int ehs, int eh, int tv, int evs, int ev) {
  if (!RequireDevice()) return 0;
  // The sensor driver tells whether the window may be narrower or lower than the full frame.
  const bool narrowAllowed = Dev()->AllowsNarrowWindow() != 0;
  const bool lowAllowed = Dev()->AllowsLowWindow() != 0;
  if ((!narrowAllowed && eh != kSensorWidth) || (!lowAllowed && ev != kSensorHeight)) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  th_ = th;
  ehs_ = ehs;
  eh_ = eh;
  tv_ = tv;
  evs_ = evs;
  ev_ = ev;
  if (!GeometryValid()) {
    ReportError(ORVANE_ERR_GEOMETRY);
    return 0;
  }
  Dev()->SetWindow(ehs, evs, eh, ev, subSample_);
  return 1;
}

