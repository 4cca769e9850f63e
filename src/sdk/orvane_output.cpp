// Image files, and the start of an AVI recording of the processed frames (the recorder writes it).


#include "output/avi_frame.h"
#include "output/image_file_writer.h"
#include "platform/log.h"
#include "platform/time.h"
#include "sdk/orvane.h"

int COrvane::SaveImage(const char* fileName, int type) {
  if (fileName == nullptr) {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  if (!HasDevice() || imageValid_ == 0) {
    ReportError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  if (fileName[0] == '\0') return 0;
  // The whole write runs under the frame lock: the acquisition thread waits instead of replacing
  // the frame being saved.
  orvane::platform::MutexLock frame(frameLock_);
  const orvane::image::DibImage* output = OutputImage();
  if (output == nullptr || !output->Valid()) {
    ReportError(ORVANE_ERR_NOT_NOW);
    return 0;
  }
  return orvane::output::ImageFileWriter::Write(fileName, *output, type, 16) ? 1 : 0;
}

int COrvane::Record(const char* fileName, int durationMs, int showWindow) {
  if (fileName == nullptr || fileName[0] == '\0') {
    ReportError(ORVANE_ERR_ARGUMENT);
    return 0;
  }
  if (!RequireDevice()) return 0;
  if (RefuseInFrameCallback()) return 0;
  orvane::platform::MutexLock control(controlMutex_);
  // One recording at a time; in capture mode the recording's preview is refused below.
  if (Ask(orvane::sdk::AcquisitionRequest::kRecord) == orvane::sdk::Verdict::kRefuse) return 0;
  recorder_.Reap();  // a recording that finished by itself
  SetTarget({});
  if (showWindow != 0 && !orvane::sdk::PreviewIsUp(CurrentState()) && !CreatePreviewWindow()) return 0;
  bool started = StartPreviewLocked();
  if (started) {
    orvane::platform::MutexLock frame(frameLock_);
    const orvane::image::DibImage* output = OutputImage();
    started = output != nullptr && output->Valid() && recorder_.Open(fileName, output->Width(), output->Height());
  }
  if (!started) {
    ORVANE_LOG(kOutput, kError, "recording into %s could not start", fileName);
    CloseLocked();
    ReportError(ORVANE_ERR_CONVERSION);
    return 0;
  }
  ORVANE_LOG(kOutput, kInfo, "recording %d ms into %s", durationMs, fileName);
  if (!recorder_.Start(durationMs)) {
    CloseLocked();
    ReportError(ORVANE_ERR_THREAD);
    return 0;
  }
  return 1;
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

bool COrvane::TakeRecordingFrame(uint8_t* out, size_t size, uint32_t* captureMs) {
  orvane::platform::MutexLock frame(frameLock_);
  const orvane::image::DibImage* output = OutputImage();
  *captureMs = frameCaptureMs_;
  return output != nullptr && orvane::output::ConvertToAviFrame(*output, out, size);
}
