// The image settings dialog under wine, driven from a second thread: its value controls, Default,
// white balance Once and All frames, OK keeping and every other ending restoring the settings.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "OrvaneSdk.h"
#include "dialog_driver.h"
#include "test_camera.h"
#include "test_settings.h"

using namespace dialog_test;

namespace {

class ImageDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kOneVirtualCamera);
    UseFreshSettingsStore();
    handle_ = Orvane_Initialize(nullptr);
    ASSERT_NE(handle_, 0);
    ASSERT_EQ(Orvane_SetColorMode(handle_, 24), 1);
  }
  void TearDown() override { EXPECT_EQ(Orvane_Release(handle_), 1); }

  int Get(int filter) {
    int ok = 0;
    return Orvane_GetFilterValue(handle_, filter, &ok);
  }
  int Open() { return Orvane_SetImageDlg(handle_, nullptr); }

  int handle_ = 0;
};

// Each trackbar moved one page, and what it shows, with the filter id it edits and its start value.
struct Moved {
  int base;
  int filter;
  int expected;
};
constexpr Moved kImageMoves[] = {
    {IDC_BRIGHTNESS, ORVANE_FILTER_BRIGHTNESS, 64},  {IDC_CONTRAST, ORVANE_FILTER_CONTRAST, 32},
    {IDC_HUE, ORVANE_FILTER_HUE, 90},                {IDC_SATURATION, ORVANE_FILTER_SATURATION, 64},
    {IDC_SHARPNESS, ORVANE_FILTER_SHARPNESS, 4},     {IDC_RED_GAIN, ORVANE_FILTER_BAYER_GAIN_RED, 132},
    {IDC_GREEN_GAIN, ORVANE_FILTER_BAYER_GAIN_GREEN, 132}, {IDC_BLUE_GAIN, ORVANE_FILTER_BAYER_GAIN_BLUE, 132},
    {IDC_GAMMA, ORVANE_FILTER_GAMMA, 132},           {IDC_GRAY_GAIN_R, ORVANE_FILTER_GRAY_GAIN_R, 160},
    {IDC_GRAY_OFFSET_B, ORVANE_FILTER_GRAY_OFFSET_B, 192},
};

TEST_F(ImageDialog, TrackbarsEditsAndDefaultSetTheSettingsAndOkKeepsThem) {
  const int result = RunDialog([&] { return Open(); }, [&](HWND dialog) {
    for (const Moved& m : kImageMoves) {
      PageRight(dialog, m.base);
      EXPECT_EQ(Get(m.filter), m.expected) << m.base;
      EXPECT_EQ(EditText(dialog, m.base), std::to_wstring(m.expected)) << m.base;
    }
    // A typed number moves the trackbar; one outside the range is limited to it.
    Type(dialog, IDC_BRIGHTNESS + TRIPLE_EDIT, L"-50");
    EXPECT_EQ(Get(ORVANE_FILTER_BRIGHTNESS), -50);
    EXPECT_EQ(TrackbarPos(dialog, IDC_BRIGHTNESS), -50);
    Type(dialog, IDC_CONTRAST + TRIPLE_EDIT, L"999");
    EXPECT_EQ(Get(ORVANE_FILTER_CONTRAST), 127);
    EXPECT_EQ(TrackbarPos(dialog, IDC_CONTRAST), 127);
    Click(dialog, IDC_BAYER_0 + 1);
    EXPECT_EQ(Get(ORVANE_FILTER_BAYER_MODE), 1);
    EXPECT_TRUE(IsChecked(dialog, IDC_GRAY_BAYER_0 + 1));  // the other page follows

    Click(dialog, IDC_DEFAULT);
    for (int f : {ORVANE_FILTER_BRIGHTNESS, ORVANE_FILTER_CONTRAST, ORVANE_FILTER_HUE, ORVANE_FILTER_SATURATION,
                  ORVANE_FILTER_SHARPNESS}) {
      EXPECT_EQ(Get(f), 0) << f;
    }
    for (int f : {ORVANE_FILTER_BAYER_GAIN_RED, ORVANE_FILTER_BAYER_GAIN_GREEN, ORVANE_FILTER_BAYER_GAIN_BLUE,
                  ORVANE_FILTER_GAMMA}) {
      EXPECT_EQ(Get(f), 100) << f;
    }
    EXPECT_EQ(Get(ORVANE_FILTER_BAYER_MODE), 2);
    for (int f = ORVANE_FILTER_GRAY_GAIN_R; f <= ORVANE_FILTER_GRAY_OFFSET_B; ++f) EXPECT_EQ(Get(f), 128) << f;
    EXPECT_EQ(TrackbarPos(dialog, IDC_GAMMA), 100);
    EXPECT_EQ(EditText(dialog, IDC_BRIGHTNESS), L"0");
    EXPECT_TRUE(IsChecked(dialog, IDC_BAYER_0 + 2));

    Type(dialog, IDC_SHARPNESS + TRIPLE_EDIT, L"7");
    Click(dialog, IDOK);
  });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Get(ORVANE_FILTER_SHARPNESS), 7);
  EXPECT_EQ(Get(ORVANE_FILTER_GAMMA), 100);
}

TEST_F(ImageDialog, GrayControlsFollowTheColourMode) {
  RunDialog([&] { return Open(); }, [&](HWND dialog) {
    EXPECT_TRUE(IsWindowEnabled(Control(dialog, IDC_HUE + TRIPLE_TRACKBAR)));
    EXPECT_FALSE(IsWindowEnabled(Control(dialog, IDC_GRAY_GAIN_R + TRIPLE_TRACKBAR)));
    Click(dialog, IDCANCEL);
  });
  ASSERT_EQ(Orvane_SetColorMode(handle_, 8), 1);
  RunDialog([&] { return Open(); }, [&](HWND dialog) {
    EXPECT_FALSE(IsWindowEnabled(Control(dialog, IDC_HUE + TRIPLE_TRACKBAR)));
    EXPECT_TRUE(IsWindowEnabled(Control(dialog, IDC_GRAY_GAIN_R + TRIPLE_TRACKBAR)));
    Click(dialog, IDC_GRAY_MODE_0 + 2);
    EXPECT_EQ(Get(ORVANE_FILTER_GRAY_MODE), 2);
    Click(dialog, IDOK);
  });
  EXPECT_EQ(Get(ORVANE_FILTER_GRAY_MODE), 2);
}

// Cancel, closing the window and Escape put back what the dialog changed.
TEST_F(ImageDialog, EveryEndingButOkRestoresTheImageAndGraySettings) {
  ASSERT_EQ(Orvane_SetBrightness(handle_, 10), 1);
  ASSERT_EQ(Orvane_SetGamma(handle_, 90), 1);
  ASSERT_EQ(Orvane_SetBayerMode(handle_, 3), 1);
  ASSERT_EQ(Orvane_SetGrayGainG2(handle_, 100), 1);
  const std::function<void(HWND)> endings[] = {
      [](HWND dialog) { Click(dialog, IDCANCEL); },
      [](HWND dialog) { SendMessageW(dialog, WM_CLOSE, 0, 0); },
      // Escape as the keyboard gives it: through the dialog's own message loop.
      [](HWND dialog) {
        PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); })) << "Escape did not end the dialog";
      },
  };
  for (const auto& end : endings) {
    EXPECT_EQ(RunDialog([&] { return Open(); },
                        [&](HWND dialog) {
                          PageRight(dialog, IDC_BRIGHTNESS);
                          PageRight(dialog, IDC_GAMMA);
                          PageRight(dialog, IDC_GRAY_GAIN_G2);
                          Click(dialog, IDC_BAYER_0);
                          Click(dialog, IDC_WB_ALL);
                          Click(dialog, IDC_DEFAULT);
                          Type(dialog, IDC_HUE + TRIPLE_EDIT, L"45");
                          EXPECT_EQ(Get(ORVANE_FILTER_HUE), 45);
                          end(dialog);
                        }),
              1);
    EXPECT_EQ(Get(ORVANE_FILTER_BRIGHTNESS), 10);
    EXPECT_EQ(Get(ORVANE_FILTER_GAMMA), 90);
    EXPECT_EQ(Get(ORVANE_FILTER_BAYER_MODE), 3);
    EXPECT_EQ(Get(ORVANE_FILTER_GRAY_GAIN_G2), 100);
    EXPECT_EQ(Get(ORVANE_FILTER_HUE), 0);
    EXPECT_EQ(Get(ORVANE_FILTER_BAYER_GAIN_AUTO), 0);
  }
}

// "Once" balances one frame: the gains change once and the continuous flag ends cleared; the open
// page follows the balance. "All frames" switches the continuous balance.
TEST_F(ImageDialog, WhiteBalanceOnceChangesTheGainsOnceAndAllFramesSwitches) {
  ASSERT_EQ(Orvane_SetSubSample(handle_, 17), 1);
  ASSERT_EQ(Orvane_SetBayerGainRed(handle_, 20), 1);
  ASSERT_EQ(Orvane_SetBayerGainBlue(handle_, 390), 1);
  std::vector<unsigned char> frame(2048 * 1080 * 3);
  RunDialog([&] { return Open(); }, [&](HWND dialog) {
    Click(dialog, IDC_WB_ONCE);
    EXPECT_FALSE(IsChecked(dialog, IDC_WB_ALL));
    EXPECT_EQ(Get(ORVANE_FILTER_BAYER_GAIN_AUTO), 1);
    // One frame runs the balance.
    EXPECT_EQ(Orvane_SnapShot(handle_, frame.data(), static_cast<int>(frame.size()), 1), 1);
    EXPECT_EQ(Get(ORVANE_FILTER_BAYER_GAIN_AUTO), 0);
    const int red = Get(ORVANE_FILTER_BAYER_GAIN_RED), blue = Get(ORVANE_FILTER_BAYER_GAIN_BLUE);
    EXPECT_NE(red, 20);
    EXPECT_NE(blue, 390);
    // The page shows the measured gains once the dialog's thread has run its refresh.
    EXPECT_TRUE(WaitFor([&] { return TrackbarPos(dialog, IDC_RED_GAIN) == red; }));
    EXPECT_EQ(TrackbarPos(dialog, IDC_BLUE_GAIN), blue);
    EXPECT_FALSE(IsChecked(dialog, IDC_WB_ALL));

    Click(dialog, IDC_WB_ALL);
    EXPECT_EQ(Get(ORVANE_FILTER_BAYER_GAIN_AUTO), 1);
    Click(dialog, IDC_WB_ALL);
    EXPECT_EQ(Get(ORVANE_FILTER_BAYER_GAIN_AUTO), 0);
    Click(dialog, IDOK);
  });
  EXPECT_EQ(Get(ORVANE_FILTER_BAYER_GAIN_AUTO), 0);
}

}  // namespace
