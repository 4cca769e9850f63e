// Feeds the mask file reader. The first input byte chooses the file's length: 'F' extends the rest of
// the input (with zeros, as a sparse file) to the full 72,000,040 bytes, anything else writes the rest
// as it is. Checked: a full-length file loads exactly when its 40-byte header is the one the writer
// produces, and then the references hold the file's bytes; a shorter file never loads; a refused file
// leaves the references as they were.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../scratch_file.h"
#include "image/defect_mask.h"

namespace {

using orvane::image::DefectMask;
using orvane::image::MaskStatus;

constexpr uint32_t kPixels = DefectMask::kWidth * DefectMask::kHeight;

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The header every saved mask starts with: magic with its terminator, geometry, four block sizes.
struct CanonicalHeader {
  uint8_t bytes[DefectMask::kHeaderSize] = {};
  CanonicalHeader() {
    std::memcpy(bytes, "KAVRIN MASK1000", 16);
    PutLe32(bytes + 16, DefectMask::kWidth);
    PutLe32(bytes + 20, DefectMask::kHeight);
    PutLe32(bytes + 24, kPixels);
    PutLe32(bytes + 28, kPixels);
    PutLe32(bytes + 32, 2 * kPixels);
    PutLe32(bytes + 36, 2 * kPixels);
  }
};


bool WriteFile(const std::string& path, const uint8_t* data, size_t size, bool fullLength) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(data, 1, size, f) == size;
  if (std::fclose(f) != 0 || !written) return false;
  return !fullLength || truncate(path.c_str(), static_cast<off_t>(DefectMask::kFileSize)) == 0;
}

// The byte at `offset` of the file the input describes (zero past the input).
uint8_t FileByte(const uint8_t* body, size_t size, uint64_t offset) { return offset < size ? body[offset] : 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const CanonicalHeader canonical;
  static const ScratchFile scratch("mask");
  // Kept across inputs, so a refused load is checked against references a previous input loaded.
  static DefectMask mask;
  if (size == 0) return 0;
  const bool fullLength = data[0] == 'F';
  const uint8_t* body = data + 1;
  const size_t bodySize = size - 1;
  if (bodySize > DefectMask::kFileSize) return 0;
  if (!WriteFile(scratch.path, body, bodySize, fullLength)) __builtin_trap();

  const bool wasAllocated = mask.Allocated();
  uint8_t before[64] = {};
  if (wasAllocated) std::memcpy(before, mask.Reference8(0), sizeof(before));

  const MaskStatus status = mask.Load(scratch.path.c_str());
  const bool headerValid =
      bodySize >= DefectMask::kHeaderSize && std::memcmp(body, canonical.bytes, DefectMask::kHeaderSize) == 0;
  const bool shouldLoad = fullLength && headerValid;
  if (shouldLoad) {
    if (status != MaskStatus::kOk || !mask.Allocated()) __builtin_trap();
    // Block order: dark 8-bit, bright 8-bit, dark 16-bit, bright 16-bit (little-endian samples).
    const uint64_t dark8 = DefectMask::kHeaderSize, bright8 = dark8 + kPixels, dark16 = bright8 + kPixels,
                   bright16 = dark16 + 2ull * kPixels;
    for (uint32_t i : {0u, 1u, 17u, 1000u, kPixels - 1}) {
      const auto le16 = [&](uint64_t at) {
        return static_cast<uint16_t>(FileByte(body, bodySize, at) | FileByte(body, bodySize, at + 1) << 8);
      };
      if (mask.Reference8(0)[i] != FileByte(body, bodySize, dark8 + i) ||
          mask.Reference8(1)[i] != FileByte(body, bodySize, bright8 + i) ||
          mask.Reference16(0)[i] != le16(dark16 + 2ull * i) || mask.Reference16(1)[i] != le16(bright16 + 2ull * i)) {
        __builtin_trap();
      }
    }
  } else {
    if (status != MaskStatus::kFileFormat || mask.Allocated() != wasAllocated) __builtin_trap();
    if (wasAllocated && std::memcmp(before, mask.Reference8(0), sizeof(before)) != 0) __builtin_trap();
  }
  return 0;
}
