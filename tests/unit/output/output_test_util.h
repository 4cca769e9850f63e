// Frames and files for the output tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "image/dib_image.h"

namespace orvane::output::test {

// A frame of `depth` bits filled with a seeded pattern; the fourth channel of 32/64-bit pixels is left 0,
// as the pipeline leaves it.
inline void FillFrame(image::DibImage& frame, uint32_t seed) {
  uint32_t state = seed * 2654435761u + 1;
  for (int y = 0; y < frame.Height(); ++y) {
    uint8_t* row = frame.Row(y);
    for (int i = 0; i < frame.Width() * frame.BytesPerPixel(); ++i) {
      state = state * 1664525u + 1013904223u;
      row[i] = static_cast<uint8_t>(state >> 24);
    }
    if (frame.BitsPerPixel() == 32 || frame.BitsPerPixel() == 64) {
      const int bpp = frame.BytesPerPixel();
      for (int x = 0; x < frame.Width(); ++x) {
        for (int b = bpp * 3 / 4; b < bpp; ++b) row[x * bpp + b] = 0;
      }
    }
  }
}

inline std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint64_t Le64(const uint8_t* p) { return Le32(p) | (static_cast<uint64_t>(Le32(p + 4)) << 32); }
inline std::string Fourcc(const uint8_t* p) { return std::string(reinterpret_cast<const char*>(p), 4); }

// A fresh directory for one test (test processes run in parallel), removed with its contents at the end.
class TempDir {
 public:
  explicit TempDir(const std::string& name) {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() / ("orvane_output_" + name + "_" + std::to_string(rd()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace orvane::output::test
