#include "sdk/orvane.h"

#include <cstring>
#include <string>

#include "platform/messages.h"
#include "platform/text.h"
#include "ui/dialogs.h"

COrvane::COrvane() = default;

COrvane::~COrvane() {
  currentCamera_ = -1;
  Close();
}

bool COrvane::Setup(HWND notifyWindow) {
  device_.reset();
  if (orvane::sdk::DeviceCoreAvailable()) device_ = orvane::sdk::NewDeviceObject();
  notifyWindow_ = notifyWindow;
  if (notifyWindow != nullptr &&
      !deviceNotification_.Register(notifyWindow, orvane::platform::kCameraInterfaceGuid)) {
    return false;  // nothing recorded: the application learns of it through the later calls
  }
  if (orvane::sdk::DeviceCoreAvailable() && !device_) {
    ReportError(ORVANE_ERR_MEMORY);
    return false;
  }
  return true;
}

// ---- Errors --------------------------------------------------------------------------------

void COrvane::ReportError(int code) {
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
  return 0;
}

int COrvane::EnumDeviceW(ORVANE_WCHAR names[10][256]) {
  if (names == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  if (!RequireDevice()) return 0;
  return 0;
}

int COrvane::GetDeviceName(int deviceNumber, char* name, int length) {
  // "OrvaneKD7-USB3-R5_NN": the buffer must hold the whole name with its terminator.
  constexpr int kNameBytes = static_cast<int>(std::char_traits<char>::length(kProductName)) + 3 + 1;
  if (name == nullptr || length <= 18 || length < kNameBytes) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  if (deviceNumber < 0 || deviceNumber >= 32) {
    ReportError(ORVANE_ERR_NO_CAMERA);
    return 0;
  }
  if (!RequireDevice()) return 0;
  return 0;
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

int COrvane::SetDeviceNumber(int) {
  if (!RequireDevice()) return 0;
  return 0;
}

// ---- Geometry and windows ----------------------------------------------------------------------

int COrvane::SetPreviewWindow(HWND parent, int x, int y, int width, int height) {
  if (!RequireDevice()) return 0;
  std::lock_guard lock(windowMutex_);
  previewParent_ = parent;
  previewX_ = x;
  previewY_ = y;
  previewWidth_ = width;
  previewHeight_ = height;
  return 1;
}

int COrvane::SetCaptureWindowEx(int, int, int, int, int, int) {
  if (!RequireDevice()) return 0;
  return 0;
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

int COrvane::SetCaptureWindow(int, int) {
  if (!RequireDevice()) return 0;
  return 0;
}

// ---- Acquisition -------------------------------------------------------------------------------

int COrvane::Preview() { return CallBackPreview(nullptr, nullptr, 0, 0); }

int COrvane::CallBackPreview(HWND callbackWindow, unsigned char* buffer, int size, int rowOrder) {
  if (size < 0 || (buffer == nullptr && size > 0)) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  {
    std::lock_guard lock(windowMutex_);
    callbackWindow_ = callbackWindow;
    appBuffer_ = buffer;
    appBufferSize_ = size;
    appRowOrder_ = rowOrder;
  }
  if (!StartPreview()) {
    Close();
    ReportError(ORVANE_ERR_TRANSFER);
    return 0;
  }
  return 1;
}

int COrvane::StartPreview() {
  if (!RequireDevice()) return 0;
  return 0;
}

int COrvane::StopPreview() {
  runState_ = 0;
  acquisitionMode_ = 0;
  if (!RequireDevice()) return 0;
  return 1;
}

int COrvane::Capture() {
  if (!RequireDevice()) return 0;
  return 0;
}

int COrvane::Close() {
  runState_ = 0;
  acquisitionMode_ = 0;
  return 1;
}

int COrvane::SnapShot(unsigned char* buffer, int size, int) {
  if (size < 0 || (buffer == nullptr && size > 0)) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  if (!RequireDevice()) return 0;
  return 0;
}

int COrvane::GetImage(unsigned char* buffer, int size, int) {
  if (!RequireDevice()) return 0;
  if (buffer == nullptr || size < 0) {
    ReportError(ORVANE_ERR_MEMORY);
    return 0;
  }
  return 0;
}

int COrvane::Record(const char* fileName, int, int) {
  if (fileName == nullptr || fileName[0] == '\0') {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  {
    std::lock_guard lock(windowMutex_);
    callbackWindow_ = nullptr;
    appBuffer_ = nullptr;
    appBufferSize_ = 0;
    appRowOrder_ = 0;
  }
  if (!StartPreview()) {
    Close();
    ReportError(ORVANE_ERR_CONVERSION);
    return 0;
  }
  return 0;
}

int COrvane::RecordW(const ORVANE_WCHAR* fileName, int durationMs, int showWindow) {
  if (fileName == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  std::array<char, kTextBufferSize> narrow;
  if (!ConvertArgument(fileName, narrow)) return 0;
  return Record(narrow.data(), durationMs, showWindow);
}

int COrvane::SetWaitTime(int milliseconds) {
  if (milliseconds < 0) return 0;
  waitTime_ = milliseconds;
  return 1;
}

// ---- Image format ------------------------------------------------------------------------------

namespace {
constexpr int kBitsPerMode[] = {8, 16, 24, 32, 48, 64};
}

int COrvane::SetColorMode(int bitsPerPixel) {
  for (int mode = 0; mode < 6; ++mode) {
    if (kBitsPerMode[mode] == bitsPerPixel) {
      colorMode_ = mode;
      return 1;
    }
  }
  ReportError(ORVANE_ERR_ARGUMENT);
  return 0;
}

int COrvane::GetColorMode() const {
  int mode = colorMode_;
  return mode >= 0 && mode < 6 ? kBitsPerMode[mode] : -1;
}

int COrvane::SetSubSample(int mode) {
  if (mode != 0 && mode != 17) return 0;
  subSample_ = mode;
  return 1;
}

int COrvane::GetCameraInfo(OrvaneCameraInfo* info) {
  if (!RequireDevice()) return 0;
  if (info == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  return 0;
}

// ---- Filter values and device settings -----------------------------------------------------------

int COrvane::SetFilterValue(int, int) {
  if (!RequireDevice()) return 0;
  return 0;
}

int COrvane::GetFilterValue(int, int* ok) {
  if (ok) *ok = 0;
  if (!RequireDevice()) return 0;
  return 0;
}

namespace {
constexpr bool IsChannel(int channel) { return channel >= 1 && channel <= 4; }
// Channels 1-4 map to filter ids 29-32 (gains) and 33-36 (offsets).
constexpr int kChannelGainBase = 28;
constexpr int kChannelOffsetBase = 32;
}  // namespace

int COrvane::SetChannelGain(int channel, int value) {
  return IsChannel(channel) ? SetFilterValue(kChannelGainBase + channel, value) : 0;
}
int COrvane::GetChannelGain(int channel, int* ok) {
  return IsChannel(channel) ? GetFilterValue(kChannelGainBase + channel, ok) : 0;
}
int COrvane::SetChannelOffset(int channel, int value) {
  return IsChannel(channel) ? SetFilterValue(kChannelOffsetBase + channel, value) : 0;
}
int COrvane::GetChannelOffset(int channel, int* ok) {
  return IsChannel(channel) ? GetFilterValue(kChannelOffsetBase + channel, ok) : 0;
}

int COrvane::SetExposureTimeEx(double) {
  if (!RequireDevice()) return 0;
  return 0;
}

double COrvane::GetExposureTimeEx(int* ok) {
  if (ok) *ok = 0;
  if (!RequireDevice()) return -1.0;
  return -1.0;
}

int COrvane::SetRealExposureTime(int) {
  if (!RequireDevice()) return 0;
  return 0;
}

int COrvane::GetRealExposureTime(int* ok) {
  if (ok) *ok = 0;
  if (!RequireDevice()) return 0;
  return 0;
}

double COrvane::GetTemperatureEx(int* ok) {
  if (ok) *ok = 0;
  if (!RequireDevice()) return 0.0;
  return 0.0;
}

int COrvane::SetMirrorH(int) {
  if (!RequireDevice()) return 0;
  return 0;
}

int COrvane::GetMirrorH() {
  if (!RequireDevice()) return 0;
  return 0;
}

int COrvane::SetMirrorV(int) {
  if (!HasDevice()) {
    NotifyError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  return 0;
}

int COrvane::GetMirrorV() {
  if (!HasDevice()) {
    NotifyError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  return 0;
}

int COrvane::SetAutoIris(int mode) {
  if (mode < 0 || mode > 2) {
    NotifyError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  autoIris_ = mode;
  return 1;
}

int COrvane::GetAutoIris(int* ok) {
  if (ok) *ok = 1;
  return autoIris_;
}

int COrvane::SetInternalCorrection(int) {
  if (!RequireDevice()) return 0;
  return 0;
}

int COrvane::GetInternalCorrection(int*) {
  if (!RequireDevice()) return 0;
  return 0;
}

int COrvane::SetSamplingRate(int) { return 0; }

// ---- Registers, EEPROM and port ------------------------------------------------------------------

int COrvane::ReadRegister(int, int* ok, bool) {
  if (ok) *ok = 0;
  if (!RequireDevice()) return 0;
  return 0;
}

int COrvane::WriteRegister(int, int, bool) {
  if (!RequireDevice()) return 0;
  return 0;
}

int COrvane::FpgaReadRegister(int, int* ok) {
  if (ok) *ok = 0;
  if (!RequireDevice()) return 0;
  return 0;
}

int COrvane::FpgaWriteRegister(int, int) {
  if (!RequireDevice()) return 0;
  return 0;
}

int COrvane::ReadSromID(int, int* ok) {
  if (ok) *ok = 0;
  NotifyError(ORVANE_ERR_NOT_NOW);
  return 0;
}

int COrvane::WriteSromID(int, int) {
  NotifyError(ORVANE_ERR_NOT_NOW);
  return 0;
}

int COrvane::ReadSerialNumberA(char* buffer, int length) {
  if (buffer == nullptr || length < 32) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  if (!RequireDevice()) return 0;
  return 0;
}

int COrvane::ReadSerialNumberW(ORVANE_WCHAR* buffer, int length) {
  if (buffer == nullptr || length < 0) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  char narrow[kTextBufferSize] = {};
  if (!ReadSerialNumberA(narrow, sizeof(narrow))) return 0;
  return ConvertResult(narrow, buffer, length) ? 1 : 0;
}

int COrvane::GetIOPort(unsigned char*) {
  if (!HasDevice()) {
    NotifyError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  return 0;
}

int COrvane::SetIOPort(int) {
  if (!HasDevice()) {
    NotifyError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  return 0;
}

// ---- Image files, defect mask, dialogs -----------------------------------------------------------

int COrvane::SaveImage(const char* fileName, int) {
  if (fileName == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  if (!RequireDevice()) return 0;
  return 0;
}

int COrvane::SaveImageW(const ORVANE_WCHAR* fileName, int type) {
  if (fileName == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  std::array<char, kTextBufferSize> narrow;
  if (!ConvertArgument(fileName, narrow)) return 0;
  return SaveImage(narrow.data(), type);
}

int COrvane::LoadMaskFile(const char* fileName) {
  if (!RequireDevice()) return 0;
  if (fileName == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  return 0;
}

int COrvane::LoadMaskFileW(const ORVANE_WCHAR* fileName) {
  if (fileName == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  std::array<char, kTextBufferSize> narrow;
  if (!ConvertArgument(fileName, narrow)) return 0;
  return LoadMaskFile(narrow.data());
}

int COrvane::SaveMaskFile(const char* fileName) {
  if (!RequireDevice()) return 0;
  if (fileName == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  return 0;
}

int COrvane::SaveMaskFileW(const ORVANE_WCHAR* fileName) {
  if (fileName == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  std::array<char, kTextBufferSize> narrow;
  if (!ConvertArgument(fileName, narrow)) return 0;
  return SaveMaskFile(narrow.data());
}

int COrvane::UpdateMaskData(int) {
  if (!RequireDevice()) return 0;
  return 0;
}

int COrvane::OpenDialog(orvane::ui::Dialog, HWND) {
  if (!RequireDevice()) return 0;
  if (!orvane::ui::DialogsAvailable()) {
    ReportError(ORVANE_ERR_NOT_SUPPORTED);
    return 0;
  }
  return 0;
}
