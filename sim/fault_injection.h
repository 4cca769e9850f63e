// Faults the virtual camera can be told to produce, for tests of the layers above it and of
// applications. Every setter is thread-safe and takes effect for the next matching request; counts
// are consumed one per request.
//
// Reaching it from an application or a test program. A program that links the library statically
// (the orvane_api target and the layers below it) and runs with ORVANE_SIM_CAMERAS=N gets the
// interface of each of the process's virtual cameras from ProcessCameraFaults(number):
//
//   #include "sim/fault_injection.h"
//   setenv("ORVANE_SIM_CAMERAS", "1", 1);          // before the first Orvane_Initialize
//   int h = Orvane_Initialize(window);
//   ...                                             // start a preview
//   orvane::sim::ProcessCameraFaults(1)->Unplug();  // the preview ends with error 13
//   orvane::sim::ProcessCameraFaults(1)->Replug();  // Orvane_StopPreview, then start again
//
// ScheduleFaults takes the text form of ORVANE_SIM_FAULTS (sim/fault_plan.h) for faults that fire
// later: after a time since the camera was opened or started streaming, or at a frame number. A
// program that uses the shared library has only the environment variable.
#pragma once

#include <cstdint>

namespace orvane::sim {

inline constexpr uint32_t kNever = 0xFFFFFFFFu;

class FaultInjection {
 public:
  virtual ~FaultInjection() = default;
  // The next `count` frame-header reads complete with a non-zero USB status word.
  virtual void FailHeaders(int count) = 0;
  // The next `count` frame-header reads are answered `delayMs` late (kNever: not until aborted).
  virtual void DelayHeaders(int count, uint32_t delayMs) = 0;
  // The next `count` payload reads (pieces) complete with a non-zero USB status word.
  virtual void FailPayloads(int count) = 0;
  // The next `count` payload reads are answered `delayMs` late (kNever: not until aborted).
  virtual void DelayPayloads(int count, uint32_t delayMs) = 0;
  // The next `count` frames end after half of the payload the header announced.
  virtual void ShortPayloads(int count) = 0;
  // The next `count` bulk requests of any endpoint complete with a non-zero driver status word.
  virtual void FailBulkStatus(int count) = 0;
  // Status words 0, 2 and 3 of the frame header (bytes 28, 40, 44); the second word is the counter.
  virtual void SetHeaderStatusWords(int32_t word28, int32_t word40, int32_t word44) = 0;
  // FPGA status register 2 reports busy (bit 1) while set.
  virtual void SetFpgaBusy(bool busy) = 0;
  // EEPROM writes are not acknowledged while set.
  virtual void SetEepromWritesFail(bool fail) = 0;
  // GPIO 25 stays low while set.
  virtual void SetGpio25NeverRises(bool never) = 0;
  // Pulls the cable: the path disappears, opens fail, open handles and pending requests fail.
  virtual void Unplug() = 0;
  // Plugs the camera in again under the same path (power-on state; the EEPROM keeps its contents).
  virtual void Replug() = 0;
  // Plugs it in under a different path (another port): `instance` replaces the path's instance part.
  virtual void ReplugAs(const char* instance) = 0;
  // Schedules the faults of `plan`, written as ORVANE_SIM_FAULTS is; items selecting another camera
  // ("camN:") are skipped. False, with nothing scheduled and the reason logged, when it is malformed.
  virtual bool ScheduleFaults(const char* plan) = 0;
};

// The fault-injection interface of the process's virtual camera `number` (1-based plug order: the
// camera with serial number SIM0000<number>). Null when ORVANE_SIM_CAMERAS does not select virtual
// cameras or there is no such camera. The camera lives as long as the process.
FaultInjection* ProcessCameraFaults(int number);

}  // namespace orvane::sim
