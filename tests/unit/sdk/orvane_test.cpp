// The SDK object on its own: configuration table, wide-string results and the no-device paths
// that the exports cannot observe directly.
#include "sdk/orvane.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "../unusual_files.h"

namespace {

std::filesystem::path TempFile(const std::string& name, const std::string& bytes) {
  auto path = std::filesystem::temp_directory_path() / ("orvane_sdk_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" + name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

TEST(OrvaneConfigFile, EightByteEntriesAreReadAndTheRemainderIsIgnored) {
  COrvane sdk;
  std::string bytes = {1, 0, 0, 0, 2, 0, 0, 0, '\xFF', '\xFF', '\xFF', '\xFF', 0, 1, 0, 0, 9, 9, 9, 9};
  auto path = TempFile("cfg20", bytes);
  EXPECT_EQ(sdk.LoadConfigFileA(path.string().c_str()), 1);
  using Table = std::vector<std::pair<int32_t, int32_t>>;
  EXPECT_EQ(sdk.ConfigTable(), (Table{{1, 2}, {-1, 256}}));
  // A missing file changes nothing and is not reported; a reload replaces the table.
  EXPECT_EQ(sdk.LoadConfigFileA((path.string() + ".missing").c_str()), 0);
  EXPECT_EQ(sdk.ConfigTable().size(), 2u);
  EXPECT_EQ(sdk.GetLastError(), 0);
  auto empty = TempFile("cfg0", "");
  EXPECT_EQ(sdk.LoadConfigFileA(empty.string().c_str()), 1);
  EXPECT_TRUE(sdk.ConfigTable().empty());
  std::filesystem::remove(path);
  std::filesystem::remove(empty);
}

#ifndef _WIN32
TEST(OrvaneConfigFile, OnlyARegularFileWithinTheSizeLimitIsReadAndNothingElseBlocks) {
  orvane::test::SpecialFiles files;
  const std::string good = files.Sized("good", 16, std::string(16, '\x01'));
  const struct {
    const char* what;
    std::string path;
  } kRefused[] = {{"directory", files.Directory()},
                  {"zero device", files.ZeroDevice()},
                  {"fifo", files.Fifo()},
                  {"larger than any configuration", files.Sized("huge", (16u << 20) + 8)}};
  for (const auto& refused : kRefused) {
    COrvane sdk;
    ASSERT_EQ(sdk.LoadConfigFileA(good.c_str()), 1);
    int result = -1;
    EXPECT_TRUE(files.ReturnsWithoutBlocking([&] { result = sdk.LoadConfigFileA(refused.path.c_str()); }))
        << refused.what;
    EXPECT_EQ(result, 0) << refused.what;
    EXPECT_EQ(sdk.ConfigTable().size(), 2u) << refused.what;  // the table of the last good load stays
    EXPECT_EQ(sdk.GetLastError(), 0) << refused.what;        // refused as a file that cannot be opened
  }
  COrvane sdk;
  EXPECT_EQ(sdk.LoadConfigFileA(files.Sized("limit", 16u << 20).c_str()), 1);  // exactly the limit
  EXPECT_EQ(sdk.ConfigTable().size(), (16u << 20) / 8);
}
#endif

TEST(OrvaneWideResult, FitsExactlyWithItsTerminatorOrIsError12AndWritesNothing) {
  COrvane sdk;
  ORVANE_WCHAR out[6];
  for (auto& c : out) c = 0x7777;
  EXPECT_FALSE(sdk.ConvertResult("abcdef", out, 6));  // one character short
  for (auto c : out) EXPECT_EQ(c, 0x7777);
  EXPECT_EQ(sdk.GetLastError(), ORVANE_ERR_CONVERSION);
  EXPECT_TRUE(sdk.ConvertResult("abcde", out, 6));
  EXPECT_EQ(out[4], u'e');
  EXPECT_EQ(out[5], 0);
  EXPECT_EQ(sdk.GetLastError(), 0);
}

TEST(OrvaneWideArgument, LoneSurrogateOrMoreThan1023BytesIsError12) {
  COrvane sdk;
  std::array<char, COrvane::kTextBufferSize> out;
  const ORVANE_WCHAR lone[] = {u'a', 0xD800, u'b', 0};
  EXPECT_FALSE(sdk.ConvertArgument(lone, out));
  EXPECT_EQ(sdk.GetLastError(), ORVANE_ERR_CONVERSION);
  std::u16string fits(1023, u'x'), tooLong(1024, u'x');
  EXPECT_TRUE(sdk.ConvertArgument(reinterpret_cast<const ORVANE_WCHAR*>(fits.c_str()), out));
  EXPECT_EQ(std::string(out.data()).size(), 1023u);
  EXPECT_FALSE(sdk.ConvertArgument(reinterpret_cast<const ORVANE_WCHAR*>(tooLong.c_str()), out));
  EXPECT_EQ(sdk.GetLastError(), ORVANE_ERR_CONVERSION);
}

TEST(OrvaneWithoutDevice, OperationsBeforeSetupFailWithError1) {
  COrvane sdk;  // no device object until setup
  EXPECT_EQ(sdk.StartPreview(), 0);
  EXPECT_EQ(sdk.GetLastError(), ORVANE_ERR_NOT_NOW);
  EXPECT_EQ(sdk.SetFilterValue(ORVANE_FILTER_BRIGHTNESS, 1), 0);
  EXPECT_EQ(sdk.GetLastError(), ORVANE_ERR_NOT_NOW);
  EXPECT_EQ(sdk.GetLastError(), 0);
}

}  // namespace
