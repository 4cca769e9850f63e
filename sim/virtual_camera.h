// One virtual camera: a model of the FX3 firmware, FPGA, EEPROM and sensor behind the driver's seven
// I/O control codes. It answers every vendor request byte-exactly (status words, data counts), keeps
// the FPGA register file and memory, the I2C devices and the GPIO 25 level, and streams frames on
// endpoint 0x81 as a 64-byte header plus the rendered payload at the sensor's frame period.
//
// Bulk reads of endpoint 0x81 queue up; a queued read completes when its data is due (frame time,
// arming, injected delays), when it is aborted, or when the camera is unplugged. The driver work is
// done by whichever thread waits on a request, so no thread of its own runs; faults scheduled for a
// later time (virtual_camera_faults.cpp) are fired by the same threads, whose waits end at the next
// fault's time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "sim/fault_injection.h"
#include "sim/fault_plan.h"
#include "sim/scene_renderer.h"
#include "usb/driver_seam.h"

namespace orvane::sim {

enum class Pacing {
  kSensorTiming,  // one frame per frame period of the programmed sensor timing
  kFast,          // a frame whenever one is asked for (tests)
};

struct CameraConfig {
  uint16_t vendorId = 0x04B4;
  uint16_t productId = 0x31F0;
  std::string serial = "SIM00001";  // stored at EEPROM 0x1040, ended by 0xFF
  std::string instance = "sim00001";  // instance part of the device path
  int number = 1;                     // plug order, 1-based (the "camN:" of a fault plan)
  uint16_t firmwareVersion = 0x1205;  // controller information word at byte 24
  uint32_t gpio25DelayMs = 20;        // GPIO 25 rises this long after power-on
  uint32_t linkSpeed = 4;             // get-speed answer (4: USB 3.0 SuperSpeed)
  Pacing pacing = Pacing::kSensorTiming;
  double noiseStdDev = 0.0;           // 8-bit levels
  uint32_t noiseSeed = 1;
};

// What the camera streams with its current registers.
struct FrameFormat {
  RenderSettings render;
  uint32_t payloadLength = 0;
  double framePeriodMs = 0.0;
};

// Event counts, for tests.
struct CameraCounters {
  uint64_t controlRequests = 0;
  uint64_t armRequests = 0;       // 0xC2
  uint64_t streamResets = 0;      // 0xC0
  uint64_t frameRestartPulses = 0;  // FPGA register 108 written 1 then 0
  uint64_t headersSent = 0;
  uint64_t framesCompleted = 0;   // whole payloads delivered
  uint64_t abortRequests = 0;
  uint64_t requestsCancelled = 0;
  uint64_t renders = 0;
  // CPU time the threads calling into the camera spent in it (rendering, copying payloads, the
  // seam's bookkeeping): the work a real camera does itself, for benchmarks to tell apart. Windows
  // counts thread times in scheduler ticks, so there it sees only the longer calls.
  uint64_t cpuNs = 0;
};

std::string DevicePathFor(uint16_t vendorId, uint16_t productId, const std::string& instance);

class VirtualCamera : public FaultInjection, public std::enable_shared_from_this<VirtualCamera> {
 public:
  explicit VirtualCamera(CameraConfig config);
  ~VirtualCamera() override;

  std::string path() const;
  bool plugged() const;
  // Power-on generation; handles opened in an earlier one fail.
  uint64_t generation() const;

  // ---- the seam ----
  // One DeviceIoControl on a handle of `generation`.
  usb::IoStart Io(uint64_t generation, bool overlapped, usb::IoCode code, void* in, uint32_t inLength, void* out,
                  uint32_t outLength);

  // ---- knobs and reading the state ----
  void SetPacing(Pacing pacing);
  void SetGpio25DelayMs(uint32_t ms);
  void SetFirmwareVersion(uint16_t version);
  CameraCounters counters() const;
  size_t PendingBulkRequests() const;
  uint8_t FpgaRegister(uint8_t reg) const;
  void SetFpgaRegister(uint8_t reg, uint8_t value);
  uint8_t SensorRegister(uint16_t address) const;
  uint8_t EepromByte(uint16_t address) const;
  uint8_t Device5ARegister(uint8_t reg) const;
  uint8_t ControlByte() const;
  // FPGA memory byte (unwritten memory reads as a fixed address pattern).
  uint8_t MemoryByte(uint64_t address) const;
  // The format the registers select now, and the payload of the last frame sent (null before one).
  FrameFormat CurrentFormat() const;
  FrameBytes LastFramePayload() const;
  // Frame counter (FPGA register 8 holds its low byte).
  uint32_t FrameCounter() const;

  // ---- FaultInjection ----
  void FailHeaders(int count) override;
  void DelayHeaders(int count, uint32_t delayMs) override;
  void FailPayloads(int count) override;
  void DelayPayloads(int count, uint32_t delayMs) override;
  void ShortPayloads(int count) override;
  void FailBulkStatus(int count) override;
  void SetHeaderStatusWords(int32_t word28, int32_t word40, int32_t word44) override;
  void SetFpgaBusy(bool busy) override;
  void SetEepromWritesFail(bool fail) override;
  void SetGpio25NeverRises(bool never) override;
  void Unplug() override;
  void Replug() override;
  void ReplugAs(const char* instance) override;
  bool ScheduleFaults(const char* plan) override;

  // ---- scheduled faults ----
  // Adds the steps meant for this camera (selector 0 or its number); those due now fire at once.
  void Schedule(const std::vector<FaultStep>& steps);
  // The library opened a handle: the clock of "time since opened" triggers starts at the first one.
  void NoteOpened();
  // Fires the scheduled faults that are due (the bus calls it before it looks at the camera).
  void PollFaults();

  // A queued bulk read; public for the request objects of the seam.
  struct BulkRequest;
  // Waits up to `timeoutMs` for `request` to complete, doing the driver's work meanwhile.
  bool WaitRequest(const std::shared_ptr<BulkRequest>& request, uint32_t timeoutMs);
  bool RequestResult(const std::shared_ptr<BulkRequest>& request, uint32_t* bytes, uint32_t* error);
  // Cancels `request` if it is still queued (its owner is going away).
  void CancelRequest(const std::shared_ptr<BulkRequest>& request);

 private:
  using Clock = std::chrono::steady_clock;
  enum class StreamState { kHeader, kPayload };

  void PowerOnLocked();
  uint32_t ControlTransferLocked(uint8_t* rec, uint32_t length);
  // One vendor request, decoded once from its transfer record (virtual_camera_control.cpp).
  struct ControlRequest;
  // The vendor requests in three groups: below 0xB0 (I2C, control byte, word pair), 0xB0 up to the FPGA
  // register requests, and those.
  uint32_t PortRequestLocked(const ControlRequest& r);
  uint32_t ControllerRequestLocked(const ControlRequest& r);
  uint32_t FpgaRegisterRequestLocked(const ControlRequest& r);
  bool I2cWriteLocked(uint8_t device, const uint8_t* data, int count);
  bool I2cReadLocked(uint8_t device, uint8_t* data, int count);
  void FpgaByteWriteLocked(uint8_t reg, uint8_t value);
  uint8_t FpgaByteReadLocked(uint8_t reg) const;
  bool BulkOutLocked(const uint8_t* data, uint32_t length);
  void ResetStreamLocked(bool disarm);
  FrameFormat FormatLocked() const;
  void EnsureRenderedLocked();
  void StartFrameLocked(Clock::time_point now);
  // Tries to complete the front request of the 0x81 queue; false when nothing could be done now,
  // with `*wake` set to when something may change (Clock::time_point::max() when only an outside
  // event can).
  bool ProcessFrontLocked(Clock::time_point now, Clock::time_point* wake);
  void CompleteLocked(BulkRequest& request, bool ok, uint32_t bytes, uint32_t error, bool statusFailure);
  void CancelQueueLocked(uint32_t error);
  void UnplugLocked();
  void ReplugLocked();
  void NoteStreamingLocked(Clock::time_point now);
  // Fires the due scheduled faults; true when one fired. `*wake` is the time of the next timed one
  // (Clock::time_point::max() when none is waiting for a time).
  bool FireDueFaultsLocked(Clock::time_point now, Clock::time_point* wake);
  void ApplyLocked(const FaultStep& step);
  bool ProcessQueueFrontLocked(Clock::time_point now, Clock::time_point* wake);
  // The parts of ProcessQueueFrontLocked: the front request leaves the queue completed; a read of FPGA
  // memory (its byte count); a frame header; a piece of the payload.
  bool FinishFrontLocked(BulkRequest& r, bool statusFailure, uint32_t bytes);
  uint32_t ReadMemoryLocked(BulkRequest& r);
  bool SendHeaderLocked(BulkRequest& r, Clock::time_point now, Clock::time_point* wake);
  bool SendPayloadLocked(BulkRequest& r, Clock::time_point now, Clock::time_point* wake);
  // The two bulk codes of Io.
  usb::IoStart BulkIoLocked(std::unique_lock<std::mutex>& lock, bool overlapped, usb::IoCode code, uint8_t* in,
                            uint32_t inLength, uint8_t* out, uint32_t outLength);
  usb::IoStart QueueLocked(std::unique_lock<std::mutex>& lock, bool overlapped, std::shared_ptr<BulkRequest> request);

  mutable std::mutex mutex_;
  std::condition_variable changed_;

  // Everything below is guarded by mutex_.
  CameraConfig config_;
  bool plugged_ = true;
  uint64_t generation_ = 1;
  Clock::time_point powerOn_;
  CameraCounters counters_;

  uint8_t fpga_[256] = {};
  std::unordered_map<uint16_t, uint32_t> fpgaWide_;  // 0xD0/0xD1 registers above 255
  uint8_t fpgaPointer_ = 0;
  std::vector<uint8_t> sensor_;                      // 64 KiB register file at I2C 0x48
  uint16_t sensorPointer_ = 0;
  std::vector<uint8_t> eeprom_;                      // 64 KiB at I2C 0xA2
  uint16_t eepromPointer_ = 0;
  uint8_t reg5A_[256] = {};
  uint8_t pointer5A_ = 0;
  uint8_t controlByte_ = 0;
  uint16_t pair_[2] = {};
  bool fpgaBusy_ = false;
  bool eepromWritesFail_ = false;
  bool gpio25Never_ = false;

  std::unordered_map<uint64_t, std::vector<uint8_t>> memory_;  // FPGA memory, 4 KiB pages
  uint64_t memReadAddress_ = 0;
  uint64_t memReadRemaining_ = 0;
  uint64_t memWriteAddress_ = 0;
  uint64_t memWriteRemaining_ = 0;

  StreamState stream_ = StreamState::kHeader;
  bool armed_ = false;
  Clock::time_point lastFrameTime_{};
  bool anyFrame_ = false;
  uint32_t frameCounter_ = 0;
  FrameBytes frame_;             // payload being sent
  uint32_t payloadOffset_ = 0;
  uint32_t payloadEnd_ = 0;      // bytes of the payload that will be sent (short-payload fault)
  uint8_t header_[64] = {};
  int32_t statusWords_[3] = {};

  RenderSettings renderedFor_{};
  bool rendered_ = false;
  std::vector<FrameBytes> variants_;

  int failHeaders_ = 0;
  int delayHeaders_ = 0;
  uint32_t headerDelayMs_ = 0;
  int failPayloads_ = 0;
  int delayPayloads_ = 0;
  uint32_t payloadDelayMs_ = 0;
  int shortPayloads_ = 0;
  int failBulkStatus_ = 0;

  std::deque<std::shared_ptr<BulkRequest>> queue_;  // pending reads of endpoint 0x81

  std::vector<FaultStep> scheduled_;  // faults waiting for their trigger
  bool opened_ = false;               // a handle was opened (once; replug does not reset it)
  Clock::time_point openedAt_{};
  bool streaming_ = false;            // armed since the last stream reset or power-on
  Clock::time_point streamingAt_{};
};

}  // namespace orvane::sim
