// The device table shared by every process on the machine: 32 entries of discovered cameras in the
// named section "R3O5-MemMap", so that a camera number means the same camera in every process.
//
// Section layout (8584 bytes, little-endian):
//   0     i32               number of live controller objects (attach count)
//   4     32 x 268 bytes    entries: u16 vendor, u16 product, i32 ordinal, char[260] device path
//   8580  i32               number of used entries, 0..32
//
// Every read-modify-write of the section happens under the named lock "<section>-Lock", and the
// section is the only copy of the table: there are no per-process copies written back. The lock is
// waited for at most kTableLockWaitMs: a process that holds it and does not let go makes the attach,
// and each later access, fail instead of hang (later accesses wait only kStuckLockWaitMs until the lock
// is had again). On attach the
// contents are validated; a section with a count outside its range or an unterminated path is treated
// as damaged and rebuilt empty.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/shared_memory.h"

namespace orvane::usb {

inline constexpr int kMaxDevices = 32;
inline constexpr size_t kDevicePathSize = 260;
inline constexpr size_t kDeviceEntrySize = 268;
inline constexpr size_t kSectionSize = 8584;
inline constexpr size_t kSectionAttachCount = 0;
inline constexpr size_t kSectionEntries = 4;
inline constexpr size_t kSectionDeviceCount = 8580;
inline constexpr uint32_t kTableLockWaitMs = 2000;
inline constexpr uint32_t kStuckLockWaitMs = 50;

struct DeviceEntry {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  int32_t ordinal = -1;
  std::string devicePath;
};

// Vendor and product ID of a USB device-interface path ("\\?\usb#vid_XXXX&pid_XXXX#..."): up to four
// hexadecimal digits at character 12 and at character 21. Missing or non-hexadecimal digits give 0.
struct PathIds {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
};
PathIds ParseDevicePath(const std::string& path);

// Sent once per unexpectedly occupied slot found by AddDevice.
inline constexpr char kUnexpectedSlotDebugLine[] = "ここには来ないはず (DeviceTable slot occupied)\n";

class DeviceTable {
 public:
  // Maps the named section (creating it when absent) and registers one more attached object. Empty
  // when the section or its lock cannot be opened (a squatted name) or the lock stays held.
  static std::optional<DeviceTable> Attach(const std::string& sectionName);
  DeviceTable(DeviceTable&&) noexcept;
  DeviceTable& operator=(DeviceTable&&) noexcept;
  DeviceTable(const DeviceTable&) = delete;
  DeviceTable& operator=(const DeviceTable&) = delete;
  // Unregisters this object from the attach count and unmaps the section.
  ~DeviceTable();

  // 0 (and no entries, kFull for AddDevice) while the lock cannot be had.
  int DeviceCount() const;
  int AttachCount() const;
  // A copy of entry `index` (0..31), including cleared entries; nullopt for an index out of range.
  std::optional<DeviceEntry> Entry(int index) const;
  // The path of a used entry (index below the device count); nullopt otherwise.
  std::optional<std::string> UsedPath(int index) const;

  enum class AddResult { kKnown, kAdded, kFull, kInvalid };
  // Records a discovered device: known when an entry holds the same path; otherwise appended with
  // ordinal = number of entries of the same vendor and product ID. A path that does not fit the
  // 260-byte field is refused (kInvalid), since it could not be opened from the table.
  AddResult AddDevice(const std::string& path);

 private:
  class Guard;
  DeviceTable(platform::SharedMemory section, platform::NamedLock lock);
  void Detach();

  platform::SharedMemory section_;
  // Guards every access to the section's contents, across processes and threads.
  mutable platform::NamedLock lock_;
  // Set when a wait for lock_ ran out, cleared when lock_ is had again.
  mutable std::atomic<bool> lockStuck_{false};
  bool attached_ = false;
};

}  // namespace orvane::usb
