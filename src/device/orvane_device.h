// The camera device object: owns the USB controller and the sensor driver, opens and brings up a camera,
// runs the streaming thread with its ring of frame buffers, and turns setting requests into FPGA and
// sensor operations. The SDK object (COrvane) holds one COrvaneUSB3R5SimpleSdk for its whole life.
//
// Threads: the application's threads call the operations; the streaming thread reads frames. Streaming
// control (StartTransfer, StopTransfer, SetCaptureMode, SetTriggerMode, ConfigureBuffers, Open, Close) and
// the settings are expected from one thread at a time (the SDK object serialises them); frame consumers
// (WaitFrame, GetFrame, CopyFrame, ...) may run on another thread at the same time. Results: the
// operations that succeed or fail answer true or false (Has.../Allows... answer whether the camera has
// or allows it); the value queries answer the value. The SDK object turns a false into the exports'
// results and error codes. Setters are not [[nodiscard]]: pushing the settings goes on past a value the
// sensor refuses (the cache keeps it). The streaming engine's operations keep their numeric results.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "usb/camera_controller.h"
#include "device/frame_metadata.h"
#include "device/sync_event.h"
#include "sensor/sensor_base.h"

class COrvaneR3O5Base {
 public:
  // The camera-type code of this camera (USB product ID 0x31F0); selects the IMX226 driver.
  static constexpr int32_t kCameraTypeImx226 = 12784;
  static constexpr int kMaxDevices = 32;
  static constexpr int kRingSize = 4;
  static constexpr int kMaxRingSlots = 8;

  // Results of WaitFrame.
  static constexpr int kWaitFailed = 1;   // the streaming thread gave up
  static constexpr int kWaitNoFrame = 2;  // timed out, or nothing new
  static constexpr int kWaitNewFrame = 3;

  // Time sources of the open sequence and the EEPROM pacing; injectable so tests need not wait.
  using Sleeper = std::function<void(uint32_t ms)>;
  using Clock = std::function<uint32_t()>;
  using ControllerFactory = std::function<std::unique_ptr<CameraController>(const InterfaceClassGuid&)>;

  COrvaneR3O5Base();
  virtual ~COrvaneR3O5Base();
  COrvaneR3O5Base(const COrvaneR3O5Base&) = delete;
  COrvaneR3O5Base& operator=(const COrvaneR3O5Base&) = delete;

  // ---- Device object and open sequence ----
  // Closes any open device and creates the controller for `guid` (the camera driver's class when null).
  // The window is not used. False when the controller could not be created.
  [[nodiscard]] virtual bool CreateController(void* window, const InterfaceClassGuid* guid);
  [[nodiscard]] bool InitializeDevice();
  virtual bool Close();
  // Copies the 64-byte controller information record read at initialisation.
  [[nodiscard]] bool GetControllerInfo(uint8_t* record);
  [[nodiscard]] bool GetControllerStatus(uint8_t* record);
  // A request meant for the sensor drivers of other camera types; this camera's driver takes none (false).
  [[nodiscard]] bool ForwardSensorRequest(void* request, int32_t b, int32_t c);
  // Stops streaming (waiting for the thread), then opens `number`.
  [[nodiscard]] bool Reopen(int32_t number);
  [[nodiscard]] virtual bool Open(int32_t number);
  [[nodiscard]] virtual bool IsDevicePresent(int32_t number);
  virtual int CountDevices(int32_t typeCode);
  [[nodiscard]] bool GetDeviceName(int32_t index, char* buffer, size_t size);
  bool SetCameraType(int32_t code);
  int32_t GetCameraType();
  int32_t GetTableEntryId(int32_t index);
  int32_t GetTableEntryType(int32_t index);
  int32_t GetTableEntryNumber(int32_t index);
  [[nodiscard]] bool UsesSingleRequestLoop();
  [[nodiscard]] bool IsLineSensor();
  virtual int32_t GetDeviceNumber();
  int GetMaxDevices();
  // A camera is open in one device object at a time, across processes: Open fails while another object
  // holds the camera and takes nothing from it. ReleaseCamera stops streaming and gives the camera up
  // while keeping the controller, the sensor driver's ranges and the device number; ReclaimCamera opens
  // that camera again (the whole open sequence) and answers false when it never was this object's or
  // another object holds it now. HoldsCamera: true while the camera is this object's.
  [[nodiscard]] virtual bool ReleaseCamera();
  [[nodiscard]] virtual bool ReclaimCamera();
  [[nodiscard]] virtual bool HoldsCamera();

  // ---- Streaming engine ----
  // Capture modes: 0 continuous, 1 one frame then stop, 2 one frame per trigger, 3 stop after the next
  // frame header (no payload).
  virtual int StartTransfer(int32_t mode);
  // wait = 1 also aborts the pending transfer and waits for the thread to leave.
  virtual int StopTransfer(int32_t wait);
  // Copies the newest frame (or slot 0) into `buffer`: 0 when `length` is below the frame size, else 1.
  // Rows and pixels follow the sensor's orientation code and `rowOrder` (device/frame_copy.h); with this
  // camera's sensor, rowOrder 1 gives rows as stored and 0 bottom row first.
  virtual int CopyFrame(void* buffer, int32_t length, int32_t* counter, int32_t* status1, int32_t* status2,
                        int32_t* status3, int32_t* status4, int firstSlot, int rowOrder);
  virtual int SetCaptureMode(int32_t mode);
  virtual int ResetController();
  virtual int ConfigureBuffers();
  virtual int ReadFrameCounter();
  // One frame outside the thread into slot 0; 2 when there is nothing to transfer with, else 0 (the
  // transfer-failed flag tells whether a frame came).
  virtual int CaptureOneFrame();
  // Copies slot 0: -2 for a null buffer, else 0. The read mark is not changed.
  virtual int GetFirstSlotFrame(void* buffer, int32_t length, int rowOrder);
  virtual int SetTransferTimeout(int32_t ms);
  // 1 when the last streaming attempt failed, 2 when nothing new arrived within `ms`, 3 for a new frame.
  virtual int WaitFrame(int32_t ms);
  // Copies the newest frame and marks it taken: 0 on success, non-zero when nothing could be copied.
  virtual int GetFrame(void* buffer, int32_t length, int rowOrder);
  // Row order 1; `time` and `extra` are filled by other camera types only.
  virtual int GetFrameTimed(void* buffer, int32_t length, int64_t* time, int32_t* extra, int first);
  virtual int GetFrameInfo(void* buffer, int32_t length, int32_t* counter, int32_t* status1, int32_t* status2,
                           int32_t* status3, int32_t* status4, int rowOrder);
  // Takes the newest frame for delivery, as GetFrame does, into `dst` of `dstBytes` bytes whose rows lie
  // `dstStride` bytes apart (at least a row of the frame), and gives the metadata read with it, its
  // skipped count being the frames read since the previous frame taken. False, with nothing taken,
  // when there is no frame, `dst` is null or smaller than the frame, or the stride is too short.
  [[nodiscard]] virtual bool TakeNewestFrame(uint8_t* dst, int32_t dstStride, size_t dstBytes, int rowOrder,
                                             orvane::device::FrameMetadata* metadata);
  // The counts of the stream since the last StartTransfer (any thread).
  virtual orvane::device::StreamStatistics StreamStats() const;

  // ---- Settings engine ----
  virtual bool SetBitDepth(int32_t mode);
  bool SetReadoutMode(int32_t mode);
  [[nodiscard]] bool GetReadoutMode(int32_t* mode);
  virtual bool SetWindow(int32_t x, int32_t y, int32_t width, int32_t height, int32_t mode);
  [[nodiscard]] bool GetWindow(int32_t* x, int32_t* y, int32_t* width, int32_t* height, int32_t* mode);
  virtual bool SetMirrorH(int32_t flag);
  virtual bool SetMirrorV(int32_t flag);
  [[nodiscard]] bool GetMirrorH(int32_t* flag);
  [[nodiscard]] bool GetMirrorV(int32_t* flag);
  int GetMirrorVDefault();
  int GetMirrorHDefault();
  [[nodiscard]] bool HasMirrorV();
  [[nodiscard]] bool HasMirrorH();
  bool SetTriggerMode(int32_t mode, int32_t force);
  // Whether the window may be narrower / lower than the full 4000 x 3000 frame.
  [[nodiscard]] virtual bool AllowsNarrowWindow();
  [[nodiscard]] virtual bool AllowsLowWindow();

  virtual bool SetGlobalGain(int32_t code);
  [[nodiscard]] bool GetGlobalGain(int32_t* code);
  [[nodiscard]] virtual bool GetGlobalGainMin(int32_t* code);
  [[nodiscard]] virtual bool GetGlobalGainMax(int32_t* code);
  [[nodiscard]] bool GetGlobalGainDefault(int32_t* code);
  // Exposure in units of 100 us; also sets the transfer timeout.
  virtual bool SetExposureTime(int32_t value);
  [[nodiscard]] bool GetExposureTime(int32_t* value);
  [[nodiscard]] virtual bool GetExposureTimeMin(int32_t* value);
  [[nodiscard]] virtual bool GetExposureTimeMax(int32_t* value);
  [[nodiscard]] bool GetExposureTimeDefault(int32_t* value);
  [[nodiscard]] virtual bool HasExposureTimeEx();
  bool SetExposureTimeEx(double seconds);
  [[nodiscard]] bool GetExposureTimeEx(double* seconds);
  [[nodiscard]] bool GetExposureTimeExMin(double* seconds);
  [[nodiscard]] bool GetExposureTimeExMax(double* seconds);
  [[nodiscard]] bool GetExposureTimeExDefault(double* seconds);
  virtual bool SetColorGainRed(int32_t value);
  [[nodiscard]] bool GetColorGainRed(int32_t* value);
  virtual bool SetColorGainGreen1(int32_t value);
  [[nodiscard]] bool GetColorGainGreen1(int32_t* value);
  virtual bool SetColorGainGreen2(int32_t value);
  [[nodiscard]] bool GetColorGainGreen2(int32_t* value);
  virtual bool SetColorGainBlue(int32_t value);
  [[nodiscard]] bool GetColorGainBlue(int32_t* value);
  [[nodiscard]] virtual bool GetColorGainMin(int32_t* value);
  [[nodiscard]] virtual bool GetColorGainMax(int32_t* value);
  [[nodiscard]] bool GetColorGainDefault(int32_t* value);
  [[nodiscard]] virtual bool HasBlackLevel();
  virtual bool SetBlackLevel(int32_t value);
  [[nodiscard]] bool GetBlackLevel(int32_t* value);
  [[nodiscard]] bool GetBlackLevelMin(int32_t* value);
  [[nodiscard]] bool GetBlackLevelMax(int32_t* value);
  [[nodiscard]] bool GetBlackLevelDefault(int32_t* value);
  [[nodiscard]] virtual bool HasGainMode();
  virtual bool SetGainMode(int32_t mode);
  int GetGainMode();
  [[nodiscard]] virtual bool HasShortExposureMode();
  [[nodiscard]] bool GetShortExposureMode(int32_t* flag);
  bool SetShortExposureMode(int32_t flag);
  [[nodiscard]] bool AllowsGray8AndBgrx();
  [[nodiscard]] bool AllowsGray16();
  [[nodiscard]] bool AllowsColorModes();
  // Called once when preview starts, after the settings were pushed (the SDK's 127th operation).
  void PreparePreview();
  // The sampling-rate operation; `sensorIndex` is always 0 for this camera.
  bool SetSamplingRate(int32_t sensorIndex, int32_t word, int32_t* rate);
  // A setting that preview start resets to 0 where supported (the SDK's 153rd to 155th operations).
  [[nodiscard]] bool HasPreviewResetSetting();
  [[nodiscard]] bool GetPreviewResetSetting(int32_t* value);
  bool SetPreviewResetSetting(int32_t value);

  // ---- Device information and auxiliary I/O ----
  [[nodiscard]] bool WriteEeprom(int32_t address, uint8_t value);
  [[nodiscard]] bool ReadEeprom(int32_t address, uint8_t* value);
  // The EEPROM's configuration byte (other camera types keep a setting there).
  [[nodiscard]] bool WriteConfigurationByte(uint8_t value);
  [[nodiscard]] bool ReadConfigurationByte(uint8_t* value);
  // Sensor register access; the SDK always passes bank 0. `ok` may be null.
  [[nodiscard]] bool WriteSensorRegister(int32_t bank, int32_t address, int32_t value);
  int32_t ReadSensorRegister(int32_t bank, int32_t address, int32_t* ok);
  // FPGA byte registers (address and value cut to 8 bits). The read answers the byte, 0 on failure.
  [[nodiscard]] bool WriteFpgaRegister(int32_t address, int32_t value);
  int32_t ReadFpgaRegister(int32_t address, int32_t* ok);
  // True when the FPGA's busy bit (register 2, bit 1) is clear within `ms` milliseconds.
  [[nodiscard]] bool WaitFpgaIdle(int32_t ms);
  [[nodiscard]] bool HasInternalCorrection();
  int GetInternalCorrection();
  bool SetInternalCorrection(int32_t on);
  [[nodiscard]] virtual bool HasPeltier();
  [[nodiscard]] bool GetPeltier(int32_t* value);
  bool SetPeltier(int32_t value);
  [[nodiscard]] bool HasTemperature();
  [[nodiscard]] bool ReadTemperature(double* celsius);
  [[nodiscard]] bool GetFpgaTemperature(double* celsius);

  // Serial number from EEPROM 0x1040..0x105F into `buffer` (at most length - 1 characters and the
  // terminator). True with the text, or true with the buffer untouched when the first byte is 0xFF
  // (blank); false when the first read fails or the buffer is unusable.
  [[nodiscard]] bool ReadSerialNumber(char* buffer, int32_t length);
  // Identification area (12-bit addresses). The write reads back up to 10 times and rewrites on a
  // mismatch; `readBackFailures` (may be null) counts the read-backs that failed. True when the first
  // write succeeded.
  [[nodiscard]] bool WriteIdentificationByte(int32_t address, uint8_t value, int32_t* readBackFailures);
  [[nodiscard]] bool ReadIdentificationByte(int32_t address, uint8_t* value);

  // ---- Read-only views for the SDK object ----
  int32_t FrameSize() const;
  int32_t BitDepthMode() const { return bitDepthMode_; }
  int32_t TriggerMode() const { return triggerMode_.load(); }
  int32_t CaptureMode() const { return captureMode_.load(); }
  int32_t TransferTimeout() const { return transferTimeout_.load(); }
  int32_t LastFrameCounter() const { return lastFrameCounter_.load(); }
  int32_t TriggeredFrames() const { return triggeredFrames_.load(); }
  float FrameRate() const { return frameRate_.load(); }
  double TransferRate() const { return transferRate_.load(); }
  bool IsTransferFailed() const { return transferFailed_.load(); }
  // True from a received frame header until its payload is stored or the attempt fails: a frame is
  // arriving, and ends within the transfer timeout. A wait that runs out meanwhile has not seen the
  // camera fail to deliver, only a slow transfer (a loaded machine).
  bool IsFrameInTransfer() const { return frameInTransfer_.load(); }
  bool IsStreaming() const { return running_.load(); }
  bool ReconfigureNeeded() const { return reconfigureNeeded_; }
  int32_t RingWriteIndex() const;
  CSensorBase* Sensor() const { return sensor_.get(); }
  CameraController* Controller() const { return controller_.get(); }

  // ---- Test seams ----
  void SetControllerFactory(ControllerFactory factory) { controllerFactory_ = std::move(factory); }
  void SetTiming(Sleeper sleeper, Clock clock);

  // The process-wide lock of the device class: opening, closing and the device-table questions of every
  // device object take it once (the ...Locked steps run with it held).
  static std::mutex& ClassLock();

 private:
  bool CloseLocked();
  [[nodiscard]] bool OpenLocked(int32_t number);
  [[nodiscard]] bool IsDevicePresentLocked(int32_t number);

  struct Slot {
    std::vector<uint8_t> data;
    int32_t counter = -1;
    std::array<int32_t, 4> status{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    orvane::device::FrameMetadata metadata;  // its sequence is set when the slot joins the ring
    // Held while the slot's bytes are written or copied out, so that a consumer never sees a torn frame.
    std::mutex lock;
  };

  void TransferLoop();
  bool ReadFramesWhileRunning(int32_t frameSize);
  bool FpgaCountedNewFrame(CControllerBase* regs);
  void ThreadBody();
  // Waits for the old thread to end and joins it (running must already be cleared).
  // Joins the streaming thread, aborting the pending transfer when it has not ended after
  // `abortAfterMs`.
  void JoinThread(int64_t abortAfterMs);
  void EnsureFrameEvent();
  std::shared_ptr<orvane::device::SyncEvent> FrameEvent();
  void SignalFrameEvent();
  void CountFrameForRate();
  // Counts the failed attempt (a failed header read counts as a timeout too when its waits ran out);
  // true when the stream gives up.
  bool RecordFailedAttempt(int* attempts);
  // The metadata of the frame just read by transfer_ (its sequence comes when it is stored).
  orvane::device::FrameMetadata ReadMetadata() const;
  // Puts the frame read into the transfer buffer into slot `slotIndex` (the two change places) and
  // counts it read; `intoRing` also makes it the ring's newest.
  void StoreFrame(int slotIndex, int32_t counter, const std::array<int32_t, 4>* status,
                  const orvane::device::FrameMetadata& metadata, bool intoRing);
  // Where CopySlot puts a frame: the caller's buffer and the distance of its rows (0: the frame's own).
  struct CopyTarget {
    uint8_t* bytes = nullptr;
    size_t size = 0;
    int32_t stride = 0;
  };
  // A buffer of `length` bytes (none when negative) taking the frame's rows back to back.
  static CopyTarget PackedTarget(void* buffer, int32_t length);
  int CopySlot(const CopyTarget& target, int32_t* counter, int32_t* status, int firstSlot, int rowOrder,
               bool markRead, orvane::device::FrameMetadata* metadata = nullptr);
  // Counts the hand-out of the frame of `metadata` and sets its skipped count (ring lock held).
  void CountHandOut(orvane::device::FrameMetadata* metadata);
  int FindTableIndex(int32_t number);
  void Sleep(uint32_t ms) const;
  uint32_t Now() const;
  void ClearRing();

  // Owned parts. controller_ and sensor_ change only in CreateController/Open/Close, never while the
  // streaming thread runs (those operations stop it first).
  std::unique_ptr<CameraController> controller_;
  std::unique_ptr<CSensorBase> sensor_;
  ControllerFactory controllerFactory_;

  std::array<uint8_t, CameraController::kInfoRecordSize> controllerInfo_{};  // written by InitializeDevice
  // The free buffer, of a slot's size: the controller reads the next frame into it (streaming thread, or
  // CaptureOneFrame while no thread runs), and StoreFrame swaps it with a slot under the ring and slot
  // locks. Resized only while no thread runs.
  std::vector<uint8_t> transferBuffer_;
  FrameTransfer transfer_;                // used by the streaming thread / CaptureOneFrame only

  int32_t cameraType_ = -1;
  int32_t bitDepthMode_ = 0;
  int32_t deviceNumber_ = 0;
  bool reconfigureNeeded_ = true;
  bool released_ = false;  // ReleaseCamera gave up the camera opened last (controlling thread only)

  // The ring. ringLock_ guards the indices, the frame size and the copy geometry; each slot's own lock
  // guards its bytes, counter and status words. Lock order: ringLock_ before a slot lock.
  mutable std::mutex ringLock_;
  std::array<Slot, kMaxRingSlots> slots_;
  int32_t ringSize_ = kRingSize;       // guarded by ringLock_
  int32_t writeIndex_ = 0;             // guarded by ringLock_
  int32_t readMark_ = kRingSize - 1;   // guarded by ringLock_
  uint64_t framesStored_ = 0;          // guarded by ringLock_: frames put into the ring
  uint64_t framesHandedOut_ = 0;       // guarded by ringLock_: framesStored_ when a frame was last taken
  orvane::device::StreamStatistics stats_;  // guarded by ringLock_: since the last StartTransfer
  uint64_t lastTakenSequence_ = 0;          // guarded by ringLock_: sequence of the frame taken last
  int32_t frameSize_ = 0;              // guarded by ringLock_
  int32_t copyWidth_ = 0;              // guarded by ringLock_: window width of the row copies
  int32_t copyHeight_ = 0;             // guarded by ringLock_
  int32_t bytesPerPixel_ = 1;          // guarded by ringLock_
  int32_t orientation_ = -1;           // guarded by ringLock_: sensor orientation code at configuration

  // Flags and counters shared with the streaming thread: atomics, one writer each at a time.
  std::atomic<int32_t> captureMode_{0};
  std::atomic<int32_t> triggerMode_{-1};
  std::atomic<bool> transferFailed_{false};
  std::atomic<bool> frameInTransfer_{false};  // written by the streaming thread only
  std::atomic<bool> running_{false};
  std::atomic<int32_t> transferTimeout_{5000};
  std::atomic<int32_t> lastFrameCounter_{0};
  std::atomic<int32_t> triggeredFrames_{0};
  std::atomic<float> frameRate_{0.0f};
  std::atomic<double> transferRate_{0.0};
  // Frame-rate window of the streaming thread (thread-only state).
  uint32_t rateCount_ = 0;
  uint32_t rateStartMs_ = 0;

  // Events. The frame event is replaced and dropped by the controlling thread while consumers may hold
  // a reference; eventLock_ guards the pointers.
  std::mutex eventLock_;
  std::shared_ptr<orvane::device::SyncEvent> frameEvent_;  // guarded by eventLock_
  std::shared_ptr<orvane::device::SyncEvent> threadEnd_;   // guarded by eventLock_
  std::thread thread_;  // owned by the controlling thread

  Sleeper sleeper_;
  Clock clock_;
};

// The class the SDK object instantiates; it adds nothing to the base.
class COrvaneUSB3R5SimpleSdk : public COrvaneR3O5Base {
 public:
  COrvaneUSB3R5SimpleSdk() = default;
  ~COrvaneUSB3R5SimpleSdk() override = default;
};
