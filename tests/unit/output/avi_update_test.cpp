// A recording brought up to date while it runs: at every moment the file on disk is whole, counts the
// frames up to the last update (a process killed then leaves exactly those readable), and the finished
// file is the one a recording never updated gives.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "avi_test_reader.h"
#include "output/avi_writer.h"
#include "output_test_util.h"

namespace orvane::output {
namespace {

using test::Fourcc;
using test::Le32;
using test::NumberedFrame;
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

TEST(AviUpdateTest, PastTheRiffLimitTheFirstRiffStaysCountedAndTheFinishedFileIsUnchanged) {
  TempDir dir("aviupdateodml");
  constexpr uint64_t kLimit = 16 * 1024;
  const std::string path = dir.File("long.avi"), plain = dir.File("plain.avi");
  AviWriter writer(kLimit, 16), reference(kLimit, 16);
  ASSERT_TRUE(writer.Create(path.c_str(), 15, 8));
  ASSERT_TRUE(reference.Create(plain.c_str(), 15, 8));
  const size_t bytes = writer.FrameBytes();
  uint32_t firstRiff = 0;
  for (uint32_t i = 0; i < 120; ++i) {
    ASSERT_TRUE(writer.AddFrame(NumberedFrame(bytes, i).data(), bytes));
    ASSERT_TRUE(reference.AddFrame(NumberedFrame(bytes, i).data(), bytes));
    if (i % 4 == 3) {
      ASSERT_TRUE(writer.Update());
    }
    if (!writer.IsOpenDml()) continue;
    if (firstRiff == 0) firstRiff = writer.CountedFrames();
    // The first RIFF, played through its own index, with its frame count in the header.
    ASSERT_EQ(PlayableFrames(ReadFileBytes(path), bytes), firstRiff);
  }
  ASSERT_TRUE(writer.IsOpenDml());
  EXPECT_GT(firstRiff, 20u);
#ifndef _WIN32
  std::filesystem::copy_file(path, dir.File("killed.avi"));
  EXPECT_EQ(ProbeCounts(dir.File("killed.avi")), std::make_pair(static_cast<int>(firstRiff), static_cast<int>(firstRiff)));
#endif
  ASSERT_TRUE(writer.Finish(1500));
  ASSERT_TRUE(reference.Finish(1500));
  EXPECT_TRUE(ReadFileBytes(path) == ReadFileBytes(plain)) << "finished files differ";
}

}  // namespace
}  // namespace orvane::output
