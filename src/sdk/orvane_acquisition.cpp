// Acquisition: the state rule applied by the exports that start, stop, snap and record, preparation,
// and the preview window. The frame path (acquisition thread, snapshots, copies) is in orvane_frames.cpp.

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "image/raw_conversion.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/time.h"
#include "sdk/orvane.h"

using orvane::platform::MutexLock;
using orvane::sdk::AcquisitionRequest;
using orvane::sdk::AcquisitionState;
using orvane::sdk::Verdict;

using orvane::image::DibImage;

namespace {

bool UsesRaw16(int colorMode) { return colorMode == 1 || colorMode >= 4; }

int SubSampleDivisor(int mode) {
  switch (mode) {
    case 1: case 17: return 2;
    case 2: case 18: return 4;
    case 3: case 19: return 8;
    default: return 1;
  }
}

// (Re)creates `image` only when its geometry or depth differs, so repeated preparations keep their
// buffers (no allocation per snapshot).
bool EnsureImage(DibImage& image, int width, int height, int bits) {
  if (image.Valid() && image.Width() == width && image.Height() == height && image.BitsPerPixel() == bits) return true;
  if (!image.Create(width, height, bits)) return false;
  if (bits == 8) image.SetColorTable(DibImage::ColorTableMode::kGray);
  return true;
}

}  // namespace

// ---- Geometry and preparation ------------------------------------------------------------------

bool COrvane::GeometryValid() const {
  int eh = eh_, ev = ev_, ehs = ehs_, evs = evs_, mode = subSample_;
  if (eh < 0 || ev < 0 || ehs < 0 || evs < 0) return false;
  if (eh > kSensorWidth || ev > kSensorHeight || ehs > kSensorWidth || evs > kSensorHeight) return false;
  if (ehs + eh > kSensorWidth || evs + ev > kSensorHeight) return false;
  return mode != 1 && mode != 2 && mode != 3 && mode != 18 && mode != 19;
}

void COrvane::OutputSize(int* width, int* height) const {
  int eh = eh_, ev = ev_, mode = subSample_;
  int divisor = SubSampleDivisor(mode);
  if (mode == 0) {
    *width = std::min(eh, kSensorWidth);
    *height = std::min(ev, kSensorHeight);
  } else if (eh == 2048 && ev == 1080) {
    *width = 2048;
    *height = 1080;
  } else {
    *width = eh >= 2048 ? 2048 : eh / divisor;
    *height = ev >= 1080 ? 1080 : ev / divisor;
  }
}

int COrvane::ActiveMode() const {
  return orvane::sdk::HoldsPreparedStream(CurrentState()) ? streamMode_.load() : colorMode_.load();
}

DibImage* COrvane::OutputImage(int mode) {
  switch (mode) {
    case 0: return &image8_;
    case 1: return &image16_;
    case 2: return &image24_;
    case 3: return &image32_;
    case 4: return &image48_;
    case 5: return &image64_;
    default: return nullptr;
  }
}

bool COrvane::Prepare() {
  const int32_t deviceNumber = Dev()->GetDeviceNumber();
  if (!Dev()->IsDevicePresent(deviceNumber)) {
    ReportError(ORVANE_ERR_NO_CAMERA);
    return false;
  }
  if (!HoldCamera()) return false;
  if (!GeometryValid()) {
    ReportError(ORVANE_ERR_GEOMETRY);
    return false;
  }
  int width, height;
  OutputSize(&width, &height);
  int mode = colorMode_;
  {
    MutexLock frame(frameLock_);
    bool sized = true;
    switch (mode) {
      case 0: sized = EnsureImage(image8_, width, height, 8) && EnsureImage(image24_, width, height, 24); break;
      case 1: sized = EnsureImage(image8_, width, height, 8) && EnsureImage(image16_, width, height, 16); break;
      case 2: sized = EnsureImage(image8_, width, height, 8) && EnsureImage(image24_, width, height, 24); break;
      case 3:
        sized = EnsureImage(image8_, width, height, 8) && EnsureImage(image24_, width, height, 24) &&
                EnsureImage(image32_, width, height, 32);
        break;
      case 4:
        sized = EnsureImage(image16_, width, height, 16) && EnsureImage(image24_, width, height, 24) &&
                EnsureImage(image48_, width, height, 48);
        break;
      case 5:
        sized = EnsureImage(image16_, width, height, 16) && EnsureImage(image24_, width, height, 24) &&
                EnsureImage(image64_, width, height, 64);
        break;
      default: sized = false;
    }
    DibImage* output = OutputImage(mode);
    if (!sized || output == nullptr || !EnsureImage(work_, output->Width(), output->Height(), output->BitsPerPixel())) {
      ReportError(ORVANE_ERR_MEMORY);
      return false;
    }
    // From here on the stream reads, converts and copies in this mode; a later SetColorMode waits
    // for the next preparation.
    streamMode_ = mode;
  }
  Dev()->SetBitDepth(UsesRaw16(mode) ? 1 : 0);
  if (!Dev()->SetWindow(ehs_, evs_, eh_, ev_, subSample_)) {
    ReportError(ORVANE_ERR_GEOMETRY);
    return false;
  }
  PushCachedSettings();
  return true;
}

void COrvane::PushCachedSettings() {
  DeviceAccess device = Dev();
  deviceSettings_.PushForPreparation(*device.get());
  device->PreparePreview();
}

// ---- State --------------------------------------------------------------------------------------

AcquisitionState COrvane::CurrentState() const {
  AcquisitionState state = state_.load();
  if (orvane::sdk::PreviewIsUp(state) && recorder_.Active()) return AcquisitionState::kRecording;
  return state;
}

Verdict COrvane::Ask(AcquisitionRequest request) {
  AcquisitionState state = CurrentState();
  orvane::sdk::Decision decision = orvane::sdk::Decide(state, request);
  if (decision.verdict == Verdict::kRefuse) {
    ORVANE_LOG(kSdk, kDebug, "refused in the %s state", orvane::sdk::StateName(state));
    ReportError(decision.error);
  }
  return decision.verdict;
}

COrvane::FrameTarget COrvane::Target() {
  MutexLock lock(windowMutex_);
  return target_;
}

void COrvane::SetTarget(const FrameTarget& target) {
  MutexLock lock(windowMutex_);
  target_ = target;
}

// ---- Preview -------------------------------------------------------------------------------------

bool COrvane::CreatePreviewWindow() {
  orvane::platform::PreviewPlacement placement;
  {
    MutexLock lock(windowMutex_);
    if (previewParent_ == nullptr && previewX_ == 0 && previewY_ == 0 && previewWidth_ == 0 && previewHeight_ == 0) {
      return true;  // no window configured: the preview runs without one
    }
    placement.parent = previewParent_;
    placement.x = previewX_;
    placement.y = previewY_;
    placement.width = previewWidth_;
    placement.height = previewHeight_;
  }
  int divisor = SubSampleDivisor(subSample_);
  placement.imageWidth = eh_ / divisor;
  placement.imageHeight = ev_ / divisor;
  uint32_t timeValue = orvane::platform::MultimediaTimeMs() + static_cast<uint32_t>(std::rand());
  if (!previewWindow_.Create(this, timeValue, placement)) {
    ReportError(ORVANE_ERR_WINDOW);
    return false;
  }
  return true;
}

int COrvane::Preview() { return CallBackPreview(nullptr, nullptr, 0, 0); }

int COrvane::CallBackPreview(HWND callbackWindow, unsigned char* buffer, int size, int rowOrder) {
  if (size < 0 || (buffer == nullptr && size > 0)) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  if (!RequireDevice()) return 0;
  if (RefuseInFrameCallback()) return 0;
  MutexLock control(controlMutex_);
  SetTarget({callbackWindow, buffer, size, rowOrder});
  if (!orvane::sdk::PreviewIsUp(CurrentState()) && !CreatePreviewWindow()) return 0;
  if (!StartPreviewLocked()) {
    CloseLocked();
    ReportError(ORVANE_ERR_TRANSFER);
    return 0;
  }
  return 1;
}

int COrvane::StartPreview() {
  if (!RequireDevice()) return 0;
  if (RefuseInFrameCallback()) return 0;
  MutexLock control(controlMutex_);
  return StartPreviewLocked() ? 1 : 0;
}

bool COrvane::StartPreviewLocked() {
  switch (Ask(AcquisitionRequest::kStartPreview)) {
    case Verdict::kAlready: return true;
    case Verdict::kRefuse: return false;
    case Verdict::kProceed: break;
  }
  if (!Prepare()) return false;
  if (!Dev()->StartTransfer(0)) {
    StopLocked();
    ReportError(ORVANE_ERR_DEVICE_IO);
    return false;
  }
  state_ = AcquisitionState::kPreview;
  // The mode this stream was prepared for: the device delivers raw data of its depth and only its
  // images are sized, whatever SetColorMode stores meanwhile.
  if (!frameLoop_.Start(streamMode_)) {
    StopLocked();
    ReportError(ORVANE_ERR_THREAD);
    return false;
  }
  return true;
}

int COrvane::StopPreview() {
  if (RefuseInFrameCallback()) return 0;
  MutexLock control(controlMutex_);
  StopLocked();
  if (!RequireDevice()) return 0;
  return 1;
}

void COrvane::EndAcquisitionThread(bool stopStream) {
  // The stop request ends the loop's pause at once; stopping the stream ends a wait for a frame.
  frameLoop_.RequestStop();
  if (stopStream && device_) Dev()->StopTransfer(0);
  frameLoop_.Join();
}

void COrvane::StopLocked() {
  // A prepared capture or a preview (running or lost) has a stream to stop; idle has none.
  AcquisitionState state = state_.exchange(AcquisitionState::kStopping);
  EndAcquisitionThread(state != AcquisitionState::kIdle);
  recorder_.Stop();
  state_ = AcquisitionState::kIdle;
}

int COrvane::Capture() {
  if (!RequireDevice()) return 0;
  if (RefuseInFrameCallback()) return 0;
  MutexLock control(controlMutex_);
  switch (Ask(AcquisitionRequest::kCapture)) {
    case Verdict::kAlready: return 1;
    case Verdict::kRefuse: return 0;
    case Verdict::kProceed: break;
  }
  if (!Prepare()) return 0;
  state_ = AcquisitionState::kCapture;
  return 1;
}

int COrvane::Close() {
  if (RefuseInFrameCallback()) return 0;
  MutexLock control(controlMutex_);
  CloseLocked();
  return 1;
}

void COrvane::CloseLocked() {
  previewWindow_.Destroy();
  state_ = AcquisitionState::kStopping;
  // The stream is stopped whatever the state: a snapshot's single frame may still be pending.
  EndAcquisitionThread(true);
  recorder_.Stop();
  state_ = AcquisitionState::kIdle;
  imageValid_ = 0;
  // Another SDK object may open the camera now; the next preparation opens it here again.
  if (device_) Dev()->ReleaseCamera();
  // The application may free its buffer once Close (or Release) returns: a later start must not
  // write into it. The callback window stays, so frame messages still come, naming no buffer.
  {
    MutexLock lock(windowMutex_);
    target_.buffer = nullptr;
    target_.size = 0;
  }
  std::atomic_ref<unsigned char*>(frameInfo_.buffer).store(nullptr);
}

int COrvane::SetWaitTime(int milliseconds) {
  if (milliseconds < 0) return 0;
  frameLoop_.SetWaitTime(milliseconds);
  return 1;
}
