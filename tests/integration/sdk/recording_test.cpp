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
#include <random>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include "OrvaneSdk.h"
#include "one_camera.h"

namespace {

// Sanitised builds run several times slower: a gigabyte recording, and a recorder that keeps the
// camera's pace, are left to the plain build.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// A folder of this test's own: the cases of this program run in parallel processes.
std::filesystem::path TempDir() {
  auto dir = std::filesystem::temp_directory_path() / ("orvane_recording_" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  return dir;
}

uint32_t Le32(const std::vector<unsigned char>& bytes, size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// Main header flags of a finished file (has index, was capture file), and of the states brought up to
// date while recording (also: must use the index).
constexpr uint32_t kFinishedFlags = 0x10010;
constexpr uint32_t kRecordingFlags = 0x10030;

// The frames an AVI 1.0 file's index counts, after checking that the main and stream headers count as
// many, that the RIFF lies within the file and that every entry points at a "00db" chunk of `chunk`
// bytes. 0 (with a failure) when the file is not whole.
uint32_t IndexedFrames(const std::vector<unsigned char>& f, uint32_t chunk) {
  if (f.size() < 232) {
    ADD_FAILURE() << "no header";
    return 0;
  }
  EXPECT_LE(uint64_t{Le32(f, 4)} + 8, f.size()) << "the RIFF reaches past the file";
  uint64_t at = 228 + uint64_t{Le32(f, 224)};  // the chunks after "movi" up to "idx1"
  while (at + 8 <= f.size() && std::memcmp(f.data() + at, "idx1", 4) != 0) at += 8 + Le32(f, at + 4);
  if (at + 8 > f.size()) {
    ADD_FAILURE() << "no idx1";
    return 0;
  }
  const uint32_t frames = Le32(f, at + 4) / 16;
  EXPECT_LE(at + 8 + 16 * uint64_t{frames}, f.size());
  EXPECT_EQ(Le32(f, 48), frames) << "main header";
  EXPECT_EQ(Le32(f, 140), frames) << "stream header";
  for (uint32_t i = 0; i < frames && at + 24 + 16 * uint64_t{i} <= f.size(); ++i) {
    const uint64_t chunkAt = 228 + uint64_t{Le32(f, at + 16 + 16 * i)};
    EXPECT_EQ(Le32(f, at + 20 + 16 * i), chunk);
    if (chunkAt + 8 + chunk > f.size()) {
      ADD_FAILURE() << "frame " << i << " lies past the file";
      return 0;
    }
    EXPECT_EQ(std::memcmp(f.data() + chunkAt, "00db", 4), 0) << i;
    EXPECT_EQ(Le32(f, chunkAt + 4), chunk) << i;
  }
  return frames;
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

// ffprobe's frame count from the header (nb_frames) and by decoding every frame (nb_read_frames).
std::string ProbeCounts(const std::filesystem::path& path) {
  auto out = RunCommand("/usr/bin/ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                        "stream=nb_frames,nb_read_frames -of csv=p=0 '" + path.string() + "'");
  std::string text(out.begin(), out.end());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}
#endif

class Recording : public OneCameraTest {
 protected:
  void SetUp() override {
    dir_ = TempDir();
    OneCameraTest::SetUp();
  }
  void TearDown() override {
    OneCameraTest::TearDown();
    std::filesystem::remove_all(dir_);
  }

  // Waits until the recorder has finished the file (the stream header's length is the frame count,
  // and the main header's flags have lost the "must use index" of the states written while the
  // recording runs), then stops the stream, which waits for the recorder to have left, and reads the
  // file.
  std::vector<unsigned char> FinishRecording(const std::filesystem::path& path, size_t headerBytes = SIZE_MAX) {
    for (int i = 0; i < 3000; ++i) {
      auto head = ReadFile(path, 144);
      if (head.size() == 144 && Le32(head, 140) != 0 && Le32(head, 44) == kFinishedFlags) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(Orvane_StopPreview(handle_), 1);
    return ReadFile(path, headerBytes);
  }

  std::filesystem::path dir_;
};

TEST_F(Recording, OneSecondAtTheCamerasRateIsIndexedChunkByChunk) {
  // 8-bit gray at 2048 x 1080: no demosaic, so sanitised builds keep the camera's pace too.
  ASSERT_NO_FATAL_FAILURE(UseSmallFrames(handle_, 8));
  auto path = dir_ / "second.avi";
  ASSERT_EQ(Orvane_Record(handle_, path.string().c_str(), 1000, 0), 1);
  auto avi = FinishRecording(path);
  ASSERT_GT(avi.size(), 240u);
  EXPECT_EQ(Le32(avi, 4), avi.size() - 8);
  const uint32_t frames = Le32(avi, 48);
  // The recording ends with the first frame captured more than the duration after the first one.
  ASSERT_GE(frames, 2u);
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
  EXPECT_EQ(Le32(avi, 132), 10000000u);
  EXPECT_EQ(Le32(avi, 32), Le32(avi, 128) / 10) << "microseconds per frame and the scale: one rate";
  // The declared rate is the stored frames' pace: frames - 1 intervals over the time from the first
  // frame's capture to the last one's, which is more than the second recorded, so the scale (1/100 us
  // per frame) is at least that of frames - 1 per second. Whether the recorder kept the camera's pace
  // or skipped frames on a loaded machine, the file plays for as long as the recording took.
  EXPECT_GE(Le32(avi, 128), 1'000'000'000u / ((frames - 1) * 100)) << frames << " frames";
}

#ifndef _WIN32
// The frame as ImageMagick's raw output shows it: top row first, red-green-blue (or gray), samples of
// `depth` bits little-endian; the fourth channel dropped.
std::vector<unsigned char> ExpectedPixels(const std::vector<unsigned char>& frame, int bits, int depth) {
  const int sampleBytes = (bits == 16 || bits >= 48) ? 2 : 1;
  const int channels = bits / 8 / sampleBytes;
  const int shown = channels == 1 ? 1 : 3;
  std::vector<unsigned char> out;
  out.reserve(frame.size());
  for (size_t pixel = 0; pixel < frame.size() / (channels * sampleBytes); ++pixel) {
    for (int c = 0; c < shown; ++c) {
      const unsigned char* sample = frame.data() + (pixel * channels + (shown == 1 ? 0 : 2 - c)) * sampleBytes;
      if (depth == 16) out.push_back(sample[0]);           // 16-bit output: only of 16-bit samples
      out.push_back(sample[sampleBytes - 1]);              // 8-bit output: the high byte
    }
  }
  return out;
}

TEST_F(Recording, ImageMagickReadsEveryFileFormAsTheFrameInEveryColourMode) {
  if (!std::filesystem::exists("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick is not installed";
  ASSERT_EQ(Orvane_SetSubSample(handle_, kSmallSubSample), 1);
  // BMP has no 16-bit gray and no 48/64-bit form that readers know: those are checked byte for
  // byte by the writer's own tests.
  const struct {
    int bits;
    std::vector<int> types;
  } modes[] = {{8, {ORVANE_FILE_BMP, ORVANE_FILE_PNG, ORVANE_FILE_TIFF, ORVANE_FILE_JPEG_100}},
               {16, {ORVANE_FILE_PNG, ORVANE_FILE_TIFF, ORVANE_FILE_JPEG_100}},
               {24, {ORVANE_FILE_BMP, ORVANE_FILE_PNG, ORVANE_FILE_TIFF, ORVANE_FILE_JPEG_100}},
               {32, {ORVANE_FILE_BMP, ORVANE_FILE_PNG, ORVANE_FILE_TIFF, ORVANE_FILE_JPEG_100}},
               {48, {ORVANE_FILE_PNG, ORVANE_FILE_TIFF, ORVANE_FILE_JPEG_100}},
               {64, {ORVANE_FILE_PNG, ORVANE_FILE_TIFF, ORVANE_FILE_JPEG_100}}};
  for (const auto& mode : modes) {
    SCOPED_TRACE(mode.bits);
    ASSERT_EQ(Orvane_SetColorMode(handle_, mode.bits), 1);
    std::vector<unsigned char> frame(size_t{2048} * 1080 * (mode.bits / 8));
    ASSERT_EQ(Orvane_SnapShot(handle_, frame.data(), static_cast<int>(frame.size()), 1), 1);
    // The raw form is the frame's memory as the application receives it.
    auto raw = dir_ / "f.raw";
    ASSERT_EQ(Orvane_SaveImage(handle_, raw.string().c_str(), ORVANE_FILE_RAW), 1);
    EXPECT_TRUE(ReadFile(raw) == frame);
    for (int type : mode.types) {
      SCOPED_TRACE(type);
      const bool jpeg = type == ORVANE_FILE_JPEG_100;
      const int depth = !jpeg && (mode.bits == 16 || mode.bits >= 48) ? 16 : 8;
      auto path = dir_ / (jpeg ? "f.jpg" : type == ORVANE_FILE_BMP ? "f.bmp" : type == ORVANE_FILE_PNG ? "f.png" : "f.tif");
      ASSERT_EQ(Orvane_SaveImage(handle_, path.string().c_str(), type), 1);
      // ImageMagick's own decoders, top row first.
      std::string map = mode.bits <= 16 ? "gray" : "rgb";
      auto pixels = RunCommand("/usr/bin/convert '" + path.string() + "' -endian LSB -depth " + std::to_string(depth) +
                               " " + map + ":- 2>/dev/null");
      auto expected = ExpectedPixels(frame, mode.bits, depth);
      ASSERT_EQ(pixels.size(), expected.size());
      // Lossless forms match exactly; JPEG is compared by its mean error (chroma subsampling moves
      // single pixels at colour edges far, but not the image).
      if (!jpeg) {
        EXPECT_TRUE(pixels == expected);
        continue;
      }
      double total = 0;
      for (size_t i = 0; i < expected.size(); ++i) total += std::abs(static_cast<int>(pixels[i]) - expected[i]);
      EXPECT_LE(total / static_cast<double>(expected.size()), 3.0);
    }
  }
}

// A write error during a recording (here the file size limit, as on a full disk) ends it with
// error 12; the file keeps the frames written before, with their count in the header.
TEST_F(Recording, AFullDiskEndsTheRecordingWithItsFramesKept) {
  ASSERT_NO_FATAL_FAILURE(UseSmallFrames(handle_, 8));
  const uint32_t chunk = 2048 * 3 * 1080;
  auto path = dir_ / "full.avi";
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit previous{};
  getrlimit(RLIMIT_FSIZE, &previous);
  rlimit limit = previous;
  limit.rlim_cur = 240 + 4 * (chunk + 8);  // room for the header and four frames
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) GTEST_SKIP() << "file size limit not permitted";
  ASSERT_EQ(Orvane_Record(handle_, path.string().c_str(), 60000, 0), 1);
  bool failed = false;
  TakenMessage m;
  while (!failed && window_.Take(&m, 60000)) failed = m.message == ORVANE_WM_ERROR && m.lParam == ORVANE_ERR_CONVERSION;
  ASSERT_EQ(Orvane_StopPreview(handle_), 1);
  setrlimit(RLIMIT_FSIZE, &previous);
  std::signal(SIGXFSZ, previousHandler);
  ASSERT_TRUE(failed) << "no error 12 within a minute";
  auto avi = ReadFile(path);
  ASSERT_GE(avi.size(), 240u);
  const uint32_t frames = Le32(avi, 48);
  EXPECT_EQ(frames, 4u);
  EXPECT_EQ(Le32(avi, 140), frames);
  for (uint32_t i = 0; i < frames; ++i) {
    EXPECT_EQ(std::memcmp(avi.data() + 232 + i * (chunk + 8), "00db", 4), 0) << i;
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
    head = FinishRecording(path, 1 << 20);
    if (std::filesystem::file_size(path) > (uintmax_t{1} << 30)) break;
  }
  const uintmax_t size = std::filesystem::file_size(path);
  ASSERT_GT(size, uintmax_t{1} << 30) << "the recording did not reach a gigabyte";
  // A second RIFF list of the extended form follows the first.
  std::ifstream in(path, std::ios::binary);
  auto readAt = [&in](uint64_t at, size_t bytes) {
    std::vector<unsigned char> out(bytes);
    in.seekg(static_cast<std::streamoff>(at));
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(bytes));
    if (in.gcount() != static_cast<std::streamsize>(bytes)) out.clear();
    in.clear();
    return out;
  };
  auto next = readAt(uint64_t{Le32(head, 4)} + 8, 12);
  ASSERT_EQ(next.size(), 12u);
  EXPECT_EQ(std::memcmp(next.data(), "RIFF", 4), 0);
  EXPECT_EQ(std::memcmp(next.data() + 8, "AVIX", 4), 0);
  auto find = [&head](const char* id) {
    for (size_t i = 0; i + 8 < head.size(); ++i) {
      if (std::memcmp(head.data() + i, id, 4) == 0) return i;
    }
    return size_t{0};
  };
  const size_t dmlh = find("dmlh"), indx = find("indx");
  ASSERT_NE(dmlh, 0u);
  ASSERT_NE(indx, 0u);
  const uint32_t total = Le32(head, dmlh + 8);
  // The super index lists the standard indexes; every entry of those points at a "00db" chunk of
  // one frame's size.
  const uint32_t chunk = 4000 * 3 * 3000;
  const uint32_t indexes = Le32(head, indx + 12);
  uint32_t walked = 0;
  for (uint32_t e = 0; e < indexes; ++e) {
    const size_t entry = indx + 8 + 24 + 16 * static_cast<size_t>(e);
    const uint64_t ixAt = Le32(head, entry) | uint64_t{Le32(head, entry + 4)} << 32;
    auto ix = readAt(ixAt, Le32(head, entry + 8));
    ASSERT_GE(ix.size(), 32u) << "index " << e;
    ASSERT_EQ(std::memcmp(ix.data(), "ix00", 4), 0) << "index " << e;
    const uint32_t count = Le32(ix, 12);
    ASSERT_EQ(count, Le32(head, entry + 12)) << "index " << e;
    ASSERT_GE(ix.size(), 32 + 8 * size_t{count});
    const uint64_t base = Le32(ix, 20) | uint64_t{Le32(ix, 24)} << 32;
    for (uint32_t k = 0; k < count; ++k, ++walked) {
      EXPECT_EQ(Le32(ix, 32 + 8 * size_t{k} + 4), chunk) << "frame " << walked;
      auto header = readAt(base + Le32(ix, 32 + 8 * size_t{k}) - 8, 8);
      ASSERT_EQ(header.size(), 8u) << "frame " << walked;
      EXPECT_EQ(std::memcmp(header.data(), "00db", 4), 0) << "frame " << walked;
      EXPECT_EQ(Le32(header, 4), chunk) << "frame " << walked;
    }
  }
  EXPECT_EQ(walked, total);
  auto count = RunCommand("/usr/bin/ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
                   "-of csv=p=0 '" + path.string() + "'");
  uint32_t counted = static_cast<uint32_t>(std::atoi(std::string(count.begin(), count.end()).c_str()));
  EXPECT_GT(counted, 28u);
  EXPECT_EQ(counted, total) << "ffprobe and the extended header's frame count";
}
#endif

// A recording ended before its length, by stopping the stream, closing or releasing the handle, is
// finished: header, index and sizes as for one that ran its length.
TEST_F(Recording, EndedBeforeItsLengthTheFileIsFinished) {
  ASSERT_NO_FATAL_FAILURE(UseSmallFrames(handle_, 8));
  const uint32_t chunk = 2048 * 3 * 1080;
  const struct {
    const char* name;
    int(ORVANE_CALL* end)(int);
  } enders[] = {{"stop", Orvane_StopPreview}, {"close", Orvane_Close}, {"release", Orvane_Release}};
  for (const auto& ender : enders) {
    SCOPED_TRACE(ender.name);
    auto path = dir_ / (std::string(ender.name) + ".avi");
    ASSERT_EQ(Orvane_Record(handle_, path.string().c_str(), 600000, 0), 1);
    for (int i = 0; i < 600; ++i) {  // until an update has counted two frames
      auto head = ReadFile(path, 144);
      if (head.size() == 144 && Le32(head, 140) >= 2) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_EQ(ender.end(handle_), 1);
    if (ender.end == Orvane_Release) {
      handle_ = Orvane_Initialize(window_.handle());
      ASSERT_NE(handle_, 0);
    }
    auto avi = ReadFile(path);
    ASSERT_GT(avi.size(), 232u);
    EXPECT_EQ(Le32(avi, 44), kFinishedFlags);
    EXPECT_EQ(Le32(avi, 4), avi.size() - 8);
    const uint32_t frames = IndexedFrames(avi, chunk);
    EXPECT_GE(frames, 2u);
    EXPECT_EQ(avi.size(), 232 + uint64_t{frames} * (chunk + 8) + 8 + 16 * uint64_t{frames}) << "the index ends it";
#ifndef _WIN32
    if (std::filesystem::exists("/usr/bin/ffprobe")) {
      EXPECT_EQ(ProbeCounts(path), std::to_string(frames) + "," + std::to_string(frames));
    }
#endif
  }
}

#ifndef _WIN32
constexpr const char* kCrashFileVariable = "ORVANE_TEST_CRASH_FILE";

// The child of the crash test (run only by it): records into the file it is given until it is killed.
TEST(RecordingChild, DISABLED_RecordsUntilKilled) {
  const char* file = std::getenv(kCrashFileVariable);
  if (file == nullptr) GTEST_SKIP() << "run by the crash test";
  ASSERT_TRUE(kOneVirtualCamera);
  TestWindow window;
  int handle = 0;
  ASSERT_NO_FATAL_FAILURE(OpenForTheApplication(window, &handle));
  ASSERT_NO_FATAL_FAILURE(UseSmallFrames(handle, 8));
  ASSERT_EQ(Orvane_Record(handle, file, 600000, 0), 1);
  std::this_thread::sleep_for(std::chrono::seconds(300));  // the parent kills it long before
  ADD_FAILURE() << "not killed";
}

// A process killed (SIGKILL) while recording leaves a file whose headers and index count the frames up
// to the last update, and every one of them decodes.
TEST(RecordingCrash, AKilledRecordingKeepsTheFramesUpToTheLastUpdate) {
  if (!std::filesystem::exists("/usr/bin/ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  const auto dir = TempDir();
  const auto path = dir / "killed.avi";
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  env.push_back(std::string(kCrashFileVariable) + "=" + path.string());
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string exe = "/proc/self/exe", filter = "--gtest_filter=RecordingChild.DISABLED_RecordsUntilKilled",
              disabled = "--gtest_also_run_disabled_tests";
  char* argv[] = {exe.data(), filter.data(), disabled.data(), nullptr};
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, exe.c_str(), nullptr, nullptr, argv, envp.data()), 0);
  // Kill it once two updates have counted frames (and at most after a minute).
  uint32_t seen = 0;
  int updates = 0;
  for (int i = 0; i < 3000 && updates < 2; ++i) {
    auto head = ReadFile(path, 144);
    if (head.size() == 144 && Le32(head, 140) > seen) {
      seen = Le32(head, 140);
      ++updates;
    }
    if (updates < 2) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child ended before the kill";
  ASSERT_EQ(updates, 2) << "no two updates within a minute";

  auto avi = ReadFile(path);
  EXPECT_EQ(Le32(avi, 44), kRecordingFlags);
  const uint32_t frames = IndexedFrames(avi, 2048 * 3 * 1080);
  EXPECT_GE(frames, seen);
  EXPECT_EQ(ProbeCounts(path), std::to_string(frames) + "," + std::to_string(frames))
      << "ffprobe's header count and decoded frames";
  std::filesystem::remove_all(dir);
}
#endif

}  // namespace
