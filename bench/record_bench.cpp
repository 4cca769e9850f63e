// The recorder's write path on full 4000 × 3000 frames: each frame converted to the stored form (as the
// recorder does with every processed frame), appended to an AVI file, the header and index brought up
// to date twice a second, the file finished and then flushed to the disk (fdatasync), so that the rate
// compares with `dd ... conv=fdatasync` of the same size on the same file system. Prints one line:
//   record: <frames> frames of <bytes> bytes in <seconds> s: <MB/s> MB/s, <frames/s> frames/s
//   orvane_record_bench <directory> [frames]
// Not a test: scripts/bench runs it next to dd.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "image/dib_image.h"
#include "output/avi_frame.h"
#include "output/avi_writer.h"

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

bool FlushToDisk(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  const bool ok = ::fdatasync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  using Clock = std::chrono::steady_clock;
  if (argc < 2) {
    std::fprintf(stderr, "usage: orvane_record_bench <directory> [frames]\n");
    return 2;
  }
  const std::string path = std::string(argv[1]) + "/orvane_record_bench.avi";
  const int frames = argc > 2 ? std::atoi(argv[2]) : 40;
  orvane::image::DibImage image;
  if (frames <= 0 || !image.Create(kWidth, kHeight, 24)) return 2;
  std::mt19937 rng(7);
  for (size_t i = 0; i < image.SizeBytes(); ++i) image.Bits()[i] = static_cast<uint8_t>(rng() >> 5);
  std::vector<uint8_t> frame(orvane::output::AviFrameBytes(kWidth, kHeight));

  orvane::output::AviWriter writer;
  const auto start = Clock::now();
  if (!writer.Create(path.c_str(), kWidth, kHeight)) {
    std::fprintf(stderr, "record: cannot create %s\n", path.c_str());
    return 1;
  }
  auto nextUpdate = start + std::chrono::milliseconds(500);
  bool ok = true;
  for (int i = 0; i < frames && ok; ++i) {
    ok = orvane::output::ConvertToAviFrame(image, frame.data(), frame.size()) &&
         writer.AddFrame(frame.data(), frame.size());
    if (ok && Clock::now() >= nextUpdate) {
      ok = writer.Update();
      nextUpdate = Clock::now() + std::chrono::milliseconds(500);
    }
  }
  ok = writer.Finish(3000) && ok;
  ok = ok && FlushToDisk(path);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::remove(path.c_str());
  if (!ok) {
    std::fprintf(stderr, "record: a write failed\n");
    return 1;
  }
  const double bytes = static_cast<double>(frame.size()) * frames;
  std::printf("record: %d frames of %zu bytes in %.2f s: %.1f MB/s, %.2f frames/s\n", frames, frame.size(), seconds,
              bytes / seconds / 1e6, frames / seconds);
  return 0;
}
