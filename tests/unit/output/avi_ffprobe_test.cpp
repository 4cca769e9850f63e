// A common reader's view of the recordings: ffprobe (FFmpeg) reads every frame of a plain and of an
// OpenDML file. Skipped where ffprobe is not installed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "output/avi_writer.h"
#include "output_test_util.h"

namespace orvane::output {
namespace {

constexpr const char* kFfprobe = "/usr/bin/ffprobe";

int FfprobeFrameCount(const std::string& path) {
  const std::string cmd = std::string(kFfprobe) +
                          " -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames"
                          " -of csv=p=0 '" + path + "'";
  std::FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return -1;
  char line[64] = {};
  const bool read = std::fgets(line, sizeof(line), p) != nullptr;
  pclose(p);
  return read ? std::atoi(line) : -1;
}

TEST(AviFfprobeTest, PlainAndOpenDmlRecordingsReadEveryFrame) {
  if (!std::filesystem::exists(kFfprobe)) GTEST_SKIP() << "ffprobe not installed";
  struct Case {
    const char* what;
    uint32_t frames;
    bool openDml;
  };
  for (const Case& c : {Case{"plain", 20, false}, Case{"OpenDML", 200, true}}) {
    SCOPED_TRACE(c.what);
    test::TempDir dir("ffprobe");
    const std::string path = dir.File("r.avi");
    AviWriter writer(16 * 1024, 16);
    ASSERT_TRUE(writer.Create(path.c_str(), 15, 8));
    std::vector<uint8_t> frame(writer.FrameBytes());
    for (uint32_t i = 0; i < c.frames; ++i) {
      std::memset(frame.data(), static_cast<int>(i), frame.size());
      ASSERT_TRUE(writer.AddFrame(frame.data(), frame.size()));
    }
    EXPECT_EQ(writer.IsOpenDml(), c.openDml);
    ASSERT_TRUE(writer.Finish(2500));
    EXPECT_EQ(FfprobeFrameCount(path), static_cast<int>(c.frames));
  }
}

}  // namespace
}  // namespace orvane::output
