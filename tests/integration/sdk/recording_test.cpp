// Image files and recordings of the live stream as other programs read them: ImageMagick opens
// every file form and sees the frame the application copies, the AVI index matches the chunks, and
// a recording past 1 GiB continues as an OpenDML file that ffprobe reads whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "OrvaneSdk.h"
#include "test_settings.h"
#include "test_window.h"

namespace {

const bool kOneVirtualCamera = [] {
#ifdef _WIN32
  _putenv_s("ORVANE_SIM_CAMERAS", "1");
#else
  setenv("ORVANE_SIM_CAMERAS", "1", 1);
#endif
  return true;
}();

// A gigabyte recording is left to the plain build: sanitised runs are too slow for it to matter.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

std::filesystem::path TempDir() {
  auto dir = std::filesystem::temp_directory_path() /
             ("orvane_recording_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::create_directories(dir);
  return dir;
}

uint32_t Le32(const std::vector<unsigned char>& bytes, size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

std::vector<unsigned char> ReadFile(const std::filesystem::path& path, size_t limit = SIZE_MAX) {
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> bytes;
  char chunk[1 << 16];
  while (bytes.size() < limit) {
    in.read(chunk, static_cast<std::streamsize>(std::min(sizeof(chunk), limit - bytes.size())));
    if (in.gcount() <= 0) break;
    bytes.insert(bytes.end(), chunk, chunk + in.gcount());
  }
  return bytes;
}

#ifndef _WIN32
// Runs a command and returns what it printed on standard output.
std::vector<unsigned char> RunCommand(const std::string& command) {
  std::vector<unsigned char> out;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  unsigned char chunk[1 << 16];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof(chunk), pipe)) > 0) out.insert(out.end(), chunk, chunk + n);
  pclose(pipe);
  return out;
}
#endif

class Recording : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kOneVirtualCamera);
    UseFreshSettingsStore();
    handle_ = Orvane_Initialize(window_.handle());
    ASSERT_NE(handle_, 0);
    ASSERT_EQ(Orvane_SetPreviewWindow(handle_, nullptr, 0, 0, 0, 0), 1);
    dir_ = TempDir();
  }
  void TearDown() override {
    EXPECT_EQ(Orvane_Release(handle_), 1);
    std::filesystem::remove_all(dir_);
  }

  // Waits until the recording finished its file: the RIFF size is patched (non-zero and within the
  // file) and the file has stopped growing.
  std::vector<unsigned char> WaitForFinishedAvi(const std::filesystem::path& path, size_t headerBytes = SIZE_MAX) {
    uintmax_t lastSize = 0;
    for (int i = 0; i < 1800; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      auto head = ReadFile(path, 16);
      uintmax_t size = std::filesystem::exists(path) ? std::filesystem::file_size(path) : 0;
      bool patched = head.size() >= 8 && Le32(head, 4) != 0 && Le32(head, 4) + 8 <= size;
      if (patched && size == lastSize) return ReadFile(path, headerBytes);
      lastSize = size;
    }
    return {};
  }

  TestWindow window_;
  int handle_ = 0;
  std::filesystem::path dir_;
};

TEST_F(Recording, OneSecondAtTheCamerasRateIsIndexedChunkByChunk) {
  // 8-bit gray at 2048 x 1080: no demosaic, so sanitised builds keep the camera's pace too.
  ASSERT_EQ(Orvane_SetColorMode(handle_, 8), 1);
  ASSERT_EQ(Orvane_SetSubSample(handle_, 17), 1);
  // The delivered rate, as the frame messages report it.
  std::vector<unsigned char> buffer(2048 * 1080);
  ASSERT_EQ(Orvane_CallBackPreview(handle_, window_.handle(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
  int delivered = 0;
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2500);
  while (std::chrono::steady_clock::now() < until) {
    TakenMessage m;
    if (window_.Take(&m, 100) && m.message == ORVANE_WM_FRAME && m.wParam != 0) {
      delivered = std::atomic_ref<const int32_t>(reinterpret_cast<const OrvaneFrameInfo*>(m.wParam)->frameRate).load();
    }
  }
  ASSERT_EQ(Orvane_StopPreview(handle_), 1);

  auto path = dir_ / "second.avi";
  ASSERT_EQ(Orvane_Record(handle_, path.string().c_str(), 1000, 0), 1);
  auto avi = WaitForFinishedAvi(path);
  ASSERT_EQ(Orvane_StopPreview(handle_), 1);
  ASSERT_GT(avi.size(), 240u);
  EXPECT_EQ(Le32(avi, 4), avi.size() - 8);
  const uint32_t frames = Le32(avi, 48);
  ASSERT_GE(frames, 1u);
  EXPECT_EQ(Le32(avi, 140), frames);
  const uint32_t chunk = 2048 * 3 * 1080;
  const size_t movi = 228, idx1 = avi.size() - 8 - 16 * static_cast<size_t>(frames);
  ASSERT_EQ(std::memcmp(avi.data() + idx1, "idx1", 4), 0);
  for (uint32_t i = 0; i < frames; ++i) {
    size_t entry = idx1 + 8 + 16 * static_cast<size_t>(i);
    uint32_t offset = Le32(avi, entry + 8);
    EXPECT_EQ(offset, 4 + i * (chunk + 8)) << i;
    EXPECT_EQ(Le32(avi, entry + 12), chunk);
    ASSERT_EQ(std::memcmp(avi.data() + movi + offset, "00db", 4), 0) << i;
    EXPECT_EQ(Le32(avi, movi + offset + 4), chunk);
  }
  // The declared rate is the frames over the recorded time: from the first frame, a second and at
  // most a frame interval or two more. It never exceeds what the camera delivered (frames that
  // arrive while the recorder is busy are skipped, and the declared rate follows).
  const double declared = 10000000.0 / Le32(avi, 128);
  EXPECT_GE(frames, declared * 1.0);
  EXPECT_LE(frames, declared * 1.0 + 2.0);
  EXPECT_EQ(Le32(avi, 132), 10000000u);
  EXPECT_EQ(Le32(avi, 32), Le32(avi, 128) / 10) << "microseconds per frame and the scale: one rate";
  ASSERT_GT(delivered, 0);
  EXPECT_LE(declared, delivered / 10.0 * 1.1);
}

#ifndef _WIN32
TEST_F(Recording, ImageMagickReadsEveryFileFormAsTheFrame) {
  if (!std::filesystem::exists("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick is not installed";
  ASSERT_EQ(Orvane_SetSubSample(handle_, 17), 1);
  struct Form {
    int bits;
    int type;
    const char* name;
    double meanTolerance;  // 0: exact
  };
  const Form forms[] = {{24, ORVANE_FILE_BMP, "c.bmp", 0}, {24, ORVANE_FILE_PNG, "c.png", 0},
                        {24, ORVANE_FILE_TIFF, "c.tif", 0}, {24, ORVANE_FILE_JPEG_100, "c.jpg", 3.0},
                        {8, ORVANE_FILE_BMP, "g.bmp", 0},  {8, ORVANE_FILE_PNG, "g.png", 0},
                        {8, ORVANE_FILE_TIFF, "g.tif", 0},  {8, ORVANE_FILE_JPEG_100, "g.jpg", 3.0}};
  int lastBits = 0;
  std::vector<unsigned char> frame;
  for (const Form& form : forms) {
    SCOPED_TRACE(form.name);
    if (form.bits != lastBits) {
      ASSERT_EQ(Orvane_SetColorMode(handle_, form.bits), 1);
      frame.assign(2048 * 1080 * (form.bits / 8), 0);
      ASSERT_EQ(Orvane_SnapShot(handle_, frame.data(), static_cast<int>(frame.size()), 1), 1);
      lastBits = form.bits;
    }
    auto path = dir_ / form.name;
    ASSERT_EQ(Orvane_SaveImage(handle_, path.string().c_str(), form.type), 1);
    // ImageMagick's own decoders, top row first: RGB bytes or gray bytes.
    std::string map = form.bits == 24 ? "rgb" : "gray";
    auto pixels = RunCommand("/usr/bin/convert '" + path.string() + "' -depth 8 " + map + ":- 2>/dev/null");
    ASSERT_EQ(pixels.size(), frame.size());
    // Lossless forms match exactly; JPEG is compared by its mean error (chroma subsampling moves
    // single pixels at colour edges far, but not the image).
    int worst = 0;
    double total = 0;
    for (size_t i = 0; i < frame.size(); ++i) {
      size_t source = form.bits == 24 ? i - i % 3 + (2 - i % 3) : i;  // the frame is blue, green, red
      int error = std::abs(static_cast<int>(pixels[i]) - frame[source]);
      worst = std::max(worst, error);
      total += error;
    }
    if (form.meanTolerance == 0) {
      EXPECT_EQ(worst, 0);
    } else {
      EXPECT_LE(total / static_cast<double>(frame.size()), form.meanTolerance);
    }
  }
}

TEST_F(Recording, PastOneGibTheRecordingContinuesAsOpenDml) {
  if (kSanitized) GTEST_SKIP() << "a gigabyte of frames is left to the plain build";
  if (!std::filesystem::exists("/usr/bin/ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  ASSERT_EQ(Orvane_SetColorMode(handle_, 24), 1);  // 36 MB frames: about thirty make a gigabyte
  auto path = dir_ / "long.avi";
  // How many frames a second reach the file depends on the machine: record longer until the
  // recording passes a gigabyte.
  std::vector<unsigned char> head;
  for (int durationMs = 3000; durationMs <= 48000; durationMs *= 2) {
    std::filesystem::remove(path);
    ASSERT_EQ(Orvane_Record(handle_, path.string().c_str(), durationMs, 0), 1);
    head = WaitForFinishedAvi(path, 1 << 20);
    ASSERT_EQ(Orvane_StopPreview(handle_), 1);
    if (std::filesystem::file_size(path) > (uintmax_t{1} << 30)) break;
  }
  const uintmax_t size = std::filesystem::file_size(path);
  ASSERT_GT(size, uintmax_t{1} << 30) << "the recording did not reach a gigabyte";
  // A second RIFF list of the extended form follows the first.
  const uint32_t firstRiff = Le32(head, 4);
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(firstRiff) + 8);
  char next[12] = {};
  in.read(next, sizeof(next));
  EXPECT_EQ(std::string(next, 4), "RIFF");
  EXPECT_EQ(std::string(next + 8, 4), "AVIX");
  auto count = RunCommand("/usr/bin/ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
                   "-of csv=p=0 '" + path.string() + "'");
  uint32_t counted = static_cast<uint32_t>(std::atoi(std::string(count.begin(), count.end()).c_str()));
  EXPECT_GT(counted, 28u);
  uint32_t total = 0;
  for (size_t i = 0; i + 8 < head.size(); ++i) {
    if (std::memcmp(head.data() + i, "dmlh", 4) == 0) {
      total = Le32(head, i + 8);
      break;
    }
  }
  EXPECT_EQ(counted, total) << "ffprobe and the extended header's frame count";
}
#endif

}  // namespace
