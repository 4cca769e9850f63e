#include "platform/camera_claim.h"

#include <cstdint>
#include <cstdio>

namespace orvane::platform {

// FNV-1a, 64 bits: device paths are long and full of separators; the name only has to tell cameras
// apart, not keep the path.
std::string CameraClaim::ObjectName(const std::string& scope, const std::string& key) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (const unsigned char c : key) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  char hex[17];
  std::snprintf(hex, sizeof(hex), "%016llx", static_cast<unsigned long long>(hash));
  return scope + "-Camera-" + hex;
}

}  // namespace orvane::platform
