// An exclusive claim on one camera: at most one holder at a time among every object of every process
// that numbers cameras through the same shared device table (the claim's scope). The OS object behind it
// dies with its holder, so a process that is killed leaves the camera free.
//
// POSIX: flock() on a per-camera lock file in a directory private to the user (/dev/shm/orvane-sdk-<uid>,
// mode 0700, owner checked). flock excludes open file descriptions, so a second claim in the same
// process is refused as well. The holder removes the file when it lets go; a claimer that locked a file
// removed under it tries again with the new one.
// Win32: a named mutex per camera, owned by a small thread of the claim (a mutex belongs to the thread
// that took it, and the application's threads come and go). A mutex abandoned by a dead process is free.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace orvane::platform {

enum class ClaimResult {
  kHeld,    // the claim is this caller's
  kBusy,    // another holder has it (this or another process)
  kFailed,  // the OS object could not be made or opened (squatted name, foreign owner, no resources)
};

class CameraClaim {
 public:
  // Tries once, without waiting for a holder, to claim the camera `key` (its device path) in `scope`
  // (the shared device table's name). On kHeld `*claim` holds the claim; otherwise it is left empty.
  static ClaimResult TryAcquire(const std::string& scope, const std::string& key, std::optional<CameraClaim>* claim);

  CameraClaim() = default;
  CameraClaim(CameraClaim&& other) noexcept;
  CameraClaim& operator=(CameraClaim&& other) noexcept;
  CameraClaim(const CameraClaim&) = delete;
  CameraClaim& operator=(const CameraClaim&) = delete;
  // Lets the camera go.
  ~CameraClaim();

  bool valid() const { return holder_ != nullptr; }

  // The OS object's name for a camera: "<scope>-Camera-<16 hex digits of a hash of the key>", free of
  // path separators whatever the key holds.
  static std::string ObjectName(const std::string& scope, const std::string& key);

  struct Holder;  // backend state (lock file, or mutex with its owning thread)

 private:
  std::unique_ptr<Holder> holder_;
};

}  // namespace orvane::platform
