// The frame path: the preview loop on the acquisition thread, snapshots, and the copies of the output
// image into the application's buffer and the preview window.

#include <chrono>
#include <cstring>

#include "image/raw_conversion.h"
#include "platform/frame_copies.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/time.h"
#include "sdk/orvane.h"

using orvane::image::DibImage;
using orvane::platform::MutexLock;
using orvane::sdk::AcquisitionRequest;
using orvane::sdk::AcquisitionState;
using orvane::sdk::Verdict;

namespace {

bool UsesRaw16(int colorMode) { return colorMode == 1 || colorMode >= 4; }

}  // namespace

void COrvane::PostFrameMessage(HWND window, uintptr_t wParam, intptr_t lParam) {
  if (window != nullptr) orvane::platform::PostWindowMessage(window, ORVANE_WM_FRAME, wParam, lParam);
}

bool COrvane::ReadRawFrame(int mode, orvane::device::FrameMetadata* metadata) {
  DibImage& raw = UsesRaw16(mode) ? image16_ : image8_;
  if (!raw.Valid()) return false;
  // The rows land at the image's own stride: nothing is moved again afterwards.
  return device_->TakeNewestFrame(raw.Bits(), raw.Stride(), raw.SizeBytes(), 1, metadata);
}

COrvane::DeliveredFrame COrvane::DescribeOutput(int mode) {
  DeliveredFrame frame;
  const DibImage* output = OutputImage(mode);
  if (output == nullptr || !output->Valid()) return frame;
  // The rows are stored top row first (image/dib_image.h).
  frame.topRow = output->Row(0);
  frame.stride = output->Stride();
  frame.size = static_cast<int32_t>(output->SizeBytes());
  frame.width = output->Width();
  frame.height = output->Height();
  frame.bitsPerPixel = output->BitsPerPixel();
  frame.metadata = frameMetadata_;
  return frame;
}

bool COrvane::ReadNewestFrame(const std::function<void(const DeliveredFrame&)>& read) {
  MutexLock frame(frameLock_);
  if (imageValid_ == 0) return false;
  const DeliveredFrame newest = DescribeOutput(ActiveMode());
  if (newest.topRow == nullptr) return false;
  read(newest);
  return true;
}

orvane::device::StreamStatistics COrvane::StreamStats() {
  return device_ ? device_->StreamStats() : orvane::device::StreamStatistics{};
}

// ---- The frame loop's client (acquisition thread) ---------------------------------------------------

int COrvane::WaitForFrame(int ms) { return device_->WaitFrame(ms); }

void COrvane::StreamFailed() {
  // The camera is gone or stopped answering: the thread ends, the object stays in preview (the stream
  // lost) until the application stops or closes it. The error is recorded first, so that whoever sees
  // the lost state finds it. A stop under way keeps its own state.
  ORVANE_LOG(kSdk, kError, "the frame stream failed: acquisition stops");
  PostFrameMessage(Target().window, 0, ORVANE_ERR_STREAM);
  ReportError(ORVANE_ERR_STREAM);
  AcquisitionState preview = AcquisitionState::kPreview;
  state_.compare_exchange_strong(preview, AcquisitionState::kStreamLost);
}

void COrvane::DeliverReadyFrame(int mode, const std::stop_token& stop) {
  const FrameTarget target = Target();
  DeliveredFrame delivered{};
  if (!DeliverFrame(mode, target, stop, &delivered)) return;
  FrameDelivered(delivered);
  if (!stop.stop_requested() && target.window != nullptr) {
    PostFrameMessage(target.window, reinterpret_cast<uintptr_t>(&frameInfo_), 0);
  }
}

bool COrvane::DeliverFrame(int mode, const FrameTarget& target, const std::stop_token& stop,
                           DeliveredFrame* delivered) {
  MutexLock frame(frameLock_);
  orvane::device::FrameMetadata metadata;
  if (!ReadRawFrame(mode, &metadata)) {
    ORVANE_LOG(kSdk, kWarn, "a frame could not be taken from the device: skipped");
    PostFrameMessage(target.window, 0, ORVANE_ERR_TRANSFER);
    ReportError(ORVANE_ERR_TRANSFER);
    return false;
  }
  // A stop that came while the frame was fetched is not kept waiting for its conversion: the stop
  // waits for at most the stage in progress.
  if (stop.stop_requested()) return false;
  const DibImage& raw = UsesRaw16(mode) ? image16_ : image8_;
  frameCaptureMs_ = orvane::platform::MultimediaTimeMs();
  const int frameRate = frameLoop_.CountFrame();
  // The block the frame message points at; the application reads it after the post.
  std::atomic_ref<int32_t>(frameInfo_.width).store(raw.Width());
  std::atomic_ref<int32_t>(frameInfo_.height).store(raw.Height());
  std::atomic_ref<int32_t>(frameInfo_.bitsPerPixel).store(orvane::image::BitsOfColorMode(mode));
  std::atomic_ref<int32_t>(frameInfo_.frameRate).store(frameRate);
  std::atomic_ref<unsigned char*>(frameInfo_.buffer).store(target.buffer);
  ConvertFrame(mode);
  frameMetadata_ = metadata;
  recorder_.FrameReady();
  imageValid_ = 1;
  DrawPreview(mode);
  if (target.buffer != nullptr && target.size != 0 &&
      !CopyOutput(mode, target.buffer, target.size, target.rowOrder, target.window)) {
    return false;
  }
  *delivered = DescribeOutput(mode);
  return true;
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
  if (rowOrder != 0) {
    // Rows in memory order: one copy of the whole bitmap, which the C library streams past the caches
    // when it is large (the application's buffer is written, not read, here).
    std::memcpy(buffer, output->Bits(), stride * static_cast<size_t>(height));
  } else {
    for (int y = 0; y < height; ++y) {
      std::memcpy(buffer + stride * static_cast<size_t>(y), output->Row(height - 1 - y), stride);
    }
  }
  orvane::platform::CountFrameCopy();
  return true;
}

// ---- Snapshots and copies ------------------------------------------------------------------------

int COrvane::SnapShot(unsigned char* buffer, int size, int rowOrder) {
  if (size < 0 || (buffer == nullptr && size > 0)) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  if (!RequireDevice()) return 0;
  if (RefuseInFrameCallback()) return 0;
  MutexLock control(controlMutex_);
  if (Ask(AcquisitionRequest::kSnapShot) == Verdict::kRefuse) return 0;
  // Capture mode was prepared once for all its snapshots; from idle each snapshot prepares.
  const bool inCapture = state_.load() == AcquisitionState::kCapture;
  if (!inCapture && !Prepare()) return 0;
  return TakeSnapshot(buffer, size, rowOrder, inCapture) ? 1 : 0;
}

bool COrvane::TakeSnapshot(unsigned char* buffer, int size, int rowOrder, bool inCapture) {
  const HWND callback = Target().window;
  MutexLock frame(frameLock_);
  // The snapshot state lasts while the frame lock is held, so what reads the images under it never
  // meets it; it ends in the state it began in.
  const AcquisitionState before = state_.exchange(AcquisitionState::kSnapshot);
  auto finish = [&](int code) {
    if (!inCapture) Dev()->StopTransfer(0);
    state_ = before;
    if (code == 0) {
      imageValid_ = 1;
      return true;
    }
    ReportError(code);
    return false;
  };
  bool started = Dev()->StartTransfer(1) != 0;  // the settings lock is not held while waiting
  if (!started || WaitSnapshotFrame() != COrvaneR3O5Base::kWaitNewFrame) return finish(ORVANE_ERR_TRANSFER);
  // Capture mode keeps the mode of its preparation; otherwise Prepare has just set it.
  const int prepared = streamMode_;
  orvane::device::FrameMetadata metadata;
  if (!ReadRawFrame(prepared, &metadata)) {
    PostFrameMessage(callback, 0, ORVANE_ERR_TRANSFER);
    return finish(ORVANE_ERR_TRANSFER);
  }
  ConvertFrame(prepared);
  frameMetadata_ = metadata;
  if (buffer != nullptr && size != 0 && !CopyOutput(prepared, buffer, size, rowOrder, callback)) {
    return finish(ORVANE_ERR_MEMORY);
  }
  return finish(0);
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
  MutexLock frame(frameLock_);
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
  if (!CopyOutput(mode, buffer, size, rowOrder, Target().window)) {
    ReportError(ORVANE_ERR_MEMORY);
    return 0;
  }
  return 1;
}
