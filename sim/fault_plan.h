// Faults written as text: the form of the ORVANE_SIM_FAULTS environment variable, with which an
// application developer makes the virtual cameras fail without writing C++.
//
//   plan    = item { "," item }                 spaces around items are ignored
//   item    = [ "cam" N ":" ] kind [ ":" count ] [ "@" trigger ]
//   trigger = time                              after the camera was first opened
//           | "stream+" time                    after the camera last started streaming (its
//                                               first frame request since a stream reset)
//           | "frame:" N                        when the camera is about to send its N-th frame
//                                               (counted from 1 since it was powered on)
//   time    = decimal ( "s" | "ms" )            e.g. 2.5s, 300ms
//
// Without a trigger the fault happens at once, when the camera is created. Without "camN:" it
// applies to every virtual camera; N counts from 1 in plug order (the camera whose serial number is
// SIM0000N). Kinds, with what `count` (default 1) counts:
//
//   unplug          the cable is pulled: the path disappears, handles and pending requests fail
//   replug          plugged in again under the same path, in its power-on state
//   header-fail     the next `count` frame-header reads fail with a USB error status
//   payload-fail    the next `count` payload reads fail with a USB error status
//   payload-short   the next `count` frames end after half of the announced payload
//   bulk-fail       the next `count` bulk requests (any endpoint) fail with a driver error status
//   bulk-stall      the next `count` frame-header reads are not answered until they are aborted
//   fpga-busy       the FPGA reports busy from then on   (fpga-ready ends it)
//   eeprom-fail     EEPROM writes are not acknowledged   (eeprom-ok ends it)
//   gpio25-low      GPIO 25 (FPGA ready) never rises     (gpio25-ok ends it)
//
// The last six kinds and unplug/replug take no count. Example:
//   ORVANE_SIM_FAULTS="unplug@2.5s,replug@4s,payload-fail@frame:10,cam2:header-fail:3"
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::sim {

enum class FaultKind {
  kUnplug,
  kReplug,
  kHeaderFail,
  kPayloadFail,
  kPayloadShort,
  kBulkFail,
  kBulkStall,
  kFpgaBusy,
  kFpgaReady,
  kEepromFail,
  kEepromOk,
  kGpio25Low,
  kGpio25Ok,
};

enum class FaultTrigger {
  kAtOnce,
  kSinceOpen,    // `value` milliseconds after the camera was first opened
  kSinceStream,  // `value` milliseconds after the camera last started streaming
  kFrame,        // before the camera sends frame number `value`
};

struct FaultStep {
  int camera = 0;  // 1-based plug order; 0: every camera
  FaultKind kind = FaultKind::kUnplug;
  int count = 1;
  FaultTrigger trigger = FaultTrigger::kAtOnce;
  uint64_t value = 0;

  friend bool operator==(const FaultStep&, const FaultStep&) = default;
};

// Reads a plan. On a malformed item returns false, with `*error` saying which item and why and
// `*steps` untouched.
[[nodiscard]] bool ParseFaultPlan(std::string_view text, std::vector<FaultStep>* steps, std::string* error);

// The steps of ORVANE_SIM_FAULTS; an empty list when unset. A malformed value is reported through the
// library's log and ignored as a whole.
std::vector<FaultStep> FaultsRequestedByEnvironment();

}  // namespace orvane::sim
