// The current user's settings store: the registry below HKEY_CURRENT_USER.
//
// Windows: every call goes straight to the registry (RegOpenKeyExA / RegCreateKeyExA /
// RegQueryValueExA / RegSetValueExA), each key held open only for that call. The registry is its own
// store; a session adds nothing and takes no lock.
//
// Linux: the registry is a text file in the form of a registry export (see registry_tree.h) at
// $XDG_CONFIG_HOME/orvane-sdk/registry.reg ($HOME/.config/orvane-sdk/registry.reg when the variable
// is unset or not an absolute path). A session is one read-modify-write of that file: the constructor
// takes an exclusive lock (flock on registry.reg.lock beside it, shared by every process of the
// user) and reads the file once; reads and writes then work on the copy in memory; Flush() or the
// destructor writes it back once if something changed, by writing a temporary file in the same
// directory, syncing it and renaming it over the old one, so a reader never sees a half-written file
// and a crash leaves the old or the new contents. A missing, unreadable or damaged file reads as
// empty (every setting then takes its default); before a damaged file is first replaced it is kept
// as registry.reg.bad. If the directory cannot be created or the file cannot be written, the session
// still works in memory and Flush() answers false.
//
// Sessions are short: open one around a load or a save and let it go. On one thread a session opened
// while another is alive joins it (same contents, written back when the outermost one ends), so
// nesting cannot deadlock on the file lock. Sessions on different threads or processes exclude each
// other. A session object itself belongs to one thread.
//
// Paths are relative to HKEY_CURRENT_USER with single backslashes, e.g.
// "Software\\Kavrin\\OrvaneKD73R5Sdk\\Camera_00\\Gain". Failures are plain false / nullopt.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace orvane::platform {

class SettingsSession {
 public:
  SettingsSession();
  ~SettingsSession();
  SettingsSession(const SettingsSession&) = delete;
  SettingsSession& operator=(const SettingsSession&) = delete;

  [[nodiscard]] bool KeyExists(std::string_view path) const;
  // Creates the key and any missing parents; true when it exists afterwards.
  bool CreateKey(std::string_view path);

  // nullopt when the key or the value is missing or the value is not a REG_DWORD (4 bytes).
  [[nodiscard]] std::optional<int32_t> ReadDword(std::string_view path, std::string_view name) const;
  // nullopt when missing or not REG_BINARY; values longer than kMaxBinaryBytes are not read.
  [[nodiscard]] std::optional<std::vector<uint8_t>> ReadBinary(std::string_view path,
                                                               std::string_view name) const;
  // The key must exist (create it first); false otherwise.
  bool WriteDword(std::string_view path, std::string_view name, int32_t value);
  bool WriteBinary(std::string_view path, std::string_view name, std::span<const uint8_t> bytes);

  // Makes the writes so far durable. Windows: always true. Linux: writes the file back if anything
  // changed since it was read or last flushed (in a nested session: the shared contents); false when
  // that failed. The destructor flushes too, ignoring the result.
  bool Flush();

  static constexpr size_t kMaxBinaryBytes = 64 * 1024;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace orvane::platform
