// Feeds the configuration file reader (the persistence layer's, which the SDK object uses). Any file
// loads, and the table then holds one (little-endian int32, int32) pair per whole 8 bytes of the file in
// file order; a trailing remainder is ignored.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "../scratch_file.h"
#include "persistence/config_file.h"

namespace {

int32_t Le32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const ScratchFile scratch("config");
  std::FILE* f = std::fopen(scratch.path.c_str(), "wb");
  if (f == nullptr) __builtin_trap();
  const bool written = std::fwrite(data, 1, size, f) == size;
  if (std::fclose(f) != 0 || !written) __builtin_trap();

  orvane::persistence::ConfigTable table;
  if (!orvane::persistence::ReadConfigFile(scratch.path.c_str(), &table)) __builtin_trap();
  if (table.size() != size / 8) __builtin_trap();
  for (size_t i = 0; i < table.size(); ++i) {
    if (table[i].first != Le32(data + 8 * i) || table[i].second != Le32(data + 8 * i + 4)) __builtin_trap();
  }
  return 0;
}
