// Any text given to the settings file parser is rejected or parsed into a tree that is written back
// to a text which parses into the same tree and the same text again.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/registry_tree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using orvane::platform::RegistryTree;
  std::optional<RegistryTree> parsed =
      RegistryTree::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!parsed) return 0;
  const std::string written = parsed->Serialize();
  if (written.size() > RegistryTree::kMaxTextBytes) return 0;
  std::optional<RegistryTree> reparsed = RegistryTree::Parse(written);
  if (!reparsed || !(*reparsed == *parsed) || reparsed->Serialize() != written) __builtin_trap();
  return 0;
}
