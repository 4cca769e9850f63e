// An SDK object set up on a fake camera (fake_device.h), with a fresh settings store, no preview
// window, 8-bit colour and a small 64 x 48 frame; its error history is empty when a test begins.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fake_device.h"
#include "sdk/orvane.h"
#include "test_settings.h"

class SdkOnFakeDevice : public ::testing::Test {
 protected:
  static constexpr int kWidth = 64;
  static constexpr int kHeight = 48;
  static constexpr int kFrameBytes = kWidth * kHeight;  // 8 bits per pixel, rows already 4-byte aligned

  void SetUp() override {
    UseFreshSettingsStore();
    sdk_ = std::make_unique<COrvane>([this] {
      auto device = std::make_unique<FakeDevice>();
      fake_ = device.get();
      return device;
    });
    ASSERT_TRUE(sdk_->Setup(nullptr));
    ASSERT_NE(fake_, nullptr);
    ASSERT_EQ(sdk_->SetPreviewWindow(nullptr, 0, 0, 0, 0), 1);
    ASSERT_EQ(sdk_->SetColorMode(8), 1);
    ASSERT_EQ(sdk_->SetCaptureWindowEx(kWidth, 0, kWidth, kHeight, 0, kHeight), 1);
    ASSERT_EQ(Errors(), std::vector<int>{});
  }
  void TearDown() override { sdk_.reset(); }

  // Takes the whole error history, newest first.
  std::vector<int> Errors() {
    std::vector<int> codes;
    for (int code = sdk_->GetLastError(); code != 0; code = sdk_->GetLastError()) codes.push_back(code);
    return codes;
  }
  orvane::sdk::AcquisitionState State() { return sdk_->AcquisitionStateNow(); }
  // Waits (a generous limit, not a timing) for the state the acquisition thread moves to by itself.
  bool WaitForState(orvane::sdk::AcquisitionState state) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (State() != state) {
      if (std::chrono::steady_clock::now() > limit) return false;
      std::this_thread::yield();
    }
    return true;
  }
  std::string RecordingPath() {
    return (std::filesystem::temp_directory_path() /
            ("orvane_unit_sdk_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".avi"))
        .string();
  }

  std::unique_ptr<COrvane> sdk_;
  FakeDevice* fake_ = nullptr;  // owned by sdk_
};
