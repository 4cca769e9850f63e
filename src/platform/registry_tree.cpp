#include "platform/registry_tree.h"

#include <algorithm>
#include <cstdio>

namespace orvane::platform {

namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kHive = "HKEY_CURRENT_USER";
constexpr std::string_view kBom = "\xEF\xBB\xBF";

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string FoldCase(std::string_view text) {
  std::string folded(text);
  std::transform(folded.begin(), folded.end(), folded.begin(), Fold);
  return folded;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Fold(x) == Fold(y); });
}

bool HasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

bool ValidName(std::string_view name) { return !name.empty() && !HasControlCharacter(name); }

bool ValidPath(std::string_view path) {
  if (path.empty() || HasControlCharacter(path)) return false;
  if (path.front() == '\\' || path.back() == '\\') return false;
  return path.find("\\\\") == std::string_view::npos;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<int32_t> ParseDword(std::string_view digits) {
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (char c : digits) {
    int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return static_cast<int32_t>(value);
}

// "01,ff,0a" (spaces around bytes tolerated); an empty list is an empty value.
std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view list) {
  std::vector<uint8_t> bytes;
  list = Trim(list);
  if (list.empty()) return bytes;
  while (true) {
    size_t comma = list.find(',');
    std::string_view item = Trim(list.substr(0, comma));
    if (item.size() != 2 || HexDigit(item[0]) < 0 || HexDigit(item[1]) < 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(HexDigit(item[0]) * 16 + HexDigit(item[1])));
    if (comma == std::string_view::npos) return bytes;
    list.remove_prefix(comma + 1);
  }
}

// Reads a quoted, backslash-escaped name at the start of `line`; advances `line` past it.
std::optional<std::string> ParseQuotedName(std::string_view& line) {
  if (line.empty() || line.front() != '"') return std::nullopt;
  std::string name;
  for (size_t i = 1; i < line.size(); ++i) {
    char c = line[i];
    if (c == '\\') {
      if (++i == line.size()) return std::nullopt;
      name.push_back(line[i]);
    } else if (c == '"') {
      line.remove_prefix(i + 1);
      return name;
    } else {
      name.push_back(c);
    }
  }
  return std::nullopt;
}

std::string QuoteName(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '\\' || c == '"') quoted.push_back('\\');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

// Data of another type is kept as text and written back on one line, so it must read back the same:
// no control character (a stray CR would be eaten as a line end) and no trailing '\\' (which would
// continue the line into the next one).
bool VerbatimRepresentable(std::string_view data) {
  for (char c : data) {
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) return false;
  }
  return data.back() != '\\';
}

// Splits the text into logical lines: CR LF or LF ends a line, and a line ending in '\' continues
// on the next one (its leading blanks dropped), as regedit wraps long hex lists.
std::vector<std::string> LogicalLines(std::string_view text) {
  std::vector<std::string> lines;
  std::string current;
  bool continuing = false;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (continuing) line = Trim(line);
    current.append(line);
    continuing = !current.empty() && current.back() == '\\' && current.find('=') != std::string::npos;
    if (continuing) {
      current.pop_back();
    } else {
      lines.push_back(std::move(current));
      current.clear();
    }
  }
  if (!current.empty()) lines.push_back(std::move(current));
  return lines;
}

}  // namespace

std::optional<RegistryTree> RegistryTree::Parse(std::string_view text) {
  if (text.size() > kMaxTextBytes) return std::nullopt;
  if (text.starts_with(kBom)) text.remove_prefix(kBom.size());
  RegistryTree tree;
  bool sawHeader = false;
  std::string section;  // current key path; empty before the first section
  bool inSection = false;
  for (const std::string& logical : LogicalLines(text)) {
    std::string_view line = Trim(logical);
    if (line.empty() || line.front() == ';') continue;
    if (!sawHeader) {
      if (line != kHeader) return std::nullopt;
      sawHeader = true;
      continue;
    }
    if (line.front() == '[') {
      if (line.back() != ']') return std::nullopt;
      std::string_view path = line.substr(1, line.size() - 2);
      if (!path.starts_with(kHive)) return std::nullopt;
      path.remove_prefix(kHive.size());
      inSection = true;
      if (path.empty()) {  // the hive itself holds no values of ours
        section.clear();
        continue;
      }
      if (path.front() != '\\') return std::nullopt;
      path.remove_prefix(1);
      if (!tree.CreateKey(path)) return std::nullopt;
      section = std::string(path);
      continue;
    }
    if (!inSection || section.empty()) return std::nullopt;
    std::optional<std::string> name = ParseQuotedName(line);
    if (!name || !ValidName(*name)) return std::nullopt;
    line = Trim(line);
    if (line.empty() || line.front() != '=') return std::nullopt;
    std::string_view data = Trim(line.substr(1));
    Value* value = tree.PrepareValue(section, *name);
    if (value == nullptr) return std::nullopt;
    if (data.starts_with("dword:")) {
      std::optional<int32_t> dword = ParseDword(data.substr(6));
      if (!dword) return std::nullopt;
      value->kind = Kind::kDword;
      value->dword = *dword;
    } else if (data.starts_with("hex:")) {
      std::optional<std::vector<uint8_t>> bytes = ParseHexBytes(data.substr(4));
      if (!bytes) return std::nullopt;
      value->kind = Kind::kBinary;
      value->bytes = std::move(*bytes);
    } else if (!data.empty() && VerbatimRepresentable(data)) {
      value->kind = Kind::kVerbatim;
      value->verbatim = std::string(data);
    } else {
      return std::nullopt;
    }
  }
  if (!sawHeader) return std::nullopt;
  return tree;
}

std::string RegistryTree::Serialize() const {
  std::string text(kHeader);
  text.append("\n\n");
  char digits[16];
  for (const auto& [folded, key] : keys_) {
    text.append("[").append(kHive).append("\\").append(key.path).append("]\n");
    for (const Value& value : key.values) {
      text.append(QuoteName(value.name)).append("=");
      switch (value.kind) {
        case Kind::kDword:
          std::snprintf(digits, sizeof digits, "dword:%08x", static_cast<uint32_t>(value.dword));
          text.append(digits);
          break;
        case Kind::kBinary:
          text.append("hex:");
          for (size_t i = 0; i < value.bytes.size(); ++i) {
            std::snprintf(digits, sizeof digits, i == 0 ? "%02x" : ",%02x", value.bytes[i]);
            text.append(digits);
          }
          break;
        case Kind::kVerbatim:
          text.append(value.verbatim);
          break;
      }
      text.append("\n");
    }
    text.append("\n");
  }
  return text;
}

const RegistryTree::Key* RegistryTree::FindKey(std::string_view path) const {
  if (!ValidPath(path)) return nullptr;
  auto it = keys_.find(FoldCase(path));
  return it == keys_.end() ? nullptr : &it->second;
}

RegistryTree::Key* RegistryTree::FindKey(std::string_view path) {
  return const_cast<Key*>(static_cast<const RegistryTree*>(this)->FindKey(path));
}

bool RegistryTree::KeyExists(std::string_view path) const { return FindKey(path) != nullptr; }

bool RegistryTree::CreateKey(std::string_view path) {
  if (!ValidPath(path)) return false;
  // Every prefix ending before a separator is a parent that must exist too. A key created below an
  // existing parent is spelled as that parent plus its own name, as the registry shows it.
  std::string spelled;
  for (size_t start = 0;;) {
    size_t end = path.find('\\', start);
    std::string_view name = path.substr(start, end == std::string_view::npos ? end : end - start);
    std::string candidate = spelled.empty() ? std::string(name) : spelled + "\\" + std::string(name);
    auto [it, inserted] = keys_.try_emplace(FoldCase(candidate), Key{candidate, {}});
    spelled = it->second.path;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

const RegistryTree::Value* RegistryTree::FindValue(std::string_view path,
                                                   std::string_view name) const {
  const Key* key = FindKey(path);
  if (key == nullptr) return nullptr;
  auto it = std::find_if(key->values.begin(), key->values.end(),
                         [&](const Value& v) { return SameName(v.name, name); });
  return it == key->values.end() ? nullptr : &*it;
}

RegistryTree::Value* RegistryTree::PrepareValue(std::string_view path, std::string_view name) {
  if (!ValidName(name)) return nullptr;
  Key* key = FindKey(path);
  if (key == nullptr) return nullptr;
  auto it = std::find_if(key->values.begin(), key->values.end(),
                         [&](const Value& v) { return SameName(v.name, name); });
  // A rewritten value starts afresh but keeps the spelling of its first write.
  std::string spelling = it == key->values.end() ? std::string(name) : std::move(it->name);
  if (it == key->values.end()) {
    key->values.emplace_back();
    it = std::prev(key->values.end());
  }
  *it = Value{};
  it->name = std::move(spelling);
  return &*it;
}

std::optional<int32_t> RegistryTree::ReadDword(std::string_view path, std::string_view name) const {
  const Value* value = FindValue(path, name);
  if (value == nullptr || value->kind != Kind::kDword) return std::nullopt;
  return value->dword;
}

std::optional<std::vector<uint8_t>> RegistryTree::ReadBinary(std::string_view path,
                                                             std::string_view name) const {
  const Value* value = FindValue(path, name);
  if (value == nullptr || value->kind != Kind::kBinary) return std::nullopt;
  return value->bytes;
}

bool RegistryTree::WriteDword(std::string_view path, std::string_view name, int32_t dword) {
  Value* value = PrepareValue(path, name);
  if (value == nullptr) return false;
  value->kind = Kind::kDword;
  value->dword = dword;
  return true;
}

bool RegistryTree::WriteBinary(std::string_view path, std::string_view name,
                               std::span<const uint8_t> bytes) {
  Value* value = PrepareValue(path, name);
  if (value == nullptr) return false;
  value->kind = Kind::kBinary;
  value->bytes.assign(bytes.begin(), bytes.end());
  return true;
}

}  // namespace orvane::platform
