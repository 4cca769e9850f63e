// The virtual camera's fault injection: the setters of FaultInjection and the schedule of faults
// that fire later (after a time, at a frame number). Scheduled faults are checked by whichever thread
// works for the camera (a request arriving, a thread waiting for a bulk read), and the waits are cut
// short to the next fault's time, so no thread of the camera's own polls a clock.
#include <algorithm>

#include "platform/log.h"
#include "sim/virtual_camera.h"
#include "usb/driver_seam.h"

namespace orvane::sim {

void VirtualCamera::FailHeaders(int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  failHeaders_ = std::max(0, count);
  changed_.notify_all();
}

void VirtualCamera::DelayHeaders(int count, uint32_t delayMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  delayHeaders_ = std::max(0, count);
  headerDelayMs_ = delayMs;
}

void VirtualCamera::FailPayloads(int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  failPayloads_ = std::max(0, count);
  changed_.notify_all();
}

void VirtualCamera::DelayPayloads(int count, uint32_t delayMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  delayPayloads_ = std::max(0, count);
  payloadDelayMs_ = delayMs;
}

void VirtualCamera::ShortPayloads(int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  shortPayloads_ = std::max(0, count);
}

void VirtualCamera::FailBulkStatus(int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  failBulkStatus_ = std::max(0, count);
}

void VirtualCamera::SetHeaderStatusWords(int32_t word28, int32_t word40, int32_t word44) {
  std::lock_guard<std::mutex> lock(mutex_);
  statusWords_[0] = word28;
  statusWords_[1] = word40;
  statusWords_[2] = word44;
}

void VirtualCamera::SetFpgaBusy(bool busy) {
  std::lock_guard<std::mutex> lock(mutex_);
  fpgaBusy_ = busy;
}

void VirtualCamera::SetEepromWritesFail(bool fail) {
  std::lock_guard<std::mutex> lock(mutex_);
  eepromWritesFail_ = fail;
}

void VirtualCamera::SetGpio25NeverRises(bool never) {
  std::lock_guard<std::mutex> lock(mutex_);
  gpio25Never_ = never;
}

void VirtualCamera::Unplug() {
  std::lock_guard<std::mutex> lock(mutex_);
  UnplugLocked();
}

void VirtualCamera::UnplugLocked() {
  if (!plugged_) return;
  plugged_ = false;
  CancelQueueLocked(usb::kErrorDeviceNotConnected);
  changed_.notify_all();
}

void VirtualCamera::Replug() {
  std::lock_guard<std::mutex> lock(mutex_);
  ReplugLocked();
}

void VirtualCamera::ReplugLocked() {
  CancelQueueLocked(usb::kErrorDeviceNotConnected);
  plugged_ = true;
  ++generation_;
  PowerOnLocked();
  changed_.notify_all();
}

void VirtualCamera::ReplugAs(const char* instance) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (instance != nullptr) config_.instance = instance;
  ReplugLocked();
}

bool VirtualCamera::ScheduleFaults(const char* plan) {
  std::vector<FaultStep> steps;
  std::string error;
  if (plan == nullptr || !ParseFaultPlan(plan, &steps, &error)) {
    ORVANE_LOG(kDevice, kError, "fault plan refused: %s", plan == nullptr ? "none given" : error.c_str());
    return false;
  }
  Schedule(steps);
  return true;
}

void VirtualCamera::Schedule(const std::vector<FaultStep>& steps) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const FaultStep& step : steps) {
    if (step.camera == 0 || step.camera == config_.number) scheduled_.push_back(step);
  }
  Clock::time_point ignored;
  FireDueFaultsLocked(Clock::now(), &ignored);
  changed_.notify_all();  // waiters take the new fault times into account
}

void VirtualCamera::NoteOpened() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!opened_) {
    opened_ = true;
    openedAt_ = Clock::now();
    changed_.notify_all();
  }
  Clock::time_point ignored;
  FireDueFaultsLocked(Clock::now(), &ignored);
}

void VirtualCamera::PollFaults() {
  std::lock_guard<std::mutex> lock(mutex_);
  Clock::time_point ignored;
  FireDueFaultsLocked(Clock::now(), &ignored);
}

void VirtualCamera::NoteStreamingLocked(Clock::time_point now) {
  if (streaming_) return;
  streaming_ = true;
  streamingAt_ = now;
}

bool VirtualCamera::FireDueFaultsLocked(Clock::time_point now, Clock::time_point* wake) {
  *wake = Clock::time_point::max();
  bool fired = false;
  // Unplug and replug change the frame counter and the stream: take the due steps out first, then
  // apply them in their written order.
  std::vector<FaultStep> due;
  auto isDue = [&](const FaultStep& step) {
    Clock::time_point at;
    switch (step.trigger) {
      case FaultTrigger::kAtOnce:
        return true;
      case FaultTrigger::kFrame:
        // Between frames only: a frame whose payload is under way is not touched.
        return stream_ == StreamState::kHeader && frameCounter_ + 1 >= step.value;
      case FaultTrigger::kSinceOpen:
        if (!opened_) return false;
        at = openedAt_ + std::chrono::milliseconds(step.value);
        break;
      case FaultTrigger::kSinceStream:
        if (!streaming_) return false;
        at = streamingAt_ + std::chrono::milliseconds(step.value);
        break;
    }
    if (now >= at) return true;
    *wake = std::min(*wake, at);
    return false;
  };
  for (auto it = scheduled_.begin(); it != scheduled_.end();) {
    if (isDue(*it)) {
      due.push_back(*it);
      it = scheduled_.erase(it);
    } else {
      ++it;
    }
  }
  for (const FaultStep& step : due) {
    ApplyLocked(step);
    fired = true;
  }
  return fired;
}

void VirtualCamera::ApplyLocked(const FaultStep& step) {
  ORVANE_LOG(kDevice, kInfo, "virtual camera %d: injected fault %d (count %d)", config_.number,
             static_cast<int>(step.kind), step.count);
  switch (step.kind) {
    case FaultKind::kUnplug: UnplugLocked(); break;
    case FaultKind::kReplug: ReplugLocked(); break;
    case FaultKind::kHeaderFail: failHeaders_ = step.count; break;
    case FaultKind::kPayloadFail: failPayloads_ = step.count; break;
    case FaultKind::kPayloadShort: shortPayloads_ = step.count; break;
    case FaultKind::kBulkFail: failBulkStatus_ = step.count; break;
    case FaultKind::kBulkStall:
      delayHeaders_ = step.count;
      headerDelayMs_ = kNever;
      break;
    case FaultKind::kFpgaBusy: fpgaBusy_ = true; break;
    case FaultKind::kFpgaReady: fpgaBusy_ = false; break;
    case FaultKind::kEepromFail: eepromWritesFail_ = true; break;
    case FaultKind::kEepromOk: eepromWritesFail_ = false; break;
    case FaultKind::kGpio25Low: gpio25Never_ = true; break;
    case FaultKind::kGpio25Ok: gpio25Never_ = false; break;
  }
  changed_.notify_all();
}

}  // namespace orvane::sim
