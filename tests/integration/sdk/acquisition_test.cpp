// Preview, frame messages, snapshots and image copies through the exported API, against one
// virtual camera.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "OrvaneSdk.h"
#include "one_camera.h"

namespace {

class Camera : public OneCameraTest {};

TEST_F(Camera, OneConnectedCameraIsListedAndOpened) {
  char names[10][256];
  EXPECT_EQ(Orvane_EnumDevice(handle_, names), 1);
  EXPECT_STREQ(names[0], "OrvaneKD7-USB3-R5_01");
  EXPECT_STREQ(names[1], "");
  char name[32];
  EXPECT_EQ(Orvane_GetDeviceName(handle_, 0, name, sizeof(name)), 1);
  EXPECT_STREQ(name, "OrvaneKD7-USB3-R5_01");
  char serial[32];
  EXPECT_EQ(Orvane_ReadSerialNumberA(handle_, serial, sizeof(serial)), 1);
  EXPECT_STREQ(serial, "SIM00001");
  EXPECT_EQ(Orvane_GetLastError(handle_), 0);
}

TEST_F(Camera, CallBackPreviewDeliversFramesIntoTheApplicationBuffer) {
  ASSERT_EQ(Orvane_SetColorMode(handle_, 24), 1);
  std::vector<unsigned char> buffer(4000 * 3 * 3000);
  ASSERT_EQ(Orvane_CallBackPreview(handle_, window_.handle(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
  for (int i = 0; i < 3; ++i) {
    TakenMessage m = NextFrameMessage();
    ASSERT_NE(m.wParam, 0u) << "frame failure " << m.lParam;
    EXPECT_EQ(m.lParam, 0);
    const auto* info = reinterpret_cast<const OrvaneFrameInfo*>(m.wParam);
    EXPECT_EQ(ReadShared(info->reserved0), 0);
    EXPECT_EQ(ReadShared(info->width), 4000);
    EXPECT_EQ(ReadShared(info->height), 3000);
    EXPECT_EQ(ReadShared(info->bitsPerPixel), 24);
    EXPECT_EQ(ReadShared(info->reserved1), 0);
    EXPECT_EQ(ReadShared(info->buffer), buffer.data());
  }
  EXPECT_EQ(Orvane_StartPreview(handle_), 1);  // already previewing: one thread
  unsigned char small[16];
  EXPECT_EQ(Orvane_SnapShot(handle_, small, sizeof(small), 1), 0);
  EXPECT_EQ(Orvane_GetLastError(handle_), 1);
  EXPECT_EQ(Orvane_Capture(handle_), 0);
  EXPECT_EQ(Orvane_GetLastError(handle_), 1);
  EXPECT_EQ(Orvane_StopPreview(handle_), 1);

  // The static scene gives identical frames: the copy equals what the preview delivered.
  std::vector<unsigned char> copy(buffer.size());
  ASSERT_EQ(Orvane_GetImage(handle_, copy.data(), static_cast<int>(copy.size()), 1), 1);
  EXPECT_EQ(copy, buffer);
  std::vector<unsigned char> reversed(buffer.size());
  ASSERT_EQ(Orvane_GetImage(handle_, reversed.data(), static_cast<int>(reversed.size()), 0), 1);
  const size_t row = 4000 * 3;
  for (size_t y : {size_t{0}, size_t{1}, size_t{1499}, size_t{2999}}) {
    EXPECT_EQ(std::memcmp(reversed.data() + y * row, copy.data() + (2999 - y) * row, row), 0) << y;
  }
  EXPECT_NE(copy, reversed);
  EXPECT_EQ(Orvane_GetLastError(handle_), 0);
}

TEST_F(Camera, ABufferOneByteTooSmallGivesError5PerFrame) {
  ASSERT_EQ(Orvane_SetColorMode(handle_, 8), 1);
  std::vector<unsigned char> buffer(4000 * 3000 - 1);
  ASSERT_EQ(Orvane_CallBackPreview(handle_, window_.handle(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
  for (int i = 0; i < 2; ++i) {
    TakenMessage m = NextFrameMessage();
    EXPECT_EQ(m.wParam, 0u);
    EXPECT_EQ(m.lParam, 5);
  }
  std::vector<unsigned char> copy(4000 * 3000);
  EXPECT_EQ(Orvane_GetImage(handle_, copy.data(), static_cast<int>(copy.size()), 1), 1);  // still works
  EXPECT_EQ(Orvane_StopPreview(handle_), 1);
  EXPECT_EQ(Orvane_GetLastError(handle_), 5);
}

struct ModeSize {
  int bits;
  int rowBytes;
};

TEST_F(Camera, SnapshotsInEveryColourModeHaveTheirSizes) {
  for (ModeSize mode : {ModeSize{8, 4000}, ModeSize{16, 8000}, ModeSize{24, 12000}, ModeSize{32, 16000},
                        ModeSize{48, 24000}, ModeSize{64, 32000}}) {
    SCOPED_TRACE(mode.bits);
    ASSERT_EQ(Orvane_SetColorMode(handle_, mode.bits), 1);
    size_t size = static_cast<size_t>(mode.rowBytes) * 3000;
    std::vector<unsigned char> buffer(size, 0xEE);
    EXPECT_EQ(Orvane_SnapShot(handle_, buffer.data(), static_cast<int>(size) - 1, 1), 0);
    EXPECT_EQ(Orvane_GetLastError(handle_), 5);  // the copy's and the snapshot's own report
    EXPECT_EQ(Orvane_GetLastError(handle_), 5);
    ASSERT_EQ(Orvane_SnapShot(handle_, buffer.data(), static_cast<int>(size), 1), 1);
    EXPECT_EQ(Orvane_GetLastError(handle_), 0);
    size_t nonZero = 0;
    for (size_t i = 0; i < size; i += 997) nonZero += buffer[i] != 0 && buffer[i] != 0xEE;
    EXPECT_GT(nonZero, size / 997 / 4) << "the scene should be visible";
  }
}

TEST_F(Camera, CaptureModeTakesRepeatedSnapshotsWithoutPreparingAgain) {
  ASSERT_EQ(Orvane_SetColorMode(handle_, 8), 1);
  ASSERT_EQ(Orvane_Capture(handle_), 1);
  EXPECT_EQ(Orvane_Capture(handle_), 1);
  EXPECT_EQ(Orvane_StartPreview(handle_), 0);
  EXPECT_EQ(Orvane_GetLastError(handle_), 1);
  std::vector<unsigned char> first(4000 * 3000), second(4000 * 3000);
  ASSERT_EQ(Orvane_SnapShot(handle_, first.data(), static_cast<int>(first.size()), 1), 1);
  ASSERT_EQ(Orvane_SnapShot(handle_, second.data(), static_cast<int>(second.size()), 1), 1);
  EXPECT_EQ(first, second);
  EXPECT_EQ(Orvane_StopPreview(handle_), 1);
}

TEST_F(Camera, FilterValuesReachTheDeviceAndTheirRanges) {
  EXPECT_EQ(Orvane_SetBrightness(handle_, 255), 1);
  EXPECT_EQ(Orvane_SetBrightness(handle_, -255), 1);
  EXPECT_EQ(Orvane_SetBrightness(handle_, 256), 0);
  EXPECT_EQ(Orvane_GetLastError(handle_), 9);
  int ok = 0;
  EXPECT_EQ(Orvane_GetBrightness(handle_, &ok), -255);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(Orvane_SetBayerGainRGB(handle_, 50 + 100 * 256 + 200 * 65536), 1);
  EXPECT_EQ(Orvane_GetBayerGainRed(handle_, &ok), 50);
  EXPECT_EQ(Orvane_GetBayerGainBlue(handle_, &ok), 200);
  EXPECT_EQ(Orvane_GetBayerGainRGB(handle_, &ok), 50 + 100 * 256 + 200 * 65536);
  EXPECT_EQ(Orvane_SetGlobalGain(handle_, 500), 1);
  EXPECT_EQ(Orvane_GetGlobalGain(handle_, &ok), 500);
  EXPECT_EQ(Orvane_SetGlobalGain(handle_, 1958), 0);  // above the sensor's maximum
  EXPECT_EQ(Orvane_GetLastError(handle_), 9);
  EXPECT_EQ(Orvane_GetChannelGain(handle_, 2, &ok), 0);
  EXPECT_EQ(Orvane_GetLastError(handle_), 9);
  EXPECT_EQ(Orvane_GetChannelGain(handle_, 5, &ok), 0);
  EXPECT_EQ(Orvane_GetLastError(handle_), 0);
  EXPECT_EQ(Orvane_GetTemperature(handle_, &ok), -1);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(Orvane_GetLastError(handle_), 11);
  EXPECT_EQ(Orvane_SetExposureTime(handle_, 100), 1);
  EXPECT_EQ(Orvane_GetRealExposureTime(handle_, &ok), 10000);
  EXPECT_EQ(Orvane_SetRealExposureTime(handle_, 2000), 1);
  EXPECT_EQ(Orvane_GetExposureTime(handle_, &ok), 20);
  EXPECT_EQ(Orvane_SetRealExposureTime(handle_, 0), 0);  // below the minimum of 100 us
  EXPECT_EQ(Orvane_GetLastError(handle_), 9);
  OrvaneCameraInfo info{};
  info.size = 40;
  info.exposureTimeExMin = 123.0;
  ASSERT_EQ(Orvane_GetCameraInfo(handle_, &info), 1);
  EXPECT_EQ(info.maxWidth, 4000);
  EXPECT_EQ(info.globalGainMax, 1957);
  EXPECT_EQ(info.exposureMax, 20000);
  EXPECT_EQ(info.exposureTimeExMin, 123.0);  // a 40-byte record ends before the doubles
  info.size = 35;
  EXPECT_EQ(Orvane_GetCameraInfo(handle_, &info), 0);
  EXPECT_EQ(Orvane_GetLastError(handle_), 5);
}

}  // namespace

namespace {

TEST(Settings, ACamerasSettingsComeBackAfterARestart) {
  UseFreshSettingsStore();
  int first = Orvane_Initialize(nullptr);
  ASSERT_NE(first, 0);
  EXPECT_EQ(Orvane_SetGamma(first, 150), 1);
  EXPECT_EQ(Orvane_SetGlobalGain(first, 700), 1);
  EXPECT_EQ(Orvane_SetGrayOffsetB(first, -40), 1);
  ASSERT_EQ(Orvane_Release(first), 1);  // saves the camera's settings

  int second = Orvane_Initialize(nullptr);
  ASSERT_NE(second, 0);
  int ok = 0;
  EXPECT_EQ(Orvane_GetGamma(second, &ok), 150);
  EXPECT_EQ(Orvane_GetGlobalGain(second, &ok), 700);  // pushed to the camera when it opened
  EXPECT_EQ(Orvane_GetGrayOffsetB(second, &ok), -40);
  EXPECT_EQ(Orvane_GetColorMode(second), 24);
  EXPECT_EQ(Orvane_SetCaptureWindow(second, 4000, 3000), 0);  // no size presets in a fresh store
  EXPECT_EQ(Orvane_GetLastError(second), 4);
  EXPECT_EQ(Orvane_Release(second), 1);
}

}  // namespace

namespace {

std::string TempPath(const char* name) {
  return (std::filesystem::temp_directory_path() /
          (std::string("orvane_sdk_") + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" + name))
      .string();
}

uint32_t Le32(const std::vector<unsigned char>& bytes, size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

std::vector<unsigned char> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// What the files hold is checked against other decoders in the recording tests; here that every form
// is written through the export (on both builds) and what is refused.
TEST_F(Camera, SavesTheNewestFrameInEveryFileForm) {
  ASSERT_EQ(Orvane_SetColorMode(handle_, 24), 1);
  EXPECT_EQ(Orvane_SaveImage(handle_, TempPath("early.bmp").c_str(), ORVANE_FILE_BMP), 0);  // no frame yet
  EXPECT_EQ(Orvane_GetLastError(handle_), 1);
  ASSERT_EQ(Orvane_SnapShot(handle_, nullptr, 0, 1), 1);
  for (int type = ORVANE_FILE_BMP; type <= ORVANE_FILE_TIFF; ++type) {
    std::string path = TempPath(("frame" + std::to_string(type)).c_str());
    ASSERT_EQ(Orvane_SaveImage(handle_, path.c_str(), type), 1) << type;
    EXPECT_GT(std::filesystem::file_size(path), 100000u) << type;
    std::filesystem::remove(path);
  }
  EXPECT_EQ(Orvane_SaveImage(handle_, TempPath("x.bin").c_str(), 7), 0);
  EXPECT_EQ(Orvane_SaveImage(handle_, TempPath("x.bin").c_str(), -1), 0);
  EXPECT_EQ(Orvane_SaveImage(handle_, (TempPath("missing-folder") + "/x.bmp").c_str(), ORVANE_FILE_BMP), 0);
  EXPECT_FALSE(std::filesystem::exists(TempPath("x.bin")));
  EXPECT_EQ(Orvane_GetLastError(handle_), 0);
}

// The recording itself is checked against other readers in the recording tests; here its refusals.
TEST_F(Camera, RecordRefusesBadNamesAndASecondRecording) {
  ASSERT_NO_FATAL_FAILURE(UseSmallFrames(handle_, 8));  // keeps the file small
  EXPECT_EQ(Orvane_Record(handle_, "", 1000, 0), 0);
  EXPECT_EQ(Orvane_GetLastError(handle_), 9);
  std::string missing = TempPath("missing-folder") + "/clip.avi";
  EXPECT_EQ(Orvane_Record(handle_, missing.c_str(), 1000, 0), 0);
  EXPECT_EQ(Orvane_GetLastError(handle_), 12);
  EXPECT_FALSE(std::filesystem::exists(missing));

  std::string path = TempPath("clip.avi"), second = TempPath("second.avi");
  ASSERT_EQ(Orvane_Record(handle_, path.c_str(), 600000, 0), 1);
  EXPECT_EQ(Orvane_Record(handle_, second.c_str(), 1000, 0), 0);
  EXPECT_EQ(Orvane_GetLastError(handle_), 1);
  EXPECT_FALSE(std::filesystem::exists(second));
  // Stopped before its end, the recording is finished with the frames written so far: the index
  // ends the file and the sizes count it.
  EXPECT_EQ(Orvane_StopPreview(handle_), 1);
  auto avi = ReadFile(path);
  ASSERT_GE(avi.size(), 240u);
  EXPECT_EQ(Le32(avi, 4), avi.size() - 8);
  EXPECT_EQ(std::memcmp(avi.data() + 228, "movi", 4), 0);
  const uint32_t frames = Le32(avi, 140);
  EXPECT_EQ(Le32(avi, 48), frames);
  EXPECT_EQ(avi.size(), 232 + uint64_t{frames} * (2048 * 3 * 1080 + 8) + 8 + 16 * uint64_t{frames});
  EXPECT_EQ(std::memcmp(avi.data() + avi.size() - 8 - 16 * size_t{frames}, "idx1", 4), 0);
  std::filesystem::remove(path);
  EXPECT_EQ(Orvane_GetLastError(handle_), 0);
}

}  // namespace

namespace {

TEST_F(Camera, SnapshotRightAfterAPreviewWorks) {
  ASSERT_EQ(Orvane_SetColorMode(handle_, 24), 1);
  std::vector<unsigned char> buffer(4000 * 3 * 3000);
  ASSERT_EQ(Orvane_CallBackPreview(handle_, window_.handle(), buffer.data(), static_cast<int>(buffer.size()), 1), 1);
  TakenMessage m = NextFrameMessage();
  EXPECT_NE(m.wParam, 0u);
  ASSERT_EQ(Orvane_StopPreview(handle_), 1);
  for (int bits : {8, 16}) {
    ASSERT_EQ(Orvane_SetColorMode(handle_, bits), 1);
    std::vector<unsigned char> image(4000 * 3000 * bits / 8);
    EXPECT_EQ(Orvane_SnapShot(handle_, image.data(), static_cast<int>(image.size()), 1), 1) << bits;
  }
  EXPECT_EQ(Orvane_GetLastError(handle_), 0);
}

}  // namespace

namespace {

TEST_F(Camera, StopPreviewEndsALongWaitTimeAtOnce) {
  ASSERT_EQ(Orvane_SetWaitTime(handle_, 2000000000), 1);  // about 23 days between passes
  ASSERT_EQ(Orvane_StartPreview(handle_), 1);
  EXPECT_EQ(Orvane_StopPreview(handle_), 1);  // returns instead of waiting out the wait time
  EXPECT_EQ(Orvane_GetLastError(handle_), 0);
}

}  // namespace
