// COrvane: the object behind one SDK handle. It owns the device object, the image buffers, the
// preview window and the acquisition thread, the cached settings, and the error history through
// which every exported call reports why it failed. Each public operation is the body of one export
// (same name without the "Orvane_" prefix); the export layer looks the handle up and calls it.
//
// Threads: application threads call the operations; the acquisition thread (the frame loop, its own
// class) waits for frames and has this object deliver them, and the recorder's thread writes the
// recording. The image and device settings parts lock themselves; the pipeline takes one copy of the
// image settings per frame.
//
// Lock order (a thread holding one of these takes only locks further down the list; none is recursive):
//   controlMutex_   serialises start, stop, snapshot, record and close; starts and joins the frame loop
//   callbackMutex_  the application's frame callback, held while it runs (acquisition thread, no frame
//                   lock held: the callback may call exports that take it) and while it is replaced
//   frameLock_      the images, the pipeline, the mask, FrameInfo, the newest frame's metadata and the
//                   application-buffer copy
//   deviceMutex_    held by Dev() for one device call (one Dev() per statement)
//   the device settings' lock (gains, exposure, mirrors applied to the device as one unit)
//   windowMutex_    the preview window's configuration and the frame target
//   the image settings' lock, the recorder's lock, the frame loop's pause lock, the preview window's own
//   lock, the error history's lock
// The acquisition thread never takes controlMutex_, so a stop that holds it may join the thread (the
// frame callback, which runs on it, is refused every operation that takes controlMutex_); the
// recording thread takes frameLock_ (inside the recorder's frame source) and nothing above it. Settings
// change notifications are called with no settings lock held.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

#include "OrvaneSdk.h"
#include "OrvaneSdkEx.h"
#include "device/orvane_device.h"
#include "image/defect_mask.h"
#include "image/dib_image.h"
#include "image/image_pipeline.h"
#include "platform/device_notification.h"
#include "platform/preview_window.h"
#include "platform/thread_annotations.h"
#include "sdk/acquisition_state.h"
#include "sdk/delivered_frame.h"
#include "sdk/frame_loop.h"
#include "sdk/error_history.h"
#include "sdk/recorder.h"
#include "settings/device_settings.h"
#include "settings/image_settings.h"
#include "settings/settings_notifier.h"

class COrvane : private orvane::sdk::FrameLoop::Client {
 public:
  // The "%s_%02d" product name of the camera list.
  static constexpr const char* kProductName = "OrvaneKD7-USB3-R5";
  // Camera-type code of this camera: its USB product ID.
  static constexpr int kCameraType = 12784;
  // Wide-string arguments are converted into buffers of this many bytes (1023 characters).
  static constexpr int kTextBufferSize = 1024;
  static constexpr int kSensorWidth = 4000;
  static constexpr int kSensorHeight = 3000;

  // Makes the device object at Setup. The library passes none and gets the camera device; unit tests
  // pass a factory of a fake camera that implements the device's operations.
  using DeviceFactory = std::function<std::unique_ptr<COrvaneR3O5Base>()>;
  using DeliveredFrame = orvane::sdk::DeliveredFrame;

  COrvane();
  explicit COrvane(DeviceFactory deviceFactory);
  virtual ~COrvane();
  COrvane(const COrvane&) = delete;
  COrvane& operator=(const COrvane&) = delete;

  // Runs once after construction with the notification window (may be null). A failed setup leaves
  // the object usable for GetLastError and Release; later operations fail with error 1 or 2.
  bool Setup(HWND notifyWindow);

  // ---- Errors ----
  // Recorded form: pushes `code` on the history and posts ORVANE_WM_ERROR to the notification
  // window when one was given.
  void ReportError(int code);
  // Notify-only form: posts ORVANE_WM_ERROR without touching the history. With no notification
  // window the platform queues it to the calling thread (Windows) or drops it (Linux).
  void NotifyError(int code);
  int GetLastError();

  // ---- Wide strings ----
  // Converts a wide argument for the 8-bit body; records error 12 (and returns false) on failure.
  bool ConvertArgument(const ORVANE_WCHAR* text, std::array<char, kTextBufferSize>& out);
  // Converts an 8-bit result into the caller's buffer of `length` wide characters; records error 12
  // when the conversion fails or the result with its terminator does not fit.
  bool ConvertResult(const char* text, ORVANE_WCHAR* out, int length);

  // ---- Device choice ----
  int EnumDevice(char names[10][256]);
  int EnumDeviceW(ORVANE_WCHAR names[10][256]);
  int GetDeviceName(int deviceNumber, char* name, int length);
  int GetDeviceNameW(int deviceNumber, ORVANE_WCHAR* name, int length);
  int SetDeviceNumber(int deviceNumber);

  // ---- Geometry and windows ----
  int SetPreviewWindow(HWND parent, int x, int y, int width, int height);
  int SetCaptureWindowEx(int th, int ehs, int eh, int tv, int evs, int ev);
  int GetCaptureWindowEx(int* th, int* ehs, int* eh, int* tv, int* evs, int* ev);
  int SetCaptureWindow(int width, int height);

  // ---- Acquisition ----
  int Preview();
  int CallBackPreview(HWND callbackWindow, unsigned char* buffer, int size, int rowOrder);
  int StartPreview();
  int StopPreview();
  int Capture();
  int Close();
  int SnapShot(unsigned char* buffer, int size, int rowOrder);
  int GetImage(unsigned char* buffer, int size, int rowOrder);
  int Record(const char* fileName, int durationMs, int showWindow);
  int RecordW(const ORVANE_WCHAR* fileName, int durationMs, int showWindow);
  int SetWaitTime(int milliseconds);
  int GetWaitTime() const { return frameLoop_.WaitTime(); }
  // The counts of the device's stream since it last started (zeros without a device).
  orvane::device::StreamStatistics StreamStats();
  // Calls `read` with the newest delivered frame (the output image and its metadata) under the frame
  // lock, so the image is not replaced meanwhile; its rows are valid only during the call. False, with
  // `read` not called, when no frame has been delivered since the last Close.
  bool ReadNewestFrame(const std::function<void(const DeliveredFrame&)>& read);

  // ---- Extensions (OrvaneSdkEx.h; orvane_extension.cpp) ----
  int GetNewestFrame(unsigned char* buffer, int size, int rowOrder, OrvaneExFrameMetadata* metadata);
  int SetFrameCallback(OrvaneExFrameCallback callback, void* context);
  int GetStreamStats(OrvaneExStreamStats* stats);
  // True on the acquisition thread while it runs the application's frame callback.
  bool InFrameCallback() const;

  // ---- Image format ----
  int SetColorMode(int bitsPerPixel);
  int GetColorMode() const;
  int SetSubSample(int mode);
  int GetSubSample() const { return subSample_; }
  int Width() const { return eh_; }
  int Height() const { return ev_; }
  int GetCameraInfo(OrvaneCameraInfo* info);

  // ---- Filter values and device settings ----
  int SetFilterValue(int filterId, int value);
  int GetFilterValue(int filterId, int* ok);
  int SetChannelGain(int channel, int value);
  int GetChannelGain(int channel, int* ok);
  int SetChannelOffset(int channel, int value);
  int GetChannelOffset(int channel, int* ok);
  int SetExposureTimeEx(double seconds);
  double GetExposureTimeEx(int* ok);
  int SetRealExposureTime(int microseconds);
  int GetRealExposureTime(int* ok);
  double GetTemperatureEx(int* ok);
  int SetMirrorH(int on);
  int GetMirrorH();
  int SetMirrorV(int on);
  int GetMirrorV();
  int SetAutoIris(int mode);
  int GetAutoIris(int* ok);
  int SetInternalCorrection(int value);
  int GetInternalCorrection(int* ok);
  int SetSamplingRate(int rate);

  // ---- Registers, EEPROM and port ----
  int ReadRegister(int address, int* ok, bool fullAddress);
  int WriteRegister(int address, int value, bool fullAddress);
  int FpgaReadRegister(int address, int* ok);
  int FpgaWriteRegister(int address, int value);
  int ReadSromID(int address, int* ok);
  int WriteSromID(int address, int value);
  int ReadSerialNumberA(char* buffer, int length);
  int ReadSerialNumberW(ORVANE_WCHAR* buffer, int length);
  int GetIOPort(unsigned char* value);
  int SetIOPort(int value);

  // ---- Configuration ----
  int LoadConfigFileA(const char* fileName);
  int LoadConfigFileW(const ORVANE_WCHAR* fileName);
  // Orvane_GetConfigFilter / Orvane_SetConfigFilter: error 11, -1.
  int ConfigFilterNotSupported() {
    ReportError(ORVANE_ERR_NOT_SUPPORTED);
    return -1;
  }
  // Entries read by the last LoadConfigFileA (two little-endian int32 each).
  std::vector<std::pair<int32_t, int32_t>> ConfigTable() const;

  // ---- Image files, defect mask, dialogs ----
  int SaveImage(const char* fileName, int type);
  int SaveImageW(const ORVANE_WCHAR* fileName, int type);
  int LoadMaskFile(const char* fileName);
  int LoadMaskFileW(const ORVANE_WCHAR* fileName);
  int SaveMaskFile(const char* fileName);
  int SaveMaskFileW(const ORVANE_WCHAR* fileName);
  int UpdateMaskData(int which);

  // Change notifications of the image and device settings (for a settings dialog).
  orvane::settings::SettingsNotifier& SettingsNotifications() { return settingsNotifier_; }

  // ---- For the settings dialogs (src/ui) ----
  // Records error 1 and answers false when there is no device object.
  bool CheckDevice() { return RequireDevice(); }
  // One of the device's capability queries (HasExposureTimeEx, AllowsColorModes, ...), asked with
  // the device access lock held; false without a device object.
  bool QueryDevice(bool (COrvaneR3O5Base::*query)());
  // The image settings part: the dialogs copy and restore it whole and request the one-shot balances.
  orvane::settings::ImageSettings& ImageSettingsPart() { return imageSettings_; }
  // The cached analog settings (gains, exposure, mirrors) as the device was last given them.
  orvane::settings::AnalogSettings AnalogValues() const { return deviceSettings_.Values(); }
  // The camera number whose key of the settings store holds this object's settings.
  int SettingsCameraNumber() const { return SettingsCamera(); }
  // Reads the size entry and the colour mode, sub-sampling, wait time and clock back from the store
  // (after the camera dialog wrote them).
  void ReloadStreamSettings();

  // ---- For tests of this build ----
  const orvane::platform::PreviewWindow& PreviewSurface() const { return previewWindow_; }
  COrvaneR3O5Base* Device() { return device_.get(); }
  orvane::sdk::AcquisitionState AcquisitionStateNow() const { return CurrentState(); }

 private:
  class DeviceExposure;
  friend class DeviceExposure;

  // The device object with its settings lock held for one statement: the device takes its
  // settings from one thread at a time, and application threads call setters concurrently. Only
  // the frame consumers (WaitFrame, GetFrame) reach the device without it, as the device allows.
  // The lock is not recursive: one DeviceAccess per statement or scope.
  class DeviceAccess {
   public:
    DeviceAccess(COrvaneR3O5Base* device, orvane::platform::Mutex& mutex) : lock_(mutex), device_(device) {}
    COrvaneR3O5Base* operator->() const { return device_; }
    COrvaneR3O5Base* get() const { return device_; }

   private:
    std::unique_lock<orvane::platform::Mutex> lock_;
    COrvaneR3O5Base* device_;
  };
  DeviceAccess Dev() { return DeviceAccess(device_.get(), deviceMutex_); }

  // Records error 1 and answers false when there is no device object.
  bool RequireDevice();
  // True when the object's camera is open in it, opening again the camera that Close gave up; records
  // error 2 when the camera was never opened here or another SDK object holds it now.
  bool HoldCamera();
  bool HasDevice() const { return device_ != nullptr; }

  // Acquisition state (orvane_acquisition.cpp). The stored state is written under controlMutex_ (and by
  // the acquisition thread, preview to stream lost); a running recording shows as the recording state.
  orvane::sdk::AcquisitionState CurrentState() const;
  // Asks the state rule about `request`: records the refusal's code and answers its verdict.
  [[nodiscard]] orvane::sdk::Verdict Ask(orvane::sdk::AcquisitionRequest request);
  [[nodiscard]] bool StartPreviewLocked() ORVANE_REQUIRES(controlMutex_);
  void StopLocked() ORVANE_REQUIRES(controlMutex_);
  void CloseLocked() ORVANE_REQUIRES(controlMutex_);
  // Ends the frame loop: asks it to stop, stops the stream (when `stopStream`) so that a wait for a
  // frame ends, and joins it.
  void EndAcquisitionThread(bool stopStream) ORVANE_REQUIRES(controlMutex_);
  [[nodiscard]] bool TakeSnapshot(unsigned char* buffer, int size, int rowOrder, bool inCapture)
      ORVANE_REQUIRES(controlMutex_);
  // The frame target of the application (window for frame messages, buffer, size, row order).
  struct FrameTarget {
    HWND window = nullptr;
    unsigned char* buffer = nullptr;
    int size = 0;
    int rowOrder = 0;
  };
  FrameTarget Target();
  void SetTarget(const FrameTarget& target);
  // The frame loop's client (on its thread): the device's wait, the delivery of a ready frame with its
  // frame message, and the failed stream.
  int WaitForFrame(int ms) override;
  void DeliverReadyFrame(int mode, const std::stop_token& stop) override;
  void StreamFailed() override;
  // Delivers the frame the device has ready to `target` and describes it in `delivered`; false when it
  // was not delivered (no frame message).
  bool DeliverFrame(int mode, const FrameTarget& target, const std::stop_token& stop, DeliveredFrame* delivered)
      ORVANE_EXCLUDES(frameLock_);
  // The output image of `mode` with the metadata of the frame it holds.
  DeliveredFrame DescribeOutput(int mode) ORVANE_REQUIRES(frameLock_);
  // Called on the acquisition thread for every frame delivered to the application, after the copy into
  // its buffer and before the frame message, without the frame lock: the application's callback may
  // call the exports that take it (orvane_extension.cpp). The output image stays as it is meanwhile,
  // since only this thread converts frames into it while the frame loop runs.
  void FrameDelivered(const DeliveredFrame& frame) ORVANE_EXCLUDES(frameLock_);
  // The recorder's frame source: the newest output image as one AVI frame (takes frameLock_).
  bool TakeRecordingFrame(uint8_t* out, size_t size, uint32_t* captureMs);
  bool GeometryValid() const;
  void OutputSize(int* width, int* height) const;
  bool Prepare();
  void PushCachedSettings();
  bool CreatePreviewWindow();
  // Reads the newest raw frame into the raw image of colour mode `mode`, with its metadata (frame lock
  // held); false when no frame could be had.
  bool ReadRawFrame(int mode, orvane::device::FrameMetadata* metadata) ORVANE_REQUIRES(frameLock_);
  // Runs the pipeline for colour mode `mode` on the raw frame and stores what it measured (frame
  // lock held).
  void ConvertFrame(int mode);
  void DrawPreview(int mode);
  // The colour mode whose images hold the current output: while acquiring (preview or capture), the
  // mode the images were prepared for, since a colour-mode change takes effect only at the next
  // preparation; when idle, the colour mode.
  int ActiveMode() const;
  orvane::image::DibImage* OutputImage(int mode);
  orvane::image::DibImage* OutputImage() { return OutputImage(ActiveMode()); }
  // Copies the output image of `mode` into an application buffer (frame lock held); false after
  // reporting 5.
  bool CopyOutput(int mode, unsigned char* buffer, int size, int rowOrder, HWND callbackWindow);
  // WaitFrame for a snapshot: the snapshot timeout, extended while a frame is in transfer.
  int WaitSnapshotFrame();
  void PostFrameMessage(HWND window, uintptr_t wParam, intptr_t lParam);
  void ApplyCameraSettings();
  // The one translation of a settings outcome into an export's result and error code: 1 on success
  // (recording 0 for kOkRecorded), else 0 with the outcome's code recorded.
  int Finish(orvane::settings::SettingStatus status);
  // Settings store (orvane_persistence.cpp).
  int SettingsCamera() const;
  void LoadSizeSettings();
  void LoadStreamSettings();
  void LoadCameraSettings();
  void SaveCameraSettings();
  void SetDefaultImageSettings();
  orvane::image::PipelineSettings SnapshotSettings() const;

  orvane::sdk::ErrorHistory history_;
  std::atomic<HWND> notifyWindow_{nullptr};
  orvane::platform::DeviceNotification deviceNotification_;
  std::unique_ptr<COrvaneR3O5Base> device_;  // made by deviceFactory_ at Setup
  orvane::platform::Mutex deviceMutex_;  // held by Dev() around each settings call into device_

  // Capture geometry: total size, image size and start, and the seventh value of a size preset.
  std::atomic<int> th_{4000}, tv_{3000}, eh_{4000}, ev_{3000}, ehs_{0}, evs_{0}, buf_{4};

  // Preview window configuration and the application's frame target.
  mutable orvane::platform::Mutex windowMutex_;
  HWND previewParent_ ORVANE_GUARDED_BY(windowMutex_) = nullptr;
  int previewX_ ORVANE_GUARDED_BY(windowMutex_) = 0;
  int previewY_ ORVANE_GUARDED_BY(windowMutex_) = 0;
  int previewWidth_ ORVANE_GUARDED_BY(windowMutex_) = 4000;
  int previewHeight_ ORVANE_GUARDED_BY(windowMutex_) = 3000;
  FrameTarget target_ ORVANE_GUARDED_BY(windowMutex_);
  orvane::platform::PreviewWindow previewWindow_;  // locks itself

  std::atomic<int> colorMode_{0};      // 0..5: 8, 16, 24, 32, 48, 64 bits per pixel
  // The colour mode of the last successful preparation: the mode the device delivers and the images
  // are sized for, kept by a running stream until it is prepared again. Written by Prepare under
  // controlMutex_ and frameLock_.
  std::atomic<int> streamMode_{0};
  // The stored acquisition state (never kRecording, which CurrentState derives from the recorder).
  // Written under controlMutex_; the acquisition thread alone moves it from preview to stream lost.
  std::atomic<orvane::sdk::AcquisitionState> state_{orvane::sdk::AcquisitionState::kIdle};
  std::atomic<int> subSample_{0};      // 0 or 17
  std::atomic<int> clock_{0};
  std::atomic<int> currentCamera_{-1};
  std::atomic<bool> cameraSelected_{false};  // a camera was opened at least once
  std::atomic<int> lastCamera_{-1};          // the camera whose settings the store keeps (-1: none yet)
  std::atomic<int> imageValid_{0};
  std::atomic<int> snapshotTimeout_{3000};

  // The settings parts (they lock themselves); the notifier is made first and outlives them.
  orvane::settings::SettingsNotifier settingsNotifier_;
  orvane::settings::ImageSettings imageSettings_{settingsNotifier_};
  orvane::settings::DeviceSettings deviceSettings_{settingsNotifier_};

  // Frames. frameLock_ guards the images, the pipeline, the mask and frameInfo_'s writes.
  orvane::platform::Mutex frameLock_;
  orvane::image::DibImage image8_, image16_, image24_, image32_, image48_, image64_;
  orvane::image::DibImage work_, reduced_, display_;
  orvane::image::DefectMask mask_;
  std::unique_ptr<orvane::image::ImagePipeline> pipeline_;
  OrvaneFrameInfo frameInfo_{};
  // Millisecond clock when the frame in the images was read.
  uint32_t frameCaptureMs_ ORVANE_GUARDED_BY(frameLock_) = 0;
  orvane::device::FrameMetadata frameMetadata_ ORVANE_GUARDED_BY(frameLock_);  // of the frame in the images

  // Its own thread and lock; started and stopped under controlMutex_.
  orvane::sdk::Recorder recorder_;

  // The application's frame callback (OrvaneEx_SetFrameCallback).
  struct FrameCallback {
    OrvaneExFrameCallback function = nullptr;
    void* context = nullptr;
  };
  orvane::platform::Mutex callbackMutex_;
  FrameCallback frameCallback_ ORVANE_GUARDED_BY(callbackMutex_);
  // The thread running the frame callback (none otherwise): the callback may replace itself, and is
  // refused what would wait for its own thread.
  std::atomic<std::thread::id> callbackThread_{};
  void SetFrameCallbackHeld(const FrameCallback& callback) ORVANE_REQUIRES(callbackMutex_);
  // Records error 1 and answers true on the frame callback's thread.
  bool RefuseInFrameCallback();

  DeviceFactory deviceFactory_;
  orvane::platform::Mutex controlMutex_;  // serialises start, stop, snapshot, record and close

  mutable std::mutex configMutex_;
  std::vector<std::pair<int32_t, int32_t>> configTable_;  // guarded by configMutex_

  // The acquisition thread; started and joined under controlMutex_. Made last, so that it ends before
  // any member it reads goes.
  orvane::sdk::FrameLoop frameLoop_{*this};
};
