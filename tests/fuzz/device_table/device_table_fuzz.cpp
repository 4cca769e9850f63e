// Attaches the shared device table to section contents another process might have left. Input: the
// attach count (4 bytes), the device count (4 bytes), a fill byte, then the bytes of the entries (the
// rest of the entry area is filled with the fill byte); an input of the section's full size is taken
// as the section itself. Checked against an independent reading of the layout: a valid section keeps
// its entries and gains one attach, a damaged or unused one is rebuilt empty; every read stays inside
// the table; a device can still be added; the section stays valid and detaching gives the attach back.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "platform/shared_memory.h"
#include "usb/device_table.h"
#include "usb/transfer_record.h"

namespace {

using namespace orvane::usb;
using orvane::platform::NamedLock;
using orvane::platform::SharedMemory;

constexpr size_t kPathOffset = 8;  // within an entry, after vendor, product and ordinal
constexpr char kNewPath[] = "\\\\?\\usb#vid_04b4&pid_31f0#fuzz-added#{328184c5-93e6-49b7-94b8-2ada13aabb39}";

int32_t I32(const uint8_t* p) { return static_cast<int32_t>(LoadU32(p)); }
const uint8_t* EntryBytes(const uint8_t* s, int i) {
  return s + kSectionEntries + static_cast<size_t>(i) * kDeviceEntrySize;
}

bool Valid(const uint8_t* s) {
  const int32_t count = I32(s + kSectionDeviceCount);
  if (I32(s + kSectionAttachCount) < 0 || count < 0 || count > kMaxDevices) return false;
  for (int i = 0; i < kMaxDevices; ++i) {
    if (std::memchr(EntryBytes(s, i) + kPathOffset, 0, kDevicePathSize) == nullptr) return false;
  }
  return true;
}

bool Empty(const uint8_t* s) {
  if (I32(s + kSectionDeviceCount) != 0) return false;
  for (int i = 0; i < kMaxDevices; ++i) {
    const uint8_t* e = EntryBytes(s, i);
    if (LoadU32(e) != 0 || I32(e + 4) != -1) return false;
    for (size_t b = kPathOffset; b < kDeviceEntrySize; ++b) {
      if (e[b] != 0) return false;
    }
  }
  return true;
}

// Keeps the section open for the whole run (so its contents survive between attaches) under a name
// of its own.
struct Holder {
  std::string name = "orvane-device-table-fuzz-" + std::to_string(getpid());
  std::optional<SharedMemory> section = SharedMemory::OpenOrCreate(name, kSectionSize, nullptr);
  Holder() {
    if (!section) __builtin_trap();
  }
  ~Holder() {
    section.reset();
    SharedMemory::Remove(name);
    NamedLock::Remove(name + "-Lock");
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Holder holder;
  uint8_t* s = holder.section->data();
  if (size >= kSectionSize) {
    std::memcpy(s, data, kSectionSize);
  } else {
    uint8_t head[9] = {};
    std::memcpy(head, data, std::min(size, sizeof(head)));
    std::memcpy(s + kSectionAttachCount, head, 4);
    std::memcpy(s + kSectionDeviceCount, head + 4, 4);
    const size_t entryBytes = kSectionDeviceCount - kSectionEntries;
    std::memset(s + kSectionEntries, head[8], entryBytes);
    if (size > sizeof(head)) {
      std::memcpy(s + kSectionEntries, data + sizeof(head), std::min(size - sizeof(head), entryBytes));
    }
  }
  uint8_t before[kSectionSize];
  std::memcpy(before, s, kSectionSize);
  // A section in use keeps its entries, unless its attach count cannot grow any more (damaged).
  const int32_t attachBefore = I32(before + kSectionAttachCount);
  const bool keeps = Valid(before) && attachBefore > 0 && attachBefore < std::numeric_limits<int32_t>::max();

  std::optional<DeviceTable> table = DeviceTable::Attach(holder.name);
  if (!table || !Valid(s)) __builtin_trap();
  if (keeps) {
    if (I32(s + kSectionAttachCount) != attachBefore + 1 ||
        std::memcmp(s + kSectionEntries, before + kSectionEntries, kSectionSize - kSectionEntries) != 0) {
      __builtin_trap();
    }
  } else if (I32(s + kSectionAttachCount) != 1 || !Empty(s)) {
    __builtin_trap();
  }

  const int32_t attached = I32(s + kSectionAttachCount);
  const int count = table->DeviceCount();
  if (count != I32(s + kSectionDeviceCount) || table->AttachCount() != attached) __builtin_trap();
  for (int i = -1; i <= kMaxDevices; ++i) {
    const std::optional<DeviceEntry> entry = table->Entry(i);
    if (entry.has_value() != (i >= 0 && i < kMaxDevices)) __builtin_trap();
    if (entry && entry->devicePath.size() >= kDevicePathSize) __builtin_trap();
    if (table->UsedPath(i).has_value() != (i >= 0 && i < count)) __builtin_trap();
  }

  const DeviceTable::AddResult added = table->AddDevice(kNewPath);
  const bool full = count == kMaxDevices;
  // Refused only for want of room, and then only when the path is not there already.
  if (added == DeviceTable::AddResult::kInvalid ||
      (added == DeviceTable::AddResult::kFull) != (full && added != DeviceTable::AddResult::kKnown)) {
    __builtin_trap();
  }
  if (!Valid(s) || table->DeviceCount() != count + (added == DeviceTable::AddResult::kAdded ? 1 : 0)) __builtin_trap();

  table.reset();
  if (I32(s + kSectionAttachCount) != attached - 1) __builtin_trap();
  return 0;
}
