#include "platform/camera_claim.h"

#include <windows.h>

#include <future>
#include <thread>
#include <utility>

namespace orvane::platform {

// The owning thread takes the mutex, reports the outcome, and holds it until the release event; only
// it may release the mutex. A process that dies leaves the mutex abandoned, which the next claimer
// takes as free.
struct CameraClaim::Holder {
  HANDLE release = nullptr;  // manual-reset event: set when the claim ends
  std::jthread owner;
  ~Holder() {
    if (release != nullptr) SetEvent(release);
    if (owner.joinable()) owner.join();
    if (release != nullptr) CloseHandle(release);
  }
};

namespace {

void OwnMutex(std::string name, HANDLE release, std::promise<ClaimResult> outcome) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) {
    outcome.set_value(ClaimResult::kFailed);
    return;
  }
  const DWORD taken = WaitForSingleObject(mutex, 0);
  if (taken != WAIT_OBJECT_0 && taken != WAIT_ABANDONED) {
    CloseHandle(mutex);
    outcome.set_value(taken == WAIT_TIMEOUT ? ClaimResult::kBusy : ClaimResult::kFailed);
    return;
  }
  outcome.set_value(ClaimResult::kHeld);
  WaitForSingleObject(release, INFINITE);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

}  // namespace

ClaimResult CameraClaim::TryAcquire(const std::string& scope, const std::string& key,
                                    std::optional<CameraClaim>* claim) {
  claim->reset();
  if (scope.empty() || scope.find('\\') != std::string::npos) return ClaimResult::kFailed;
  auto holder = std::make_unique<Holder>();
  holder->release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (holder->release == nullptr) return ClaimResult::kFailed;
  std::promise<ClaimResult> outcome;
  std::future<ClaimResult> result = outcome.get_future();
  try {
    holder->owner = std::jthread(OwnMutex, ObjectName(scope, key), holder->release, std::move(outcome));
  } catch (const std::system_error&) {
    return ClaimResult::kFailed;
  }
  const ClaimResult answer = result.get();
  if (answer != ClaimResult::kHeld) return answer;  // the thread has ended; the holder joins it
  CameraClaim held;
  held.holder_ = std::move(holder);
  claim->emplace(std::move(held));
  return ClaimResult::kHeld;
}

CameraClaim::CameraClaim(CameraClaim&& other) noexcept = default;
CameraClaim& CameraClaim::operator=(CameraClaim&& other) noexcept = default;
CameraClaim::~CameraClaim() = default;

}  // namespace orvane::platform
