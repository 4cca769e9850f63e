// A recording brought up to date while it runs: at every moment the file on disk is whole, counts the
// frames up to the last update (a process killed then leaves exactly those readable), and the finished
// file is the one a recording never updated gives; below and past the RIFF limit, and in a process
// killed while recording.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#ifndef _WIN32
#include <spawn.h>
#include <sys/wait.h>

#include <csignal>
#endif

#include "avi_test_reader.h"
#include "output/avi_writer.h"
#include "output_test_util.h"

namespace orvane::output {
namespace {

using test::Fourcc;
using test::Le32;
using test::NumberedFrame;
using test::OpenDmlFrames;
using test::ReadFileBytes;
using test::TempDir;

// The frames a reader that trusts the header and the index plays from this file (as it is on disk, as a
// killed process leaves it): walks RIFF → "movi" → the chunks after it to "idx1", and follows every index
// entry to a whole "00db" chunk holding the frame of that number. Fails the test where any of this is
// broken, and where the counts in the main and stream headers differ from the index.
uint32_t PlayableFrames(const std::vector<uint8_t>& f, size_t frameBytes) {
  if (f.size() < 232 || Fourcc(&f[0]) != "RIFF" || Fourcc(&f[8]) != "AVI ") {
    ADD_FAILURE() << "no AVI header";
    return 0;
  }
  const uint64_t riffEnd = uint64_t{Le32(&f[4])} + 8;
  EXPECT_LE(riffEnd, f.size()) << "the RIFF reaches past the file";
  EXPECT_EQ(Fourcc(&f[220]), "LIST");
  EXPECT_EQ(Fourcc(&f[228]), "movi");
  EXPECT_EQ(Le32(&f[44]) & 0x10, 0x10u) << "has an index";
  uint64_t at = 228 + uint64_t{Le32(&f[224])};
  while (at + 8 <= riffEnd && at + 8 <= f.size() && Fourcc(&f[at]) != "idx1") at += 8 + Le32(&f[at + 4]);
  if (at + 8 > riffEnd || at + 8 > f.size()) {
    ADD_FAILURE() << "no idx1 within the RIFF";
    return 0;
  }
  const uint32_t entries = Le32(&f[at + 4]) / 16;
  EXPECT_LE(at + 8 + 16 * uint64_t{entries}, riffEnd);
  for (uint32_t i = 0; i < entries; ++i) {
    const uint8_t* e = &f[at + 8 + 16 * i];
    const uint64_t chunk = 228 + uint64_t{Le32(e + 8)};
    EXPECT_EQ(Fourcc(e), "00db");
    EXPECT_EQ(Le32(e + 12), frameBytes);
    if (chunk + 8 + frameBytes > f.size()) {
      ADD_FAILURE() << "entry " << i << " points past the file";
      return 0;
    }
    EXPECT_EQ(Fourcc(&f[chunk]), "00db") << i;
    EXPECT_EQ(Le32(&f[chunk + 4]), frameBytes) << i;
    EXPECT_EQ(0, std::memcmp(&f[chunk + 8], NumberedFrame(frameBytes, i).data(), frameBytes)) << "frame " << i;
  }
  EXPECT_EQ(Le32(&f[48]), entries) << "main header's total frames";
  EXPECT_EQ(Le32(&f[140]), entries) << "stream length";
  return entries;
}

#ifndef _WIN32
// What ffprobe takes from the header (nb_frames) and counts by decoding (nb_read_frames).
std::pair<int, int> ProbeCounts(const std::string& path) {
  const std::string command = "/usr/bin/ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                              "stream=nb_frames,nb_read_frames -of csv=p=0 '" + path + "'";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, -1};
  char line[128] = {};
  const bool read = std::fgets(line, sizeof(line), pipe) != nullptr;
  pclose(pipe);
  int header = -1, decoded = -1;
  if (!read || std::sscanf(line, "%d,%d", &header, &decoded) != 2) return {-1, -1};
  return {header, decoded};
}

// Whether ffmpeg hands out the frames 0 .. frames-1 in this order (the stored frames, copied as they are).
bool FfmpegPlaysInOrder(const std::string& path, size_t frameBytes, uint32_t frames) {
  std::FILE* pipe = popen(("/usr/bin/ffmpeg -v error -i '" + path + "' -map 0:v -c copy -f rawvideo -").c_str(), "r");
  if (pipe == nullptr) return false;
  std::vector<uint8_t> frame(frameBytes);
  uint32_t played = 0;
  bool inOrder = true;
  while (std::fread(frame.data(), 1, frameBytes, pipe) == frameBytes) {
    inOrder = inOrder && frame == NumberedFrame(frameBytes, played);
    ++played;
  }
  pclose(pipe);
  return inOrder && played == frames;
}
#endif

// A plan of a recording: frames added between updates (0: an update with nothing new).
struct Plan {
  int w, h;
  std::vector<uint32_t> framesBetweenUpdates;
  uint32_t framesAfterLastUpdate;
};

TEST(AviUpdateTest, AtEveryMomentTheFileCountsTheFramesUpToTheLastUpdate) {
  const Plan plans[] = {
      {8, 4, {1, 3, 0, 10, 2}, 5},  // tiny frames: the index outgrows the reserve
      {64, 48, {2, 7, 1}, 9},       // more frames than the reserve between updates: it is moved on
      {5, 3, {}, 4},                // killed before the first update: nothing counted, still whole
  };
  for (const Plan& plan : plans) {
    SCOPED_TRACE(plan.w);
    TempDir dir("aviupdate");
    const std::string path = dir.File("r.avi");
    AviWriter writer;
    ASSERT_TRUE(writer.Create(path.c_str(), plan.w, plan.h));
    const size_t bytes = writer.FrameBytes();
    uint32_t added = 0, atLastUpdate = 0;
    auto addFrames = [&](uint32_t n) {
      for (uint32_t i = 0; i < n; ++i, ++added) {
        ASSERT_TRUE(writer.AddFrame(NumberedFrame(bytes, added).data(), bytes));
        // Between updates (a kill now): at least the frames of the last update, none unwritten.
        const std::vector<uint8_t> now = ReadFileBytes(path);
        const uint32_t playable = PlayableFrames(now, bytes);
        ASSERT_EQ(playable, writer.CountedFrames());
        ASSERT_GE(playable, atLastUpdate);
        ASSERT_LE(playable, added + 1);
      }
    };
    for (uint32_t n : plan.framesBetweenUpdates) {
      addFrames(n);
      ASSERT_TRUE(writer.Update());
      atLastUpdate = added;
      ASSERT_EQ(writer.CountedFrames(), added);
      const std::vector<uint8_t> updated = ReadFileBytes(path);
      ASSERT_EQ(PlayableFrames(updated, bytes), added);
      EXPECT_EQ(Le32(&updated[44]), 0x10030u) << "the provisional header asks for the index";
    }
    addFrames(plan.framesAfterLastUpdate);
#ifndef _WIN32
    // The file as a kill leaves it: ffprobe's header count and decoded frames are the counted ones.
    std::filesystem::copy_file(path, dir.File("killed.avi"));
    EXPECT_EQ(ProbeCounts(dir.File("killed.avi")),
              std::make_pair(static_cast<int>(writer.CountedFrames()), static_cast<int>(writer.CountedFrames())));
#endif
    ASSERT_TRUE(writer.Finish(2500));

    // Finished: byte for byte what the same frames give without any update.
    const std::string plain = dir.File("plain.avi");
    AviWriter reference;
    ASSERT_TRUE(reference.Create(plain.c_str(), plan.w, plan.h));
    for (uint32_t i = 0; i < added; ++i) ASSERT_TRUE(reference.AddFrame(NumberedFrame(bytes, i).data(), bytes));
    ASSERT_TRUE(reference.Finish(2500));
    const std::vector<uint8_t> finished = ReadFileBytes(path);
    EXPECT_EQ(PlayableFrames(finished, bytes), added);
    EXPECT_TRUE(finished == ReadFileBytes(plain)) << "finished files differ";
  }
}

// Past the RIFF limit: after every update the super index counts every frame so far, at every moment at
// least the frames of the last update, and the finished file is the one a recording never updated gives.
TEST(AviUpdateTest, PastTheRiffLimitTheFileCountsEveryFrameUpToTheLastUpdate) {
  struct Case {
    int w, h;
    uint64_t limit;
    uint32_t superIndexEntries, frames, updateEvery;
    uint32_t checkEvery;  // updates between looks at the file (0: after every frame)
    uint32_t minimumRiffs;
  };
  const Case cases[] = {
      {15, 8, 16 * 1024, 16, 150, 4, 0, 3},        // two frames move to make room for the header
      {2, 1, 8 * 1024, 16, 1500, 37, 0, 4},        // tiny frames: 36 of them move
      {32, 32, 20 * 1024, 300, 2000, 3, 50, 241},  // super index entries beyond the header's first page
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.w);
    TempDir dir("aviupdateodml");
    const std::string path = dir.File("long.avi"), plain = dir.File("plain.avi");
    AviWriter writer(c.limit, c.superIndexEntries), reference(c.limit, c.superIndexEntries);
    ASSERT_TRUE(writer.Create(path.c_str(), c.w, c.h));
    ASSERT_TRUE(reference.Create(plain.c_str(), c.w, c.h));
    const size_t bytes = writer.FrameBytes();
    uint32_t atLastUpdate = 0, updates = 0;
    for (uint32_t i = 0; i < c.frames; ++i) {
      ASSERT_TRUE(writer.AddFrame(NumberedFrame(bytes, i).data(), bytes));
      ASSERT_TRUE(reference.AddFrame(NumberedFrame(bytes, i).data(), bytes));
      const bool update = (i + 1) % c.updateEvery == 0;
      if (update) {
        ASSERT_TRUE(writer.Update());
        atLastUpdate = i + 1;
        ++updates;
        ASSERT_EQ(writer.CountedFrames(), atLastUpdate);
      }
      if (!writer.IsOpenDml() || (c.checkEvery != 0 && !(update && updates % c.checkEvery == 0))) continue;
      // The file as a kill now leaves it.
      const std::vector<uint8_t> now = ReadFileBytes(path);
      ASSERT_EQ(OpenDmlFrames(now, bytes), writer.CountedFrames());
      ASSERT_GE(writer.CountedFrames(), atLastUpdate);
      EXPECT_EQ(Le32(&now[44]), 0x10030u) << "the provisional header asks for the index";
    }
    const std::vector<uint8_t> last = ReadFileBytes(path);
    const uint64_t indx = test::FindOpenDmlHeader(last).indx;
    ASSERT_NE(indx, 0u);
    EXPECT_GE(Le32(&last[indx + 12]), c.minimumRiffs);
    EXPECT_EQ(OpenDmlFrames(last, bytes), atLastUpdate);
#ifndef _WIN32
    std::filesystem::copy_file(path, dir.File("killed.avi"));
    const int counted = static_cast<int>(atLastUpdate);
    EXPECT_EQ(ProbeCounts(dir.File("killed.avi")), std::make_pair(counted, counted));
    EXPECT_TRUE(FfmpegPlaysInOrder(dir.File("killed.avi"), bytes, atLastUpdate));
#endif
    ASSERT_TRUE(writer.Finish(1500));
    ASSERT_TRUE(reference.Finish(1500));
    const std::vector<uint8_t> finished = ReadFileBytes(path);
    EXPECT_EQ(OpenDmlFrames(finished, bytes), c.frames);
    EXPECT_TRUE(finished == ReadFileBytes(plain)) << "finished files differ";
#ifndef _WIN32
    EXPECT_TRUE(FfmpegPlaysInOrder(path, bytes, c.frames));
#endif
  }
}

#ifndef _WIN32
constexpr const char* kCrashFileVariable = "ORVANE_TEST_AVI_CRASH_FILE";

// The child of the crash test (run only by it): records small frames through many RIFFs, brought up to
// date every few frames, until it is killed (or its super index is full; then it waits to be killed).
TEST(AviUpdateChild, DISABLED_RecordsUntilKilled) {
  const char* file = std::getenv(kCrashFileVariable);
  if (file == nullptr) GTEST_SKIP() << "run by the crash test";
  // A super index whose header fits one page: every update's header is then one write of one page,
  // which a kill cannot tear (longer headers can tear inside the system's copy, see avi_writer.h).
  AviWriter writer(16 * 1024, 200);
  ASSERT_TRUE(writer.Create(file, 15, 8));
  const size_t bytes = writer.FrameBytes();
  for (uint32_t i = 0; writer.AddFrame(NumberedFrame(bytes, i).data(), bytes); ++i) {
    if (i % 5 == 4) {
      ASSERT_TRUE(writer.Update());
    }
  }
  ASSERT_TRUE(writer.Update());
  std::this_thread::sleep_for(std::chrono::seconds(300));  // the parent kills it long before
  ADD_FAILURE() << "not killed";
}

// A process killed (SIGKILL) while recording past the RIFF limit leaves a file whose headers and index
// count the frames up to its last update, in order, and ffprobe counts and decodes as many.
TEST(AviUpdateCrash, AKilledRecordingPastTheRiffLimitKeepsTheFramesUpToTheLastUpdate) {
  if (!std::filesystem::exists("/usr/bin/ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  TempDir dir("avicrash");
  const std::string path = dir.File("killed.avi");
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  env.push_back(std::string(kCrashFileVariable) + "=" + path);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string exe = "/proc/self/exe", filter = "--gtest_filter=AviUpdateChild.DISABLED_RecordsUntilKilled",
              disabled = "--gtest_also_run_disabled_tests";
  char* argv[] = {exe.data(), filter.data(), disabled.data(), nullptr};
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, exe.c_str(), nullptr, nullptr, argv, envp.data()), 0);
  // Kill it once an update has counted frames past the first RIFF (stream length above the main
  // header's count), at most after a minute.
  uint32_t seen = 0;
  for (int i = 0; i < 3000 && seen == 0; ++i) {
    std::ifstream in(path, std::ios::binary);
    uint8_t head[144] = {};
    if (in.read(reinterpret_cast<char*>(head), sizeof(head)) && Le32(&head[140]) > Le32(&head[48])) {
      seen = Le32(&head[140]);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ASSERT_EQ(kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child ended before the kill";
  ASSERT_GT(seen, 0u) << "no update past the first RIFF within a minute";

  const uint32_t frames = OpenDmlFrames(ReadFileBytes(path), 384);
  EXPECT_GE(frames, seen);
  EXPECT_EQ(ProbeCounts(path), std::make_pair(static_cast<int>(frames), static_cast<int>(frames)));
  EXPECT_TRUE(FfmpegPlaysInOrder(path, 384, frames));
}
#endif

}  // namespace
}  // namespace orvane::output
