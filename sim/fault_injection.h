// Faults the virtual camera can be told to produce, for tests of the layers above it. Every setter is
// thread-safe and takes effect for the next matching request; counts are consumed one per request.
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
};

}  // namespace orvane::sim
