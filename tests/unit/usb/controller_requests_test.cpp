#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "usb_test_support.h"

namespace orvane::usb {
namespace {

using testing::ControlRecord;
using testing::RecordingDriver;
using testing::ScopedSectionName;

class ControllerRequests : public ::testing::Test {
 protected:
  ControllerRequests() : bus_(1), recorder_(bus_) {
    cam_ = std::make_unique<COrvCy3Cam>(testing::Options(recorder_, section_.name()));
    cam_->EnumerateDevices();
    EXPECT_TRUE(cam_->SelectDevice(0));
    camera().SetGpio25DelayMs(0);
    recorder_.Clear();
  }
  sim::VirtualCamera& camera() { return bus_.Camera(0); }

  ScopedSectionName section_;
  sim::VirtualBus bus_;
  RecordingDriver recorder_;
  std::unique_ptr<COrvCy3Cam> cam_;
};

struct RequestCase {
  const char* name;
  std::function<bool(COrvCy3Cam&)> call;
  std::vector<std::vector<uint8_t>> records;
};

TEST_F(ControllerRequests, EveryVendorRequestHasItsExactBytes) {
  uint8_t b8 = 0;
  uint16_t b16 = 0;
  uint8_t buf[64] = {};
  const std::vector<RequestCase> cases = {
      {"I2cWrite", [&](COrvCy3Cam& c) { const uint8_t d[3] = {0x00, 0x1A, 0x01}; return c.I2cWrite(0x48, d, 3); },
       {ControlRecord(0x40, 0x30, 3, 0x48, {0x00, 0x1A, 0x01})}},
      {"I2cRead", [&](COrvCy3Cam& c) { return c.I2cRead(0x48, buf, 2); }, {ControlRecord(0xC0, 0x31, 2, 0x49)}},
      {"WriteControlByte", [&](COrvCy3Cam& c) { return c.WriteControlByte(0x1FF); },
       {ControlRecord(0x40, 0x3C, 0, 0, {0xFF, 0, 0, 0})}},
      {"ReadControlByte", [&](COrvCy3Cam& c) { return c.ReadControlByte(&b8); }, {ControlRecord(0xC0, 0x3D, 0, 0)}},
      {"WritePair", [&](COrvCy3Cam& c) { return c.WritePair(0x1234, 0xABCD); },
       {ControlRecord(0x40, 0x3E, 0, 0, {0x12, 0x34, 0xAB, 0xCD})}},
      {"ReadWord", [&](COrvCy3Cam& c) { return c.ReadWord(0x55, &b16); }, {ControlRecord(0xC0, 0x3F, 0x55, 0)}},
      {"ReadControllerInfo", [&](COrvCy3Cam& c) { return c.ReadControllerInfo(buf); }, {ControlRecord(0xC0, 0xB0, 0, 0)}},
      {"SendStreamReset", [&](COrvCy3Cam& c) { return c.SendStreamReset(); }, {ControlRecord(0x40, 0xC0, 0, 0)}},
      {"ReadGpio25", [&](COrvCy3Cam& c) { return c.ReadGpio25(&b8); }, {ControlRecord(0xC0, 0xC3, 0, 0)}},
      {"SendRequestCC", [&](COrvCy3Cam& c) { return c.SendRequestCC(); }, {ControlRecord(0x42, 0xCC, 0, 0)}},
      {"FpgaWriteRegister 0x8010", [&](COrvCy3Cam& c) { return c.FpgaWriteRegister(0x8010, 0x11223344); },
       {ControlRecord(0x40, 0xD0, 1, 0x0010, {0x44, 0x33, 0x22, 0x11})}},
      {"FpgaWriteRegister 0x7FFF", [&](COrvCy3Cam& c) { return c.FpgaWriteRegister(0x7FFF, 5); },
       {ControlRecord(0x40, 0xD0, 0, 0x7FFF, {5, 0, 0, 0})}},
      {"FpgaReadRegister", [&](COrvCy3Cam& c) { return c.FpgaReadRegister(0x1234, &b16); },
       {ControlRecord(0xC0, 0xD1, 0, 0x1234)}},
      {"FpgaWriteByte", [&](COrvCy3Cam& c) { return c.FpgaWriteByte(0x3C, 2); },
       {ControlRecord(0x40, 0x30, 3, 0x40, {0x3C, 0x00, 0x02})}},
      {"FpgaReadByte", [&](COrvCy3Cam& c) { return c.FpgaReadByte(0x10, &b8); },
       {ControlRecord(0x40, 0x30, 1, 0x40, {0x10}), ControlRecord(0xC0, 0x31, 2, 0x41)}},
      {"FpgaReadWord", [&](COrvCy3Cam& c) { return c.FpgaReadWord(&b16); },
       {ControlRecord(0x40, 0x30, 1, 0x40, {0x10}), ControlRecord(0xC0, 0x31, 2, 0x41), ControlRecord(0x40, 0x30, 1, 0x40, {0x11}),
        ControlRecord(0xC0, 0x31, 2, 0x41)}},
      {"WriteReg5A", [&](COrvCy3Cam& c) { return c.WriteReg5A(5, 6); }, {ControlRecord(0x40, 0x30, 2, 0x5A, {5, 6})}},
      {"ReadReg5A", [&](COrvCy3Cam& c) { return c.ReadReg5A(5, &b8); },
       {ControlRecord(0x40, 0x30, 1, 0x5A, {5}), ControlRecord(0xC0, 0x31, 1, 0x5B)}},
      {"EepromWrite", [&](COrvCy3Cam& c) { return c.EepromWrite(0x0123, 0x77); },
       {ControlRecord(0x40, 0x30, 3, 0xA2, {0x01, 0x23, 0x77})}},
      {"EepromRead 0x0123", [&](COrvCy3Cam& c) { return c.EepromRead(0x0123, &b8); },
       {ControlRecord(0x40, 0x30, 2, 0xA2, {0x01, 0x23}), ControlRecord(0xC0, 0x31, 1, 0xA3)}},
  };
  for (const RequestCase& c : cases) {
    SCOPED_TRACE(c.name);
    recorder_.Clear();
    EXPECT_TRUE(c.call(*cam_));
    const auto log = recorder_.Log();
    ASSERT_EQ(log.size(), c.records.size());
    for (size_t i = 0; i < log.size(); ++i) {
      EXPECT_EQ(log[i].code, IoCode::kControlTransfer);
      EXPECT_FALSE(log[i].overlapped) << "control requests use a synchronous handle";
      EXPECT_EQ(log[i].outLength, kControlRequestSize);
      EXPECT_EQ(log[i].in, c.records[i]) << "request " << i;
    }
  }
}

TEST_F(ControllerRequests, RefusedBeforeAnyRequestReachesTheDriver) {
  uint8_t data[65] = {};
  const std::vector<std::pair<const char*, std::function<bool()>>> cases = {
      {"I2cWrite 65 bytes", [&] { return cam_->I2cWrite(0x48, data, 65); }},
      {"I2cRead 65 bytes", [&] { return cam_->I2cRead(0x48, data, 65); }},
      {"I2cWrite negative", [&] { return cam_->I2cWrite(0x48, data, -1); }},
      {"I2cWrite null data", [&] { return cam_->I2cWrite(0x48, nullptr, 2); }},
      {"FpgaReadRegister null", [&] { return cam_->FpgaReadRegister(0, nullptr); }},
      {"FpgaReadWord null", [&] { return cam_->FpgaReadWord(nullptr); }},
      {"EepromRead null", [&] { return cam_->EepromRead(0, nullptr); }},
      {"GetLinkSpeed null", [&] { return cam_->GetLinkSpeed(nullptr); }},
      {"ControlRequest null handle", [&] { return cam_->ControlRequest(nullptr, data, 102, nullptr); }},
  };
  for (const auto& [name, call] : cases) {
    SCOPED_TRACE(name);
    recorder_.Clear();
    EXPECT_FALSE(call());
    EXPECT_TRUE(recorder_.Log().empty());
  }
  recorder_.Clear();
  EXPECT_TRUE(cam_->I2cWrite(0x5A, data, 64));
  EXPECT_EQ(recorder_.Log().size(), 1u) << "64 bytes is the limit, not refused";
}

TEST_F(ControllerRequests, ShortDataStageLeavesOutputsAsSpecified) {
  recorder_.controlBytesOverride = 38 + 2;  // two data bytes came back
  uint16_t value = 0xFFFF;
  EXPECT_TRUE(cam_->FpgaReadRegister(0x10, &value));
  EXPECT_EQ(value, 0) << "fewer than 64 data bytes read as 0";
  uint8_t info[64];
  std::memset(info, 0xAB, sizeof(info));
  EXPECT_TRUE(cam_->ReadControllerInfo(info));
  EXPECT_EQ(info[0], 0xAB) << "copied only when exactly 64 bytes came back";
  uint8_t level = 7;
  EXPECT_TRUE(cam_->ReadGpio25(&level));
  EXPECT_EQ(level, 7);
  uint8_t i2c[4] = {9, 9, 9, 9};
  EXPECT_TRUE(cam_->I2cRead(0x48, i2c, 4));
  EXPECT_EQ(i2c[0], 9) << "copied only when the data count covers the request";
  recorder_.controlBytesOverride = 38;  // no data at all
  uint8_t byte = 5;
  EXPECT_TRUE(cam_->ReadControlByte(&byte));
  EXPECT_EQ(byte, 5);
  uint16_t word = 3;
  EXPECT_TRUE(cam_->ReadWord(0, &word));
  EXPECT_EQ(word, 3);
}

TEST_F(ControllerRequests, FailedEepromWriteKeepsTheOldByte) {
  ASSERT_TRUE(cam_->EepromWrite(0x0123, 0x42));
  camera().SetEepromWritesFail(true);
  EXPECT_FALSE(cam_->EepromWrite(0x0123, 0x43));
  EXPECT_EQ(camera().EepromByte(0x0123), 0x42);
}

TEST_F(ControllerRequests, StalledRequestsAndMissingDevicesFail) {
  const uint8_t data[2] = {1, 2};
  EXPECT_FALSE(cam_->I2cWrite(0x70, data, 2)) << "no device acknowledges at 0x70";
  uint8_t rec[kControlRequestSize];
  BuildControlRecord(rec, 0xC0, 0x99, 0, 0);  // unknown request: the firmware stalls
  auto handle = cam_->OpenDeviceHandle(0, false);
  ASSERT_TRUE(handle);
  EXPECT_FALSE(cam_->ControlRequest(handle.get(), rec, kControlRequestSize, nullptr));
  BuildControlRecord(rec, 0x40, 0xC2, 0, 0);  // arming request with the wrong request type
  EXPECT_FALSE(cam_->ControlRequest(handle.get(), rec, kControlRequestSize, nullptr));

  camera().Unplug();
  uint8_t v = 0;
  EXPECT_FALSE(cam_->FpgaWriteByte(7, 1));
  EXPECT_FALSE(cam_->FpgaReadByte(7, &v));
  EXPECT_FALSE(cam_->ControlRequest(handle.get(), rec, kControlRequestSize, nullptr)) << "handle of a gone device";
  EXPECT_FALSE(cam_->SelectDevice(0));
  camera().Replug();
  EXPECT_FALSE(cam_->ControlRequest(handle.get(), rec, kControlRequestSize, nullptr))
      << "a handle from before the unplug stays dead";
  EXPECT_TRUE(cam_->SelectDevice(0));
  EXPECT_TRUE(cam_->FpgaWriteByte(7, 1));
}

}  // namespace
}  // namespace orvane::usb
