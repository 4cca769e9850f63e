// Acquisition: preparation, the preview loop on the acquisition thread, snapshots, image copies and
// the preview window.

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "image/raw_conversion.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/time.h"
#include "sdk/orvane.h"

using orvane::image::DibImage;

namespace {

constexpr int kBitsPerMode[] = {8, 16, 24, 32, 48, 64};
constexpr int kFrameWaitMs = 3000;

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

int COrvane::ActiveMode() const { return acquisitionMode_ != 0 ? streamMode_.load() : colorMode_.load(); }

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
  if (!Dev()->IsDevicePresent(Dev()->GetDeviceNumber())) {
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
    std::lock_guard frame(frameLock_);
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

// ---- Preview -------------------------------------------------------------------------------------

bool COrvane::CreatePreviewWindow() {
  orvane::platform::PreviewPlacement placement;
  {
    std::lock_guard lock(windowMutex_);
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
  std::lock_guard control(controlMutex_);
  {
    std::lock_guard lock(windowMutex_);
    callbackWindow_ = callbackWindow;
    appBuffer_ = buffer;
    appBufferSize_ = size;
    appRowOrder_ = rowOrder;
  }
  if (acquisitionMode_ != 1 && !CreatePreviewWindow()) return 0;
  if (!StartPreview()) {
    Close();
    ReportError(ORVANE_ERR_TRANSFER);
    return 0;
  }
  return 1;
}

int COrvane::StartPreview() {
  if (!RequireDevice()) return 0;
  std::lock_guard control(controlMutex_);
  if (acquisitionMode_ == 1) return 1;
  if (acquisitionMode_ == 2) {
    ReportError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  if (!Prepare()) return 0;
  if (!Dev()->StartTransfer(0)) {
    StopPreview();
    ReportError(ORVANE_ERR_DEVICE_IO);
    return 0;
  }
  acquisitionMode_ = 1;
  runState_ = 1;
  try {
    acquisitionThread_ = std::thread([this] { AcquisitionLoop(); });
  } catch (const std::system_error&) {
    StopPreview();
    ReportError(ORVANE_ERR_THREAD);
    return 0;
  }
  return 1;
}

int COrvane::StopPreview() {
  std::lock_guard control(controlMutex_);
  StopRunning();
  if (acquisitionMode_ != 0) {
    acquisitionMode_ = 0;
    if (device_) Dev()->StopTransfer(0);
  }
  if (acquisitionThread_.joinable()) acquisitionThread_.join();
  StopRecording();
  if (!RequireDevice()) return 0;
  return 1;
}

int COrvane::Capture() {
  if (!RequireDevice()) return 0;
  std::lock_guard control(controlMutex_);
  if (acquisitionMode_ == 1) {
    ReportError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  if (acquisitionMode_ == 2) return 1;
  if (!Prepare()) return 0;
  acquisitionMode_ = 2;
  return 1;
}

int COrvane::Close() {
  std::lock_guard control(controlMutex_);
  previewWindow_.Destroy();
  StopRunning();
  if (acquisitionMode_ != 0) acquisitionMode_ = 0;
  if (device_) Dev()->StopTransfer(0);
  if (acquisitionThread_.joinable()) acquisitionThread_.join();
  StopRecording();
  imageValid_ = 0;
  // Another SDK object may open the camera now; the next preparation opens it here again.
  if (device_) Dev()->ReleaseCamera();
  // The application may free its buffer once Close (or Release) returns: a later start must not
  // write into it. The callback window stays, so frame messages still come, naming no buffer.
  {
    std::lock_guard lock(windowMutex_);
    appBuffer_ = nullptr;
    appBufferSize_ = 0;
  }
  std::atomic_ref<unsigned char*>(frameInfo_.buffer).store(nullptr);
  return 1;
}

void COrvane::StopRunning() {
  {
    std::lock_guard lock(runMutex_);
    runState_ = 0;
  }
  runChanged_.notify_all();
}

void COrvane::PostFrameMessage(HWND window, uintptr_t wParam, intptr_t lParam) {
  if (window != nullptr) orvane::platform::PostWindowMessage(window, ORVANE_WM_FRAME, wParam, lParam);
}

void COrvane::UpdateFrameRate() {
  ++frameCounter_;
  uint32_t now = orvane::platform::MultimediaTimeMs();
  uint32_t elapsed = now - lastRateTime_;
  if (elapsed > 1000) {
    frameRate_ = static_cast<int>(static_cast<int64_t>(frameCounter_) * 10000 / elapsed);
    frameCounter_ = 0;
    lastRateTime_ = now;
  }
}

bool COrvane::ReadRawFrame(int mode) {
  DibImage& raw = UsesRaw16(mode) ? image16_ : image8_;
  if (!raw.Valid()) return false;
  if (device_->GetFrame(raw.Bits(), static_cast<int32_t>(raw.SizeBytes()), 1) != 0) return false;
  orvane::image::RepairStride(raw);
  return true;
}

void COrvane::AcquisitionLoop() {
  // The rate is measured over this run's frames only: a window reaching back into the idle time
  // before a restart would report a fraction of the real rate.
  frameCounter_ = 0;
  lastRateTime_ = orvane::platform::MultimediaTimeMs();
  // The mode this stream was prepared for: the device delivers raw data of its depth and only its
  // images are sized, whatever SetColorMode stores meanwhile.
  const int mode = streamMode_;
  while (runState_ != 0) {
    // The wait time is the application's (any non-negative value): a stop ends the wait at once.
    {
      std::unique_lock lock(runMutex_);
      runChanged_.wait_for(lock, std::chrono::milliseconds(waitTime_.load()), [this] { return runState_ == 0; });
    }
    if (runState_ != 1) continue;
    HWND callback;
    unsigned char* buffer;
    int size, rowOrder;
    {
      std::lock_guard lock(windowMutex_);
      callback = callbackWindow_;
      buffer = appBuffer_;
      size = appBufferSize_;
      rowOrder = appRowOrder_;
    }
    int waited = device_->WaitFrame(kFrameWaitMs);
    if (waited == COrvaneR3O5Base::kWaitFailed) {
      ORVANE_LOG(kSdk, kError, "the frame stream failed: acquisition stops");
      runState_ = 0;
      PostFrameMessage(callback, 0, ORVANE_ERR_STREAM);
      ReportError(ORVANE_ERR_STREAM);
      break;
    }
    if (waited != COrvaneR3O5Base::kWaitNewFrame) continue;
    {
      std::lock_guard frame(frameLock_);
      if (!ReadRawFrame(mode)) {
        ORVANE_LOG(kSdk, kWarn, "a frame could not be taken from the device: skipped");
        PostFrameMessage(callback, 0, ORVANE_ERR_TRANSFER);
        ReportError(ORVANE_ERR_TRANSFER);
        continue;
      }
      // A stop that came while the frame was fetched is not kept waiting for its conversion: the
      // stop waits for at most the stage in progress.
      if (runState_ != 1) continue;
      const DibImage& raw = UsesRaw16(mode) ? image16_ : image8_;
      frameCaptureMs_ = orvane::platform::MultimediaTimeMs();
      UpdateFrameRate();
      // The block the frame message points at; the application reads it after the post.
      std::atomic_ref<int32_t>(frameInfo_.width).store(raw.Width());
      std::atomic_ref<int32_t>(frameInfo_.height).store(raw.Height());
      std::atomic_ref<int32_t>(frameInfo_.bitsPerPixel).store(kBitsPerMode[mode]);
      std::atomic_ref<int32_t>(frameInfo_.frameRate).store(frameRate_);
      std::atomic_ref<unsigned char*>(frameInfo_.buffer).store(buffer);
      ConvertFrame(mode);
      {
        std::lock_guard lock(newFrameMutex_);
        newFrame_ = 1;
      }
      newFrameReady_.notify_all();
      imageValid_ = 1;
      DrawPreview(mode);
      if (buffer != nullptr && size != 0 && !CopyOutput(mode, buffer, size, rowOrder, callback)) continue;
    }
    if (runState_ == 1 && callback != nullptr) {
      PostFrameMessage(callback, reinterpret_cast<uintptr_t>(&frameInfo_), 0);
    }
  }
}

void COrvane::DrawPreview(int mode) {
  int clientWidth, clientHeight;
  if (!previewWindow_.DrawableSize(&clientWidth, &clientHeight)) return;
  DibImage* output = OutputImage(mode);
  if (output == nullptr || !output->Valid()) return;
  orvane::image::DisplayFrame shown =
      orvane::image::PrepareDisplay(*output, mode, clientWidth, clientHeight, reduced_, display_);
  if (shown.image == nullptr) return;
  orvane::platform::SurfaceImage surface{shown.image->DeviceContext(), shown.image->Bits(), shown.image->Width(),
                                         shown.image->Height(), shown.image->Stride(), shown.image->BitsPerPixel()};
  previewWindow_.Draw(surface, shown.flipOnBlit);
}

bool COrvane::CopyOutput(int mode, unsigned char* buffer, int size, int rowOrder, HWND callbackWindow) {
  DibImage* output = OutputImage(mode);
  if (output == nullptr || !output->Valid() || buffer == nullptr || size < 0 ||
      static_cast<size_t>(size) < output->SizeBytes()) {
    PostFrameMessage(callbackWindow, 0, ORVANE_ERR_MEMORY);
    ReportError(ORVANE_ERR_MEMORY);
    return false;
  }
  int height = output->Height();
  size_t stride = static_cast<size_t>(output->Stride());
  for (int y = 0; y < height; ++y) {
    int source = rowOrder != 0 ? y : height - 1 - y;
    std::memcpy(buffer + stride * static_cast<size_t>(y), output->Row(source), stride);
  }
  return true;
}

// ---- Snapshots and copies ------------------------------------------------------------------------

int COrvane::SnapShot(unsigned char* buffer, int size, int rowOrder) {
  if (size < 0 || (buffer == nullptr && size > 0)) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  if (!RequireDevice()) return 0;
  std::lock_guard control(controlMutex_);
  int mode = acquisitionMode_;
  if (mode == 1) {
    ReportError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  if (mode != 2 && !Prepare()) return 0;
  HWND callback;
  {
    std::lock_guard lock(windowMutex_);
    callback = callbackWindow_;
  }
  std::lock_guard frame(frameLock_);
  auto fail = [&](int code) {
    if (mode != 2) Dev()->StopTransfer(0);
    ReportError(code);
    return 0;
  };
  bool started = Dev()->StartTransfer(1) != 0;  // the settings lock is not held while waiting
  if (!started || WaitSnapshotFrame() != COrvaneR3O5Base::kWaitNewFrame) return fail(ORVANE_ERR_TRANSFER);
  // Capture mode keeps the mode of its preparation; otherwise Prepare has just set it.
  const int prepared = streamMode_;
  if (!ReadRawFrame(prepared)) {
    PostFrameMessage(callback, 0, ORVANE_ERR_TRANSFER);
    return fail(ORVANE_ERR_TRANSFER);
  }
  ConvertFrame(prepared);
  if (buffer != nullptr && size != 0 && !CopyOutput(prepared, buffer, size, rowOrder, callback)) {
    return fail(ORVANE_ERR_MEMORY);
  }
  if (mode != 2) Dev()->StopTransfer(0);
  imageValid_ = 1;
  return 1;
}

// The snapshot timeout bounds how long the camera may take to start sending the frame. A frame
// whose header has arrived is being delivered: on a loaded machine its copies through the driver
// may outlast the timeout, and giving up then would fail a snapshot the camera answered. Such a
// frame is waited for until it is stored or its transfer fails, which the streaming thread bounds
// by its own transfer timeout and attempt limit.
int COrvane::WaitSnapshotFrame() {
  int waited = device_->WaitFrame(snapshotTimeout_);
  while (waited == COrvaneR3O5Base::kWaitNoFrame && device_->IsFrameInTransfer()) {
    waited = device_->WaitFrame(snapshotTimeout_);
  }
  return waited;
}

int COrvane::GetImage(unsigned char* buffer, int size, int rowOrder) {
  if (!RequireDevice()) return 0;
  std::lock_guard frame(frameLock_);
  const int mode = ActiveMode();
  DibImage* output = OutputImage(mode);
  if (output == nullptr) {
    ReportError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  if (!output->Valid() || buffer == nullptr || size < 0) {
    ReportError(ORVANE_ERR_MEMORY);
    return 0;
  }
  HWND callback;
  {
    std::lock_guard lock(windowMutex_);
    callback = callbackWindow_;
  }
  if (!CopyOutput(mode, buffer, size, rowOrder, callback)) {
    ReportError(ORVANE_ERR_MEMORY);
    return 0;
  }
  return 1;
}

// ---- Recording ----------------------------------------------------------------------------------

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
