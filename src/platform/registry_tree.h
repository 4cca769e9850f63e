// An in-memory tree of registry keys below HKEY_CURRENT_USER and its text form, the format of a
// registry export ("REGEDIT4"). The Linux settings store keeps the current user's registry in such a
// file; the tree is plain data and has no file or locking logic of its own.
//
// Text form, as written by Serialize():
//   REGEDIT4
//   <blank line>
//   [HKEY_CURRENT_USER\Software\Kavrin]          one section per key, parents before children
//   "Name"=dword:0000000a                         REG_DWORD, 8 lower-case hex digits (two's complement)
//   "Blob"=hex:01,02,ff                           REG_BINARY, lower-case hex bytes ("hex:" when empty)
//   <blank line after every section>
// Value names escape '\' and '"' with a backslash. Keys are sorted by their case-folded path, values
// keep the order in which they were first written. Parse() also accepts CRLF line ends, a UTF-8 byte
// order mark, ';' comment lines, hex lines continued with a trailing '\', 1 to 8 dword digits in
// either case and values of other types (strings, "hex(n):"), which it keeps verbatim. Anything
// else makes the whole text unparsable.
//
// Key and value names compare case-insensitively (ASCII), as the Windows registry does; a key keeps
// the spelling it was created with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::platform {

class RegistryTree {
 public:
  // Texts longer than this are treated as damaged rather than read (the store holds a few kB).
  static constexpr size_t kMaxTextBytes = 16u << 20;

  // Parses a registry export; nullopt when the text is damaged (see above).
  static std::optional<RegistryTree> Parse(std::string_view text);
  std::string Serialize() const;

  // Paths are relative to HKEY_CURRENT_USER, components separated by single backslashes, e.g.
  // "Software\\Kavrin\\OrvaneKD73R5Sdk". A path with an empty component or a control character is
  // invalid: lookups fail and writes are refused.
  bool KeyExists(std::string_view path) const;
  // Creates the key and every missing parent; true when the key exists afterwards.
  bool CreateKey(std::string_view path);

  // nullopt when the key or value is missing or the value has another type.
  std::optional<int32_t> ReadDword(std::string_view path, std::string_view name) const;
  std::optional<std::vector<uint8_t>> ReadBinary(std::string_view path, std::string_view name) const;
  // The key must exist; value names must be non-empty and free of control characters.
  bool WriteDword(std::string_view path, std::string_view name, int32_t value);
  bool WriteBinary(std::string_view path, std::string_view name, std::span<const uint8_t> bytes);

  bool operator==(const RegistryTree&) const = default;

 private:
  enum class Kind { kDword, kBinary, kVerbatim };
  struct Value {
    std::string name;
    Kind kind = Kind::kDword;
    int32_t dword = 0;
    std::vector<uint8_t> bytes;
    std::string verbatim;  // text after '=' of a value of another type
    bool operator==(const Value&) const = default;
  };
  struct Key {
    std::string path;  // spelling of the first creation
    std::vector<Value> values;
    bool operator==(const Key&) const = default;
  };

  const Key* FindKey(std::string_view path) const;
  Key* FindKey(std::string_view path);
  Value* PrepareValue(std::string_view path, std::string_view name);
  const Value* FindValue(std::string_view path, std::string_view name) const;

  std::map<std::string, Key> keys_;  // by case-folded path
};

}  // namespace orvane::platform
