#include "output/avi_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>

#include "avi_test_reader.h"
#include "output/avi_frame.h"
#include "output_test_util.h"

namespace orvane::output {
namespace {

using test::Chunk;
using test::Children;
using test::Find;
using test::FrameNumber;
using test::Fourcc;
using test::Le32;
using test::NumberedFrame;
using test::ReadFileBytes;
using test::TempDir;

// The header up to "movi" as laid out for a W × H recording (F = chunk size + 8, nominal 30 fps).
std::vector<uint8_t> ExpectedHeader(uint32_t w, uint32_t h, uint32_t frameBytes, uint32_t frames,
                                    uint32_t usPerFrame, uint32_t scale, uint32_t fileSize, uint32_t moviSize) {
  const uint32_t f = frameBytes + 8;
  const std::map<uint32_t, uint32_t> words = {
      {4, fileSize - 8}, {16, 200}, {28, 56}, {32, usPerFrame}, {36, f * 30}, {40, 0}, {44, 0x10010},
      {48, frames}, {52, 0}, {56, 1}, {60, f}, {64, w}, {68, h}, {92, 124}, {104, 64}, {116, 0}, {120, 0},
      {124, 0}, {128, scale}, {132, 10000000}, {136, 0}, {140, frames}, {144, f}, {148, 0}, {152, 0},
      {176, 40}, {180, 40}, {184, w}, {188, h}, {192, 1 | (24u << 16)}, {224, moviSize}};
  const std::map<uint32_t, const char*> tags = {{0, "RIFF"},   {8, "AVI "},   {12, "LIST"}, {20, "hdrl"},
                                                {24, "avih"},  {88, "LIST"},  {96, "strl"}, {100, "strh"},
                                                {108, "vids"}, {112, "DIB "}, {172, "strf"}, {220, "LIST"},
                                                {228, "movi"}};
  std::vector<uint8_t> out(232, 0);
  for (auto [at, v] : words) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  for (auto [at, cc] : tags) std::memcpy(&out[at], cc, 4);
  return out;
}

struct Recorded {
  std::vector<uint8_t> file;
  size_t frameBytes = 0;
};

Recorded Record(const TempDir& dir, int w, int h, uint32_t frames, uint32_t rate, AviWriter writer = AviWriter()) {
  Recorded r;
  const std::string path = dir.File("r.avi");
  EXPECT_TRUE(writer.Create(path.c_str(), w, h));
  r.frameBytes = writer.FrameBytes();
  for (uint32_t i = 0; i < frames; ++i) {
    EXPECT_TRUE(writer.AddFrame(NumberedFrame(r.frameBytes, i).data(), r.frameBytes));
  }
  EXPECT_TRUE(writer.Finish(rate));
  r.file = ReadFileBytes(path);
  return r;
}

TEST(AviWriterTest, SmallRecordingMatchesTheLayoutByteForByte) {
  struct Case {
    int w, h;
    uint32_t frameBytes;  // rows padded to 4 bytes
  };
  for (const Case& c : {Case{8, 4, 96}, Case{5, 3, 48}, Case{7, 2, 48}}) {
    SCOPED_TRACE(c.w);
    TempDir dir("avi");
    const uint32_t frames = 3;
    const Recorded r = Record(dir, c.w, c.h, frames, 2500);
    ASSERT_EQ(r.frameBytes, c.frameBytes);
    const uint32_t chunk = c.frameBytes + 8;
    const uint32_t fileSize = 232 + frames * chunk + 8 + 16 * frames;
    ASSERT_EQ(r.file.size(), fileSize);
    // 25.00 fps: 40000 µs per frame, scale 400000 against rate 10,000,000.
    const std::vector<uint8_t> expected = ExpectedHeader(c.w, c.h, c.frameBytes, frames, 40000, 400000, fileSize,
                                                         4 + frames * chunk);
    EXPECT_EQ(std::vector<uint8_t>(r.file.begin(), r.file.begin() + 232), expected);

    const uint8_t* idx = &r.file[232 + frames * chunk];
    ASSERT_EQ(Fourcc(idx), "idx1");
    ASSERT_EQ(Le32(idx + 4), 16 * frames);
    for (uint32_t i = 0; i < frames; ++i) {
      const uint8_t* e = idx + 8 + 16 * i;
      EXPECT_EQ(Fourcc(e), "00db");
      EXPECT_EQ(Le32(e + 4), 0x10u);
      EXPECT_EQ(Le32(e + 8), 4 + i * chunk);
      EXPECT_EQ(Le32(e + 12), c.frameBytes);
      const uint8_t* chunkAt = &r.file[228 + Le32(e + 8)];
      EXPECT_EQ(Fourcc(chunkAt), "00db");
      EXPECT_EQ(Le32(chunkAt + 4), c.frameBytes);
      EXPECT_EQ(0, std::memcmp(chunkAt + 8, NumberedFrame(c.frameBytes, i).data(), c.frameBytes));
    }
  }
}

TEST(AviWriterTest, ZeroRateKeepsTheNominalRate) {
  TempDir dir("avizero");
  const Recorded r = Record(dir, 4, 4, 1, 0);
  EXPECT_EQ(Le32(&r.file[32]), 33333u);
  EXPECT_EQ(Le32(&r.file[128]), 333333u);
}

TEST(AviWriterTest, RefusesBadSizesAndFramesOfAnotherSize) {
  TempDir dir("avibad");
  AviWriter writer;
  EXPECT_FALSE(writer.Create(dir.File("a.avi").c_str(), 0, 4));
  EXPECT_FALSE(writer.Create(dir.File("a.avi").c_str(), 4, -2));
  EXPECT_FALSE(writer.Create("", 4, 4));
  EXPECT_FALSE(writer.Create(dir.File("missing/a.avi").c_str(), 4, 4));
  std::vector<uint8_t> frame(48);
  EXPECT_FALSE(writer.AddFrame(frame.data(), frame.size()));  // not open
  EXPECT_FALSE(writer.Finish(3000));
  ASSERT_TRUE(writer.Create(dir.File("a.avi").c_str(), 4, 4));
  EXPECT_FALSE(writer.AddFrame(frame.data(), frame.size() - 1));
  EXPECT_FALSE(writer.AddFrame(nullptr, frame.size()));
  EXPECT_TRUE(writer.AddFrame(frame.data(), frame.size()));
  EXPECT_TRUE(writer.Finish(3000));
  EXPECT_EQ(ReadFileBytes(dir.File("a.avi")).size(), 232u + 56 + 8 + 16);
}

// ---- OpenDML past the RIFF limit ----

TEST(AviWriterTest, PastTheRiffLimitTheFileBecomesOpenDmlWithEveryFrameIndexedInOrder) {
  TempDir dir("odml");
  constexpr uint64_t kLimit = 16 * 1024;
  constexpr uint32_t kFrames = 200;
  const std::string path = dir.File("long.avi");
  AviWriter writer(kLimit, 16);
  ASSERT_TRUE(writer.Create(path.c_str(), 15, 8));  // 45-byte rows padded to 48
  const size_t frameBytes = writer.FrameBytes();
  ASSERT_EQ(frameBytes, 384u);
  for (uint32_t i = 0; i < kFrames; ++i) ASSERT_TRUE(writer.AddFrame(NumberedFrame(frameBytes, i).data(), frameBytes));
  EXPECT_TRUE(writer.IsOpenDml());
  ASSERT_TRUE(writer.Finish(1500));
  const std::vector<uint8_t> f = ReadFileBytes(path);

  // Top level: RIFF AVI, then RIFF AVIX ones, each within the limit, covering the whole file.
  const std::vector<Chunk> riffs = Children(f, 0, f.size());
  ASSERT_GE(riffs.size(), 3u);
  uint64_t covered = 0;
  for (size_t i = 0; i < riffs.size(); ++i) {
    EXPECT_EQ(riffs[i].id, "RIFF");
    EXPECT_EQ(Fourcc(&f[riffs[i].pos + 8]), i == 0 ? "AVI " : "AVIX");
    // The first RIFF is closed when its AVI 1.0 form would pass the limit; the first frames copied to make
    // room for the OpenDML header (16 super index entries, rounded up to whole chunks) and its standard
    // index come on top.
    const uint64_t slack = i == 0 ? (8 + 24 + 16 * 16 + 268) + 392 + 32 + 8 * (riffs[i].size / 392) : 0;
    EXPECT_LE(riffs[i].size + 8u, kLimit + slack);
    covered += 8 + riffs[i].size;
  }
  EXPECT_EQ(covered, f.size());

  // Headers: hdrl with avih, strl (strh, strf, indx) and odml/dmlh.
  const std::vector<Chunk> top = Children(f, 12, riffs[0].pos + 8 + riffs[0].size);
  const Chunk* hdrl = Find(top, "LIST", f, "hdrl");
  ASSERT_NE(hdrl, nullptr);
  const std::vector<Chunk> hdrlKids = Children(f, hdrl->pos + 12, hdrl->pos + 8 + hdrl->size);
  const Chunk* strl = Find(hdrlKids, "LIST", f, "strl");
  const Chunk* odml = Find(hdrlKids, "LIST", f, "odml");
  ASSERT_NE(strl, nullptr);
  ASSERT_NE(odml, nullptr);
  EXPECT_EQ(Fourcc(&f[odml->pos + 12]), "dmlh");
  EXPECT_EQ(Le32(&f[odml->pos + 20]), kFrames);
  const std::vector<Chunk> strlKids = Children(f, strl->pos + 12, strl->pos + 8 + strl->size);
  const Chunk* strh = Find(strlKids, "strh", f);
  const Chunk* indx = Find(strlKids, "indx", f);
  ASSERT_NE(strh, nullptr);
  ASSERT_NE(indx, nullptr);
  EXPECT_EQ(Le32(&f[strh->pos + 8 + 32]), kFrames);  // stream length: the whole recording
  EXPECT_EQ(Le32(&f[strh->pos + 8 + 20]), 1000000000u / 1500);
  EXPECT_EQ(Le32(&f[32]), 100000000u / 1500);

  // Super index → standard indexes → "00db" chunks of the right size, frames 0, 1, 2, ... in order.
  ASSERT_GE(Le32(&f[indx->pos + 12]), 3u);
  EXPECT_EQ(test::OpenDmlFrames(f, frameBytes), kFrames);

  // The first RIFF stays a valid AVI 1.0 file: its idx1 points at its own frames, counted in avih.
  const Chunk* movi = Find(top, "LIST", f, "movi");
  const Chunk* idx1 = Find(top, "idx1", f);
  ASSERT_NE(movi, nullptr);
  ASSERT_NE(idx1, nullptr);
  EXPECT_EQ(Le32(&f[48]), idx1->size / 16);
  for (uint32_t i = 0; i < idx1->size / 16; ++i) {
    const uint8_t* e = &f[idx1->pos + 8 + 16 * i];
    const uint64_t at = movi->pos + 8 + Le32(e + 8);
    ASSERT_LT(at, movi->pos + 8 + movi->size);
    ASSERT_EQ(Fourcc(&f[at]), "00db");
    ASSERT_EQ(Le32(e + 12), frameBytes);
    EXPECT_EQ(FrameNumber(&f[at + 8]), i);  // in recording order
  }
}

// Waiting for the disk and dropping written frames from the cache changes no byte: a recording that
// crosses into OpenDML (its first frames read back from the file after they were dropped) with updates
// between the frames is the same with a window of one byte (every frame but the newest waited for and
// dropped) as with no waiting at all, and every frame is indexed in order.
TEST(AviWriterTest, WritingBehindTheFramesChangesNoByte) {
  TempDir dir("behind");
  std::vector<uint8_t> files[2];
  const uint64_t windows[2] = {1, UINT64_MAX};
  for (int i = 0; i < 2; ++i) {
    AviWriter writer(256 * 1024, 16, windows[i]);
    const std::string path = dir.File("behind.avi");
    ASSERT_TRUE(writer.Create(path.c_str(), 64, 64));  // three pages a frame
    const size_t frameBytes = writer.FrameBytes();
    for (uint32_t n = 0; n < 90; ++n) {
      ASSERT_TRUE(writer.AddFrame(NumberedFrame(frameBytes, n).data(), frameBytes));
      if (n % 7 == 3) {
        ASSERT_TRUE(writer.Update());
      }
    }
    EXPECT_TRUE(writer.IsOpenDml());
    ASSERT_TRUE(writer.Finish(2500));
    files[i] = ReadFileBytes(path);
    EXPECT_EQ(test::OpenDmlFrames(files[i], frameBytes), 90u);
  }
  EXPECT_TRUE(files[0] == files[1]);
}

TEST(AviWriterTest, AFullSuperIndexRefusesFurtherFrames) {
  TempDir dir("odmlfull");
  AviWriter writer(16 * 1024, 4);
  const std::string path = dir.File("full.avi");
  ASSERT_TRUE(writer.Create(path.c_str(), 15, 8));
  const size_t frameBytes = writer.FrameBytes();
  uint32_t added = 0;
  while (added < 10000 && writer.AddFrame(NumberedFrame(frameBytes, added).data(), frameBytes)) ++added;
  EXPECT_LT(added, 10000u);
  EXPECT_TRUE(writer.Finish(2500));
  const std::vector<uint8_t> f = ReadFileBytes(path);
  EXPECT_EQ(Le32(&f[140]), added);
  const std::vector<Chunk> riffs = Children(f, 0, f.size());
  uint64_t covered = 0;
  for (const Chunk& c : riffs) covered += 8 + c.size;
  EXPECT_EQ(covered, f.size());
}

}  // namespace
}  // namespace orvane::output
