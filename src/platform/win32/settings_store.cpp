#include "platform/settings_store.h"

#include <windows.h>

#include <string>

namespace orvane::platform {

namespace {

// An open registry key that closes itself.
class UniqueKey {
 public:
  UniqueKey() = default;
  ~UniqueKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  UniqueKey(const UniqueKey&) = delete;
  UniqueKey& operator=(const UniqueKey&) = delete;
  HKEY* Receive() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// The same path rules as the Linux store, so both refuse the same input: no empty component, no
// control character (a NUL would silently cut the path short for the A functions).
bool ValidPath(std::string_view path) {
  if (path.empty() || path.front() == '\\' || path.back() == '\\') return false;
  if (path.find("\\\\") != std::string_view::npos) return false;
  for (char c : path) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return true;
}

bool ValidName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return true;
}

bool OpenKey(std::string_view path, REGSAM access, UniqueKey& key) {
  if (!ValidPath(path)) return false;
  std::string terminated(path);
  return RegOpenKeyExA(HKEY_CURRENT_USER, terminated.c_str(), 0, access, key.Receive()) ==
         ERROR_SUCCESS;
}

bool SetValue(std::string_view path, std::string_view name, DWORD type, const BYTE* data,
              DWORD size) {
  UniqueKey key;
  if (!ValidName(name) || !OpenKey(path, KEY_SET_VALUE, key)) return false;
  std::string valueName(name);
  return RegSetValueExA(key.Get(), valueName.c_str(), 0, type, data, size) == ERROR_SUCCESS;
}

}  // namespace

struct SettingsSession::State {};

SettingsSession::SettingsSession() = default;
SettingsSession::~SettingsSession() = default;

bool SettingsSession::KeyExists(std::string_view path) const {
  UniqueKey key;
  return OpenKey(path, KEY_QUERY_VALUE, key);
}

bool SettingsSession::CreateKey(std::string_view path) {
  if (!ValidPath(path)) return false;
  std::string terminated(path);
  UniqueKey key;
  return RegCreateKeyExA(HKEY_CURRENT_USER, terminated.c_str(), 0, nullptr,
                         REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE, nullptr, key.Receive(),
                         nullptr) == ERROR_SUCCESS;
}

std::optional<int32_t> SettingsSession::ReadDword(std::string_view path,
                                                  std::string_view name) const {
  UniqueKey key;
  if (!ValidName(name) || !OpenKey(path, KEY_QUERY_VALUE, key)) return std::nullopt;
  std::string valueName(name);
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegQueryValueExA(key.Get(), valueName.c_str(), nullptr, &type,
                       reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value) {
    return std::nullopt;
  }
  return static_cast<int32_t>(value);
}

std::optional<std::vector<uint8_t>> SettingsSession::ReadBinary(std::string_view path,
                                                                std::string_view name) const {
  UniqueKey key;
  if (!ValidName(name) || !OpenKey(path, KEY_QUERY_VALUE, key)) return std::nullopt;
  std::string valueName(name);
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key.Get(), valueName.c_str(), nullptr, &type, nullptr, &size) !=
          ERROR_SUCCESS ||
      type != REG_BINARY || size > kMaxBinaryBytes) {
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(size);
  // The value may change between the two queries; the second reports the size actually copied.
  if (RegQueryValueExA(key.Get(), valueName.c_str(), nullptr, &type, bytes.data(), &size) !=
          ERROR_SUCCESS ||
      type != REG_BINARY || size > bytes.size()) {
    return std::nullopt;
  }
  bytes.resize(size);
  return bytes;
}

bool SettingsSession::WriteDword(std::string_view path, std::string_view name, int32_t value) {
  DWORD data = static_cast<DWORD>(value);
  return SetValue(path, name, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
}

bool SettingsSession::WriteBinary(std::string_view path, std::string_view name,
                                  std::span<const uint8_t> bytes) {
  if (bytes.size() > kMaxBinaryBytes) return false;
  return SetValue(path, name, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
}

bool SettingsSession::Flush() { return true; }

}  // namespace orvane::platform
