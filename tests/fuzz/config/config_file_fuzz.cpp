// Feeds the configuration file reader of the SDK object. Any file loads, and the table then holds one
// (little-endian int32, int32) pair per whole 8 bytes of the file in file order; a trailing remainder
// is ignored.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "../scratch_file.h"
#include "sdk/orvane.h"

namespace {

int32_t Le32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const ScratchFile scratch("config");
  // The reader needs no camera: an object that was never set up is enough.
  static COrvane* const sdk = new COrvane();
  std::FILE* f = std::fopen(scratch.path.c_str(), "wb");
  if (f == nullptr) __builtin_trap();
  const bool written = std::fwrite(data, 1, size, f) == size;
  if (std::fclose(f) != 0 || !written) __builtin_trap();

  if (sdk->LoadConfigFileA(scratch.path.c_str()) != 1) __builtin_trap();
  const std::vector<std::pair<int32_t, int32_t>> table = sdk->ConfigTable();
  if (table.size() != size / 8) __builtin_trap();
  for (size_t i = 0; i < table.size(); ++i) {
    if (table[i].first != Le32(data + 8 * i) || table[i].second != Le32(data + 8 * i + 4)) __builtin_trap();
  }
  return 0;
}
