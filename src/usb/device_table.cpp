#include "usb/device_table.h"

#include <cstring>
#include <limits>
#include <utility>

#include "platform/debug_output.h"
#include "usb/transfer_record.h"

namespace orvane::usb {

namespace {

// Entry field offsets.
constexpr size_t kEntryVendor = 0;
constexpr size_t kEntryProduct = 2;
constexpr size_t kEntryOrdinal = 4;
constexpr size_t kEntryPath = 8;

// Characters of the vendor and product IDs in "\\?\usb#vid_XXXX&pid_XXXX#...".
constexpr size_t kVendorIdPosition = 12;
constexpr size_t kProductIdPosition = 21;

uint16_t ParseHex4(const std::string& s, size_t pos) {
  uint32_t v = 0;
  for (size_t i = pos; i < s.size() && i < pos + 4; ++i) {
    const char c = s[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else break;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  return static_cast<uint16_t>(v);
}

uint8_t* EntryAt(unsigned char* section, int index) {
  return section + kSectionEntries + static_cast<size_t>(index) * kDeviceEntrySize;
}

int32_t LoadI32(const uint8_t* p) { return static_cast<int32_t>(LoadU32(p)); }
void StoreI32(uint8_t* p, int32_t v) { StoreU32(p, static_cast<uint32_t>(v)); }

void ClearTable(unsigned char* s) {
  for (int i = 0; i < kMaxDevices; ++i) {
    uint8_t* e = EntryAt(s, i);
    std::memset(e, 0, kDeviceEntrySize);
    StoreI32(e + kEntryOrdinal, -1);
  }
  StoreI32(s + kSectionDeviceCount, 0);
}

// A section another process wrote may be damaged (or written by something else entirely): counts out
// of range or a path without its terminator would make later reads run past the entry. An attach count
// that cannot take one more attach is out of range too (no machine runs 2^31 controller objects).
bool SectionValid(const unsigned char* s) {
  const int32_t attach = LoadI32(s + kSectionAttachCount);
  const int32_t count = LoadI32(s + kSectionDeviceCount);
  if (attach < 0 || attach == std::numeric_limits<int32_t>::max() || count < 0 || count > kMaxDevices) return false;
  for (int i = 0; i < kMaxDevices; ++i) {
    const uint8_t* path = s + kSectionEntries + static_cast<size_t>(i) * kDeviceEntrySize + kEntryPath;
    if (std::memchr(path, 0, kDevicePathSize) == nullptr) return false;
  }
  return true;
}

}  // namespace

// The section's lock for one access, waited for as the header says.
class DeviceTable::Guard {
 public:
  explicit Guard(const DeviceTable& table)
      : table_(table), guard_(table.lock_, table.lockStuck_.load() ? kStuckLockWaitMs : kTableLockWaitMs) {
    table_.lockStuck_.store(!guard_.locked());
  }
  bool locked() const { return guard_.locked(); }

 private:
  const DeviceTable& table_;
  platform::NamedLockGuard guard_;
};

PathIds ParseDevicePath(const std::string& path) {
  return {ParseHex4(path, kVendorIdPosition), ParseHex4(path, kProductIdPosition)};
}

std::optional<DeviceTable> DeviceTable::Attach(const std::string& sectionName) {
  auto lock = platform::NamedLock::Open(sectionName + "-Lock");
  if (!lock) return std::nullopt;
  std::optional<platform::SharedMemory> section;
  {
    // Opening under the lock: a section that starts afresh is set up before anyone else sees it.
    platform::NamedLockGuard guard(*lock, kTableLockWaitMs);
    if (!guard.locked()) return std::nullopt;
    section = platform::SharedMemory::OpenOrCreate(sectionName, kSectionSize, nullptr);
    if (!section) return std::nullopt;
    unsigned char* s = section->data();
    if (!SectionValid(s)) StoreI32(s + kSectionAttachCount, 0);
    if (LoadI32(s + kSectionAttachCount) == 0) ClearTable(s);
    StoreI32(s + kSectionAttachCount, LoadI32(s + kSectionAttachCount) + 1);
  }
  return DeviceTable(std::move(*section), std::move(*lock));
}

DeviceTable::DeviceTable(platform::SharedMemory section, platform::NamedLock lock)
    : section_(std::move(section)), lock_(std::move(lock)), attached_(true) {}

DeviceTable::DeviceTable(DeviceTable&& other) noexcept
    : section_(std::move(other.section_)), lock_(std::move(other.lock_)),
      attached_(std::exchange(other.attached_, false)) {}

DeviceTable& DeviceTable::operator=(DeviceTable&& other) noexcept {
  if (this != &other) {
    Detach();
    section_ = std::move(other.section_);
    lock_ = std::move(other.lock_);
    attached_ = std::exchange(other.attached_, false);
  }
  return *this;
}

DeviceTable::~DeviceTable() { Detach(); }

void DeviceTable::Detach() {
  if (!attached_) return;
  attached_ = false;
  Guard guard(*this);
  if (!guard.locked()) return;  // the count stays one too high; a section without users starts afresh
  unsigned char* s = section_.data();
  const int32_t attach = LoadI32(s + kSectionAttachCount);
  StoreI32(s + kSectionAttachCount, attach > 0 ? attach - 1 : 0);
}

int DeviceTable::DeviceCount() const {
  Guard guard(*this);
  if (!guard.locked()) return 0;
  const int32_t count = LoadI32(section_.data() + kSectionDeviceCount);
  return count < 0 ? 0 : (count > kMaxDevices ? kMaxDevices : count);
}

int DeviceTable::AttachCount() const {
  Guard guard(*this);
  if (!guard.locked()) return 0;
  return LoadI32(section_.data() + kSectionAttachCount);
}

std::optional<DeviceEntry> DeviceTable::Entry(int index) const {
  if (index < 0 || index >= kMaxDevices) return std::nullopt;
  Guard guard(*this);
  if (!guard.locked()) return std::nullopt;
  const uint8_t* e = EntryAt(section_.data(), index);
  DeviceEntry entry;
  entry.vendorId = LoadU16(e + kEntryVendor);
  entry.productId = LoadU16(e + kEntryProduct);
  entry.ordinal = LoadI32(e + kEntryOrdinal);
  const char* path = reinterpret_cast<const char*>(e + kEntryPath);
  entry.devicePath.assign(path, strnlen(path, kDevicePathSize - 1));
  return entry;
}

std::optional<std::string> DeviceTable::UsedPath(int index) const {
  if (index < 0 || index >= kMaxDevices) return std::nullopt;
  Guard guard(*this);
  if (!guard.locked()) return std::nullopt;
  if (index >= LoadI32(section_.data() + kSectionDeviceCount)) return std::nullopt;
  const char* path = reinterpret_cast<const char*>(EntryAt(section_.data(), index) + kEntryPath);
  return std::string(path, strnlen(path, kDevicePathSize - 1));
}

DeviceTable::AddResult DeviceTable::AddDevice(const std::string& path) {
  if (path.empty() || path.size() >= kDevicePathSize || path.find('\0') != std::string::npos) {
    return AddResult::kInvalid;
  }
  const PathIds ids = ParseDevicePath(path);
  bool slotOccupied = false;
  {
    Guard guard(*this);
    if (!guard.locked()) return AddResult::kFull;
    unsigned char* s = section_.data();
    int32_t sameType = 0;
    for (int i = 0; i < kMaxDevices; ++i) {
      const uint8_t* e = EntryAt(s, i);
      if (LoadU16(e + kEntryVendor) != ids.vendorId || LoadU16(e + kEntryProduct) != ids.productId) continue;
      ++sameType;
      const char* known = reinterpret_cast<const char*>(e + kEntryPath);
      if (strnlen(known, kDevicePathSize) == path.size() && std::memcmp(known, path.data(), path.size()) == 0) {
        return AddResult::kKnown;
      }
    }
    const int32_t count = LoadI32(s + kSectionDeviceCount);
    if (count < 0 || count >= kMaxDevices) return AddResult::kFull;
    uint8_t* e = EntryAt(s, count);
    slotOccupied = LoadU16(e + kEntryProduct) != 0;
    std::memset(e, 0, kDeviceEntrySize);
    StoreU16(e + kEntryVendor, ids.vendorId);
    StoreU16(e + kEntryProduct, ids.productId);
    StoreI32(e + kEntryOrdinal, sameType);
    std::memcpy(e + kEntryPath, path.data(), path.size());
    StoreI32(s + kSectionDeviceCount, count + 1);
  }
  if (slotOccupied) platform::DebugOutput(kUnexpectedSlotDebugLine);
  return AddResult::kAdded;
}

}  // namespace orvane::usb
