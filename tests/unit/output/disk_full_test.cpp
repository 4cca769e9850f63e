// Short writes: the file size limit makes writes past it fail as a full disk does.
#include <gtest/gtest.h>

#include "file_size_limit.h"
#include "output/avi_writer.h"
#include "output/image_file_writer.h"
#include "output_test_util.h"

namespace orvane::output {
namespace {

using test::FileSizeLimit;

TEST(DiskFullTest, EveryImageFormFailsOnAShortWrite) {
  test::TempDir dir("full");
  image::DibImage frame;
  ASSERT_TRUE(frame.Create(400, 300, 24));
  test::FillFrame(frame, 4);  // noise: the compressed forms stay large
  FileSizeLimit limit(8192);
  if (!limit.Applied()) GTEST_SKIP() << "file size limit not permitted";
  for (int code = kFileTypeBmp; code <= kFileTypeTiff; ++code) {
    EXPECT_FALSE(ImageFileWriter::Write(dir.File("f" + std::to_string(code)).c_str(), frame, code)) << code;
  }
}

TEST(DiskFullTest, AviWriteErrorFailsAndTheHeaderIsStillPatched) {
  test::TempDir dir("avifull");
  const std::string path = dir.File("r.avi");
  AviWriter writer;
  FileSizeLimit limit(64 * 1024);
  if (!limit.Applied()) GTEST_SKIP() << "file size limit not permitted";
  ASSERT_TRUE(writer.Create(path.c_str(), 64, 32));
  std::vector<uint8_t> frame(writer.FrameBytes(), 0x5A);
  uint32_t added = 0;
  while (added < 1000 && writer.AddFrame(frame.data(), frame.size())) ++added;
  ASSERT_LT(added, 1000u);
  EXPECT_FALSE(writer.AddFrame(frame.data(), frame.size()));  // refused after a failed write
  EXPECT_FALSE(writer.Finish(2500));
  const std::vector<uint8_t> f = test::ReadFileBytes(path);
  ASSERT_GE(f.size(), 232u);
  EXPECT_EQ(test::Le32(&f[48]), added);
  EXPECT_EQ(test::Le32(&f[140]), added);
  EXPECT_EQ(test::Le32(&f[32]), 40000u);
}

}  // namespace
}  // namespace orvane::output
