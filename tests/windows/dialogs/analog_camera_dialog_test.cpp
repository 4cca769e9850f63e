// The analog and camera settings dialogs under wine, driven from a second thread, and what every
// dialog shares: the language of its texts, the owner, one dialog per SDK object at a time.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "OrvaneSdk.h"
#include "OrvaneSdkEx.h"
#include "dialog_driver.h"
#include "hardware/camera_registers.h"
#include "sim/virtual_camera.h"
#include "test_camera.h"
#include "test_settings.h"

using namespace dialog_test;

namespace {

constexpr const char* kCameraKey = "Software\\Kavrin\\OrvaneKD73R5Sdk\\Camera_00";

DWORD ReadDword(const char* key, const char* name) {
  DWORD value = 0xFFFFFFFF, size = sizeof(value);
  RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
  return value;
}

void WriteDword(HKEY key, const char* name, DWORD value) {
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

// The metadata of the first frame a frame callback is given.
class FirstFrame {
 public:
  static void ORVANE_CALL Called(void* context, const unsigned char*, int32_t, const OrvaneExFrameMetadata* m) {
    auto* self = static_cast<FirstFrame*>(context);
    std::lock_guard lock(self->mutex_);
    if (!self->seen_) self->first_ = *m;
    self->seen_ = true;
    self->arrived_.notify_all();
  }
  bool Wait(OrvaneExFrameMetadata* first) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, std::chrono::seconds(60), [&] { return seen_; })) return false;
    *first = first_;
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  bool seen_ = false;
  OrvaneExFrameMetadata first_{};
};

class SettingsDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kOneVirtualCamera);
    UseFreshSettingsStore();
    handle_ = Orvane_Initialize(nullptr);
    ASSERT_NE(handle_, 0);
    camera_ = dynamic_cast<orvane::sim::VirtualCamera*>(orvane::sim::ProcessCameraFaults(1));
    ASSERT_NE(camera_, nullptr);
  }
  void TearDown() override { EXPECT_EQ(Orvane_Release(handle_), 1); }

  int Get(int filter) {
    int ok = 0;
    return Orvane_GetFilterValue(handle_, filter, &ok);
  }
  // The 11-bit gain code in the virtual sensor's gain registers.
  int SensorGain() const {
    namespace reg = orvane::camera::imx226;
    return camera_->SensorRegister(reg::kGainLow) | (camera_->SensorRegister(reg::kGainHigh) & 0x07) << 8;
  }

  int handle_ = 0;
  orvane::sim::VirtualCamera* camera_ = nullptr;
};

TEST_F(SettingsDialogs, AnalogChangesReachTheDeviceAndCancelRestoresThem) {
  const int gain = Get(ORVANE_FILTER_GLOBAL_GAIN), exposure = Get(ORVANE_FILTER_EXPOSURE_TIME);
  const int sensorGain = SensorGain();
  ASSERT_EQ(SensorGain(), gain);
  RunDialog([&] { return Orvane_SetAnalogDlg(handle_, nullptr); }, [&](HWND dialog) {
    PageRight(dialog, IDC_GLOBAL_GAIN);
    const int moved = Get(ORVANE_FILTER_GLOBAL_GAIN);
    EXPECT_GT(moved, gain);
    EXPECT_EQ(SensorGain(), moved);
    EXPECT_EQ(EditText(dialog, IDC_GLOBAL_GAIN), std::to_wstring(moved));
    Type(dialog, IDC_EXPOSURE + TRIPLE_EDIT, L"1234");
    EXPECT_EQ(Get(ORVANE_FILTER_EXPOSURE_TIME), 1234);
    EXPECT_EQ(Text(Control(dialog, IDC_EXPOSURE_MS)), L"=123.40ms");
    Click(dialog, IDC_MIRROR_V);
    EXPECT_EQ(Orvane_GetMirrorV(handle_), 1);
    // The automatic exposure boxes exclude each other.
    Click(dialog, IDC_AUTO_GAIN);
    int ok = 0;
    EXPECT_EQ(Orvane_GetAutoIris(handle_, &ok), 2);
    Click(dialog, IDC_AUTO_EXPOSURE);
    EXPECT_EQ(Orvane_GetAutoIris(handle_, &ok), 1);
    EXPECT_FALSE(IsChecked(dialog, IDC_AUTO_GAIN));
    Click(dialog, IDCANCEL);
  });
  EXPECT_EQ(Get(ORVANE_FILTER_GLOBAL_GAIN), gain);
  EXPECT_EQ(SensorGain(), sensorGain);
  EXPECT_EQ(Get(ORVANE_FILTER_EXPOSURE_TIME), exposure);
  EXPECT_EQ(Orvane_GetMirrorV(handle_), 0);
  int ok = 0;
  EXPECT_EQ(Orvane_GetAutoIris(handle_, &ok), 0);
}

TEST_F(SettingsDialogs, AnalogOkKeepsTheDeviceGain) {
  const int gain = Get(ORVANE_FILTER_GLOBAL_GAIN);
  int moved = 0;
  EXPECT_EQ(RunDialog([&] { return Orvane_SetAnalogDlg(handle_, nullptr); },
                      [&](HWND dialog) {
                        PageRight(dialog, IDC_GLOBAL_GAIN);
                        moved = Get(ORVANE_FILTER_GLOBAL_GAIN);
                        Click(dialog, IDOK);
                      }),
            1);
  EXPECT_NE(moved, gain);
  EXPECT_EQ(Get(ORVANE_FILTER_GLOBAL_GAIN), moved);
  EXPECT_EQ(SensorGain(), moved);
}

// Stream Format: Apply writes the store and is enabled only after a change; after OK the SDK object
// has read the new colour mode and size back.
TEST_F(SettingsDialogs, CameraOkWritesTheStoreAndThePreviewRestartsWithIt) {
  HKEY entry = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (std::string(kCameraKey) + "\\Size_01").c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &entry, nullptr),
            ERROR_SUCCESS);
  // A second entry of the whole sensor (this sensor takes no narrower window) with fewer buffers.
  const std::pair<const char*, DWORD> size[] = {{"TH", 4000}, {"TV", 3000}, {"EH", 4000}, {"EV", 3000},
                                                {"EHS", 0},     {"EVS", 0},   {"Buf", 2}};
  for (const auto& [name, value] : size) WriteDword(entry, name, value);
  RegCloseKey(entry);

  ASSERT_EQ(Orvane_SetColorMode(handle_, 24), 1);
  const int result = RunDialog([&] { return Orvane_SetCameraDlg(handle_, nullptr); }, [&](HWND dialog) {
    EXPECT_FALSE(IsWindowEnabled(Control(dialog, IDC_APPLY)));
    EXPECT_FALSE(IsWindowEnabled(Control(dialog, IDC_CLOCK)));
    EXPECT_EQ(SendMessageW(Control(dialog, IDC_CLOCK), CB_GETCURSEL, 0, 0), 2);
    Choose(dialog, IDC_COLOR, FindEntry(dialog, IDC_COLOR, L"Color 32bit"));
    ASSERT_EQ(SendMessageW(Control(dialog, IDC_SIZE_LIST), CB_GETCOUNT, 0, 0), 3);  // two entries and "Custom"
    EXPECT_EQ(SendMessageW(Control(dialog, IDC_SIZE_LIST), CB_GETCURSEL, 0, 0), 0);
    Choose(dialog, IDC_SIZE_LIST, 1);
    EXPECT_EQ(Text(Control(dialog, IDC_V_EFFECTIVE)), L"3000");
    EXPECT_FALSE(IsWindowEnabled(Control(dialog, IDC_H_EFFECTIVE)));  // the sensor's window is fixed
    Choose(dialog, IDC_SUBSAMPLE, FindEntry(dialog, IDC_SUBSAMPLE, L"1/2 Bin"));
    EXPECT_TRUE(IsWindowEnabled(Control(dialog, IDC_APPLY)));
    Click(dialog, IDC_APPLY);
    EXPECT_EQ(ReadDword(kCameraKey, "Color"), 3u);
    EXPECT_EQ(ReadDword(kCameraKey, "Size"), 1u);
    EXPECT_EQ(ReadDword(kCameraKey, "SubSample"), 17u);
    EXPECT_EQ(ReadDword(kCameraKey, "Clock"), 2u);
    EXPECT_FALSE(IsWindowEnabled(Control(dialog, IDC_APPLY)));
    Type(dialog, IDC_WAIT_TIME, L"3");
    Click(dialog, IDOK);
  });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(ReadDword(kCameraKey, "WaitTime"), 3u);
  EXPECT_EQ(Orvane_GetColorMode(handle_), 32);
  EXPECT_EQ(Orvane_GetSubSample(handle_), 17);

  // The next preview runs in that mode and size.
  FirstFrame first;
  ASSERT_EQ(OrvaneEx_SetFrameCallback(handle_, &FirstFrame::Called, &first), 1);
  ASSERT_EQ(Orvane_StartPreview(handle_), 1);
  OrvaneExFrameMetadata frame{};
  const bool arrived = first.Wait(&frame);
  EXPECT_EQ(Orvane_StopPreview(handle_), 1);
  ASSERT_TRUE(arrived) << "no frame within a minute";
  EXPECT_EQ(frame.bitsPerPixel, 32);
  EXPECT_EQ(frame.width, 2048);  // the sub-sampled readout
  EXPECT_EQ(frame.height, 1080);
}

// The texts come from the templates of the system's language: Japanese on a Japanese system
// (ORVANE_TEST_LANGUAGE=ja makes sure the run really is one), English with the quoted texts elsewhere.
TEST_F(SettingsDialogs, TextsAreInTheSystemLanguage) {
  const char* wanted = std::getenv("ORVANE_TEST_LANGUAGE");
  const bool japanese = GetSystemDefaultLangID() == 0x0411;
  if (wanted != nullptr && std::strcmp(wanted, "ja") == 0) {
    ASSERT_TRUE(japanese);
  }
  RunDialog([&] { return Orvane_SetImageDlg(handle_, nullptr); }, [&](HWND dialog) {
    EXPECT_EQ(Text(dialog), japanese ? L"画像設定" : L"Image Settings");
    EXPECT_EQ(TabText(dialog, 0), japanese ? L"画像フィルター" : L"Image Filter");
    EXPECT_EQ(TabText(dialog, 1), japanese ? L"グレー フィルター" : L"Gray Filter");
    EXPECT_EQ(Text(Control(dialog, IDC_BRIGHTNESS)), japanese ? L"明るさ(&B)" : L"&Brightness");
    EXPECT_EQ(Text(Control(dialog, IDC_DEFAULT)), japanese ? L"既定値(&D)" : L"Default(&D)");
    EXPECT_EQ(Text(Control(dialog, IDC_WB_ALL)), japanese ? L"全フレーム" : L"All frames");
    Click(dialog, IDCANCEL);
  });
  RunDialog([&] { return Orvane_SetAnalogDlg(handle_, nullptr); }, [&](HWND dialog) {
    EXPECT_EQ(TabText(dialog, 0), japanese ? L"アナログ ゲイン" : L"Analog Gain");
    EXPECT_EQ(Text(Control(dialog, IDC_GLOBAL_GAIN)), japanese ? L"全体ゲイン(&G)" : L"&Global Gain");
    Click(dialog, IDCANCEL);
  });
  RunDialog([&] { return Orvane_SetCameraDlg(handle_, nullptr); }, [&](HWND dialog) {
    EXPECT_EQ(TabText(dialog, 0), japanese ? L"ストリーム形式" : L"Stream Format");
    EXPECT_EQ(Text(Control(dialog, IDC_APPLY)), japanese ? L"適用(&A)" : L"Apply(&A)");
    EXPECT_GE(FindEntry(dialog, IDC_COLOR, japanese ? L"カラー 24bit" : L"Color 24bit"), 0);
    EXPECT_GE(FindEntry(dialog, IDC_CLOCK, japanese ? L"高速(54MHz)" : L"High(54MHz)"), 0);
    Click(dialog, IDCANCEL);
  });
}

// A parent that is not a window gives a dialog without an owner; a second dialog of the same object
// while one is open is refused with error 1 and changes nothing.
TEST_F(SettingsDialogs, BadParentAndASecondDialogAreHandled) {
  HWND notAWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7654320));
  const int result = RunDialog([&] { return Orvane_SetImageDlg(handle_, notAWindow); }, [&](HWND dialog) {
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), nullptr);
    PageRight(dialog, IDC_BRIGHTNESS);
    int second = -1;
    std::thread other([&] { second = Orvane_SetAnalogDlg(handle_, nullptr); });
    other.join();
    EXPECT_EQ(second, 0);
    EXPECT_EQ(Orvane_GetLastError(handle_), ORVANE_ERR_NOT_NOW);
    EXPECT_EQ(Get(ORVANE_FILTER_BRIGHTNESS), 64);
    Click(dialog, IDCANCEL);
  });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Get(ORVANE_FILTER_BRIGHTNESS), 0);
}

// The camera unplugged while a dialog is open: the dialog stays usable, closes cleanly, and the
// restore that cannot reach the device reports it.
TEST_F(SettingsDialogs, UnpluggedCameraLeavesTheDialogUsable) {
  const int result = RunDialog([&] { return Orvane_SetAnalogDlg(handle_, nullptr); }, [&](HWND dialog) {
    camera_->Unplug();
    PageRight(dialog, IDC_GLOBAL_GAIN);
    Click(dialog, IDC_MIRROR_H);
    Click(dialog, IDCANCEL);
  });
  EXPECT_EQ(result, 1);
  camera_->Replug();
}

}  // namespace
