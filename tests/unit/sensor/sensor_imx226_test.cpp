#include "sensor/sensor_imx226.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/unit/sensor/fake_register_bus.h"

namespace {

using SW = FakeRegisterBus::SensorWrite;
using FW = FakeRegisterBus::FpgaWrite;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class Imx226Test : public ::testing::Test {
 protected:
  Imx226Test() : sensor(&bus, CSensorIMX226::kI2cAddress) {
    sensor.SetSleeper([this](uint32_t ms) { slept.push_back(ms); });
  }
  FakeRegisterBus bus;
  CSensorIMX226 sensor;
  std::vector<uint32_t> slept;
};

TEST_F(Imx226Test, ConstructionTouchesNoRegisterAndReportsThePowerOnState) {
  SensorInfo info{};
  ASSERT_EQ(sensor.GetSensorInfo(&info), 1);
  EXPECT_EQ(info.windowWidth, 4160);
  EXPECT_EQ(info.windowHeight, 3056);
  EXPECT_EQ(info.frameLines, 1582);
  EXPECT_EQ(info.exposureLines, 3075);
  EXPECT_EQ(info.exposureTime, 281);
  EXPECT_EQ(sensor.GetSensorInfo(nullptr), 0);
  EXPECT_TRUE(bus.Ops().empty());
}

// The full programming sequence of a full-resolution window at (x, y) of the given size.
std::vector<FW> FullWindowFpga(int w, int h, int vStart, int hStart) {
  return {{0x40, uint8_t(h)}, {0x41, uint8_t(h >> 8)}, {0x44, uint8_t(w)}, {0x45, uint8_t(w >> 8)},
          {0x50, 0x07},       {0x51, 0x0C},            {0x54, 0x39},       {0x55, 0x03},
          {0x48, uint8_t(vStart)}, {0x49, uint8_t(vStart >> 8)}, {0x4C, uint8_t(hStart)}, {0x4D, uint8_t(hStart >> 8)},
          {0x2E, 1}};
}

TEST_F(Imx226Test, FullResolutionWindowIsLimitedTo4000x3000AndProgrammedInOrder) {
  ASSERT_EQ(sensor.SetWindow(0, 4160, 0, 3056, 0), 1);
  EXPECT_THAT(bus.FpgaWrites(), ElementsAreArray(FullWindowFpga(4000, 3000, 40, 64)));
  EXPECT_THAT(bus.SensorWrites(), ElementsAre(SW{0x0003, 0x11}, SW{0x0004, 0x00}, SW{0x0005, 0x07}, SW{0x00B6, 0x47}));
  // FPGA window first, then the sensor's readout mode, then the settle pause.
  const auto ops = bus.Ops();
  EXPECT_EQ(ops.front().kind, BusOp::Kind::kFpgaWrite);
  EXPECT_EQ(ops.back().kind, BusOp::Kind::kI2cWrite);
  EXPECT_THAT(slept, ElementsAre(100u));
  int32_t x, w, y, h, m;
  ASSERT_EQ(sensor.GetWindow(&x, &w, &y, &h, &m), 1);
  EXPECT_EQ(w, 4000);
  EXPECT_EQ(h, 3000);
  EXPECT_EQ(m, 0);
  EXPECT_EQ(sensor.Info().frameLines, 3046);
}

TEST_F(Imx226Test, ReducedWindowProgramsTheSubSamplingTables) {
  ASSERT_EQ(sensor.SetWindow(16, 2048, 8, 1080, 17), 1);
  EXPECT_THAT(bus.FpgaWrites(),
              ElementsAre(FW{0x40, 0x38}, FW{0x41, 0x04}, FW{0x44, 0x00}, FW{0x45, 0x08}, FW{0x50, 0xA8}, FW{0x51, 0x08},
                          FW{0x54, 0x10}, FW{0x55, 0x02}, FW{0x48, 22}, FW{0x49, 0}, FW{0x4C, 48}, FW{0x4D, 0},
                          FW{0x2E, 0}));
  EXPECT_THAT(bus.SensorWrites(), ElementsAre(SW{0x0003, 0x33}, SW{0x0004, 0x89}, SW{0x0005, 0x4D}, SW{0x00B6, 0x67}));
}

TEST_F(Imx226Test, WindowAlignmentAndSizeRules) {
  struct Case {
    int x, width, y, height, mode;
    int storedWidth, storedHeight;  // 0: refused
  };
  const std::vector<Case> cases = {
      {0, 4160, 0, 3056, 0, 4000, 3000}, {0, 1000, 0, 800, 1, 500, 400},     {0, 2048, 0, 1080, 1, 2048, 1080},
      {0, 2048, 0, 1000, 1, 2048, 500},  {0, 4000, 0, 3000, 17, 2048, 1080}, {8, 4000, 4, 1000, 17, 2048, 500},
      {8, 800, 2, 600, 0, 800, 600},     {4, 800, 0, 600, 0, 0, 0},          {4, 800, 0, 600, 1, 0, 0},
      {0, 804, 0, 600, 0, 0, 0},         {0, 800, 0, 601, 0, 0, 0},          {0, 800, 2, 600, 1, 0, 0},
      {0, 800, 0, 602, 17, 0, 0},        {-8, 800, 0, 600, 0, 0, 0},         {0, 800, -2, 600, 0, 0, 0},
      {0, 800, 0, 600, 2, 0, 0},         {0, 800, 0, 600, 16, 0, 0},         {0, 0, 0, 600, 0, 0, 0},
      {0, 800, 0, 0, 1, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.x << "," << c.y << " " << c.width << "x" << c.height << " mode " << c.mode);
    ASSERT_EQ(sensor.SetWindow(0, 4160, 0, 3056, 0), 1);
    bus.ClearOps();
    const bool accepted = c.storedWidth != 0;
    EXPECT_EQ(sensor.SetWindow(c.x, c.width, c.y, c.height, c.mode), accepted ? 1 : 0);
    const SensorInfo& info = sensor.Info();
    if (!accepted) {
      EXPECT_TRUE(bus.Ops().empty());
      EXPECT_EQ(info.windowWidth, 4000);
      EXPECT_EQ(info.windowHeight, 3000);
      EXPECT_EQ(info.subSampleMode, 0);
      continue;
    }
    EXPECT_EQ(info.windowX, c.x);
    EXPECT_EQ(info.windowY, c.y);
    EXPECT_EQ(info.windowWidth, c.storedWidth);
    EXPECT_EQ(info.windowHeight, c.storedHeight);
    EXPECT_EQ(info.frameLines, c.storedHeight + 46);
    EXPECT_EQ(info.subSampleMode, c.mode);
    const auto fpga = bus.FpgaWrites();
    ASSERT_GE(fpga.size(), 4u);
    EXPECT_EQ(fpga[0].value | fpga[1].value << 8, c.storedHeight);
    EXPECT_EQ(fpga[2].value | fpga[3].value << 8, c.storedWidth);
  }
}

TEST(Imx226NoController, WindowIsStoredWithoutController) {
  CSensorIMX226 sensor(nullptr, 0x48);
  EXPECT_EQ(sensor.SetWindow(0, 1000, 0, 800, 1), 1);
  EXPECT_EQ(sensor.Info().windowWidth, 500);
  EXPECT_EQ(sensor.SetGlobalGain(10), 0);
  EXPECT_EQ(sensor.SetMirrorV(1), 0);
  EXPECT_EQ(sensor.Info().mirrorV, 0);
  int32_t v = 0;
  EXPECT_EQ(sensor.ReadRegister(0, &v), 0);
  EXPECT_EQ(sensor.RearmReadout(), 0);
  EXPECT_EQ(sensor.PulseFpgaRegister130(), 0);
}

// Exposure lines become N whole frame periods and a shutter start S = (N + 1) * period - lines, S >= 8;
// the lines are limited as unsigned values to 4 .. 0x0C06FFF8 and to what N's 16 bits can express: the
// longest exposure is 65535 periods with S = 8, never a 65536 that wraps to 0. Full-mode rows come first.
TEST_F(Imx226Test, ExposureWritesPeriodsThenShutterStart) {
  struct Case {
    int lines, subSample, storedLines, periods, shutter;
  };
  const std::vector<Case> cases = {
      {1, 0, 4, 0, 3075},     {0, 0, 4, 0, 3075},       {3072, 0, 3072, 1, 3086},   {3071, 0, 3071, 0, 8},
      {3075, 0, 3075, 1, 3083}, {10000, 0, 10000, 3, 2316}, {0x0C06FFF0, 0, 0x0C06FFF0, 65535, 16},
      {0x7FFFFFFF, 0, 0x0C06FFF8, 65535, 8}, {-1, 0, 0x0C06FFF8, 65535, 8},
      {2267, 1, 2267, 0, 8},  {2268, 1, 2268, 1, 2282}, {100, 17, 100, 0, 2175},
      {0x0C06FFF8, 1, 2275 * 65536 - 8, 65535, 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.lines << " lines, mode " << c.subSample);
    if (c.subSample != 0) {
      ASSERT_EQ(sensor.SetWindow(0, 2048, 0, 1080, c.subSample), 1);
    }
    bus.ClearOps();
    ASSERT_EQ(sensor.SetExposureLines(c.lines), 1);
    EXPECT_THAT(bus.SensorWrites(),
                ElementsAre(SW{0x000D, uint8_t(c.periods)}, SW{0x000E, uint8_t(c.periods >> 8)},
                            SW{0x000B, uint8_t(c.shutter)}, SW{0x000C, uint8_t(c.shutter >> 8)}));
    int32_t lines = 0;
    ASSERT_EQ(sensor.GetExposureLines(&lines), 1);
    EXPECT_EQ(lines, c.storedLines);
  }
}

TEST_F(Imx226Test, FailedLastExposureWriteKeepsTheLines) {
  bus.SetFailWhen([](const BusOp& op) {
    return op.kind == BusOp::Kind::kI2cWrite && op.bytes.size() == 3 && op.bytes[1] == 0x0C;
  });
  EXPECT_EQ(sensor.SetExposureLines(500), 0);
  EXPECT_EQ(sensor.Info().exposureLines, 3075);
  EXPECT_EQ(sensor.SetExposureTime(100), 0);
  EXPECT_EQ(sensor.Info().exposureTime, 281);
}

TEST_F(Imx226Test, ExposureTimeConvertsToLinesOfTheReadoutMode) {
  ASSERT_EQ(sensor.SetExposureTime(281), 1);
  EXPECT_EQ(sensor.Info().exposureLines, 2452);
  EXPECT_EQ(sensor.Info().exposureTime, 281);
  ASSERT_EQ(sensor.SetExposureTime(20000), 1);
  EXPECT_EQ(sensor.Info().exposureLines, 174545);  // trunc(((1.44e9 - 201) / 825) / 10)
  ASSERT_EQ(sensor.SetExposureTime(0), 1);
  EXPECT_EQ(sensor.Info().exposureLines, 4);
  ASSERT_EQ(sensor.SetExposureTime(-50), 1);  // the shortest exposure, never the longest
  EXPECT_EQ(sensor.Info().exposureLines, 4);
  ASSERT_EQ(sensor.SetWindow(0, 2048, 0, 1080, 1), 1);
  ASSERT_EQ(sensor.SetExposureTime(281), 1);
  EXPECT_EQ(sensor.Info().exposureLines, 3831);  // trunc(((20232000 - 149) / 528) / 10)
}

TEST_F(Imx226Test, GlobalGainIsClampedAndSplitOverTwoRegisters) {
  ASSERT_EQ(sensor.SetGlobalGain(5000), 1);
  EXPECT_THAT(bus.SensorWrites(), ElementsAre(SW{0x0009, 0xA5}, SW{0x000A, 0x07}, SW{0x0352, 60}, SW{0x0353, 0},
                                              SW{0x0356, 59}, SW{0x0357, 0}));
  int32_t gain = 0;
  ASSERT_EQ(sensor.GetGlobalGain(&gain), 1);
  EXPECT_EQ(gain, 1957);
  ASSERT_EQ(sensor.SetGlobalGain(-1), 1);  // unsigned: clamped to the maximum
  EXPECT_EQ(sensor.Info().gain, 1957);
}

TEST_F(Imx226Test, ReducedModeGainCompensationFollowsTheGainBands) {
  ASSERT_EQ(sensor.SetWindow(0, 2048, 0, 1080, 1), 1);
  const std::vector<std::tuple<int, int, int>> bands = {{0, 30, 29},     {326, 30, 29},   {327, 32, 31},
                                                        {1024, 32, 31},  {1025, 37, 36},  {1324, 37, 36},
                                                        {1325, 39, 38},  {1686, 39, 38},  {1687, 43, 42},
                                                        {1867, 43, 42},  {1868, 47, 46},  {1957, 47, 46}};
  for (const auto& [g, c1, c2] : bands) {
    bus.ClearOps();
    ASSERT_EQ(sensor.SetGlobalGain(g), 1);
    EXPECT_THAT(bus.SensorWrites(),
                ElementsAre(SW{0x0009, uint8_t(g)}, SW{0x000A, uint8_t((g >> 8) & 7)}, SW{0x0352, uint8_t(c1)},
                            SW{0x0353, 0}, SW{0x0356, uint8_t(c2)}, SW{0x0357, 0}))
        << "gain " << g;
  }
}

TEST_F(Imx226Test, FailedFirstGainWriteChangesNothing) {
  bus.SetFailWhen([](const BusOp& op) { return op.kind == BusOp::Kind::kI2cWrite; });
  EXPECT_EQ(sensor.SetGlobalGain(100), 0);
  EXPECT_EQ(sensor.Info().gain, 0);
  EXPECT_EQ(bus.Ops().size(), 1u);
}

TEST_F(Imx226Test, MirrorVWritesSensorThenFpgaStart) {
  ASSERT_EQ(sensor.SetWindow(0, 4000, 10, 2000, 0), 1);
  bus.ClearOps();
  ASSERT_EQ(sensor.SetMirrorV(1), 1);
  EXPECT_THAT(bus.SensorWrites(), ElementsAre(SW{0x001A, 1}));
  EXPECT_THAT(bus.FpgaWrites(), ElementsAre(FW{0x48, 51}, FW{0x49, 0}));
  EXPECT_EQ(sensor.AlternateTimingFlag(), 1);
  bus.ClearOps();
  // The next window keeps the mirror's extra line.
  ASSERT_EQ(sensor.SetWindow(0, 4000, 300, 2000, 0), 1);
  EXPECT_EQ(bus.FpgaWrites()[8], (FW{0x48, uint8_t(341)}));
  EXPECT_EQ(bus.FpgaWrites()[9], (FW{0x49, uint8_t(341 >> 8)}));
  bus.ClearOps();
  ASSERT_EQ(sensor.SetMirrorV(0), 1);
  EXPECT_THAT(bus.FpgaWrites(), ElementsAre(FW{0x48, uint8_t(340)}, FW{0x49, 1}));
  ASSERT_EQ(sensor.SetWindow(0, 2048, 8, 1080, 1), 1);
  bus.ClearOps();
  ASSERT_EQ(sensor.SetMirrorV(1), 1);
  EXPECT_THAT(bus.FpgaWrites(), ElementsAre(FW{0x48, 22}, FW{0x49, 0}));
}

TEST_F(Imx226Test, FailedMirrorVWriteKeepsTheFlag) {
  bus.SetFailWhen([](const BusOp& op) { return op.kind == BusOp::Kind::kI2cWrite; });
  EXPECT_EQ(sensor.SetMirrorV(1), 0);
  EXPECT_EQ(sensor.Info().mirrorV, 0);
  EXPECT_TRUE(bus.FpgaWrites().empty());
}

TEST_F(Imx226Test, MirrorHIsStoredButReportedUnsupported) {
  EXPECT_EQ(sensor.SetMirrorH(1), 0);
  int32_t flag = 0;
  ASSERT_EQ(sensor.GetMirrorH(&flag), 1);
  EXPECT_EQ(flag, 1);
  EXPECT_TRUE(bus.Ops().empty());
}

TEST_F(Imx226Test, BitDepthWritesLineLengthAndReappliesTheWindow) {
  ASSERT_EQ(sensor.SetWindow(0, 4000, 0, 3000, 0), 1);
  bus.ClearOps();
  ASSERT_EQ(sensor.SetBitDepth(1), 1);
  const auto writes = bus.SensorWrites();
  ASSERT_GE(writes.size(), 2u);
  EXPECT_EQ(writes[0], (SW{0x0214, 0x5A}));
  EXPECT_EQ(writes[1], (SW{0x0215, 0x03}));
  EXPECT_EQ(sensor.Info().lineLength, 4576);
  EXPECT_EQ(sensor.Info().bitsPerPixel, 16);
  EXPECT_THAT(bus.FpgaWrites(), ElementsAreArray(FullWindowFpga(4000, 3000, 40, 64)));
  bus.ClearOps();
  ASSERT_EQ(sensor.SetBitDepth(0), 1);
  EXPECT_EQ(bus.SensorWrites()[0], (SW{0x0214, 0xBC}));
  EXPECT_EQ(bus.SensorWrites()[1], (SW{0x0215, 0x01}));
  EXPECT_EQ(sensor.Info().lineLength, 2368);
  EXPECT_EQ(sensor.Info().bitsPerPixel, 8);
}

TEST_F(Imx226Test, ApplyDefaultsRestoresGainLinesMirrorsAndFullWindow) {
  ASSERT_EQ(sensor.SetGlobalGain(700), 1);
  ASSERT_EQ(sensor.SetWindow(0, 2048, 0, 1080, 1), 1);
  bus.ClearOps();
  ASSERT_EQ(sensor.ApplyDefaults(), 1);
  const auto writes = bus.SensorWrites();
  // gain (6 writes), exposure (4), mirror V (1), readout mode of the window (4); mirror H writes nothing.
  ASSERT_EQ(writes.size(), 15u);
  EXPECT_EQ(writes[0], (SW{0x0009, 0}));
  EXPECT_EQ(writes[2], (SW{0x0352, 30}));  // still in the reduced mode when the gain is applied
  EXPECT_EQ(writes[6], (SW{0x000D, 1}));  // 3075 lines exceed the reduced mode's period
  EXPECT_EQ(writes[10], (SW{0x001A, 0}));
  EXPECT_EQ(writes[11], (SW{0x0003, 0x11}));
  const SensorInfo& info = sensor.Info();
  EXPECT_EQ(info.windowWidth, 4000);
  EXPECT_EQ(info.windowHeight, 3000);
  EXPECT_EQ(info.subSampleMode, 0);
  EXPECT_EQ(info.gain, 0);
  EXPECT_EQ(info.exposureLines, 3075);
}

TEST_F(Imx226Test, RegisterAccessSendsAddressHighFirst) {
  ASSERT_EQ(sensor.WriteRegister(0x1234, 0x1AB), 1);
  bus.SetSensorRegister(0x0300, 0x9C);
  int32_t value = -1;
  ASSERT_EQ(sensor.ReadRegister(0x0300, &value), 1);
  EXPECT_EQ(value, 0x9C);
  const auto ops = bus.Ops();
  ASSERT_EQ(ops.size(), 3u);
  EXPECT_EQ(ops[0].device, 0x48);
  EXPECT_THAT(ops[0].bytes, ElementsAre(0x12, 0x34, 0xAB));
  EXPECT_EQ(ops[1].kind, BusOp::Kind::kI2cWrite);
  EXPECT_THAT(ops[1].bytes, ElementsAre(0x03, 0x00));
  EXPECT_EQ(ops[2].kind, BusOp::Kind::kI2cRead);
  EXPECT_EQ(ops[2].device, 0x48);
  EXPECT_EQ(sensor.WriteRegisterChecked(0x0001, 2), 1);
}

TEST_F(Imx226Test, ReadRetryGivesUpAfterThirtyAttempts) {
  int reads = 0;
  bus.SetFailWhen([&reads](const BusOp& op) { return op.kind == BusOp::Kind::kI2cRead && ++reads < 30; });
  bus.SetSensorRegister(0x0010, 0x42);
  int32_t value = -1;
  ASSERT_EQ(sensor.ReadRegisterRetry(0x0010, &value), 1);  // the 30th attempt succeeds
  EXPECT_EQ(value, 0x42);
  reads = -100;
  value = -1;
  EXPECT_EQ(sensor.ReadRegisterRetry(0x0010, &value), 0);
  EXPECT_EQ(value, -1);
  EXPECT_EQ(sensor.ReadRegister(0x0010, nullptr), 0);
}

TEST_F(Imx226Test, RearmPulsesRegister108AndStartupPulsesRegister130) {
  ASSERT_EQ(sensor.RearmReadout(), 1);
  EXPECT_THAT(bus.FpgaWrites(), ElementsAre(FW{0x6C, 1}, FW{0x6C, 0}));
  EXPECT_THAT(slept, ElementsAre(1u, 1u));
  bus.ClearOps();
  slept.clear();
  sensor.SetVariant(103);
  ASSERT_EQ(sensor.RearmReadout(), 1);
  EXPECT_THAT(bus.FpgaWrites(), ElementsAre(FW{0x96, 1}, FW{0x96, 0}));
  bus.ClearOps();
  slept.clear();
  bus.SetFpgaRegister(0x82, 0xA5);
  ASSERT_EQ(sensor.PulseFpgaRegister130(), 1);
  EXPECT_EQ(bus.Ops()[0].kind, BusOp::Kind::kFpgaRead);
  EXPECT_THAT(bus.FpgaWrites(), ElementsAre(FW{0x82, 0xA4}, FW{0x82, 0xA5}, FW{0x82, 0xA4}));
  EXPECT_THAT(slept, ElementsAre(50u, 50u));
}

TEST_F(Imx226Test, ConcurrentReadsKeepAddressAndDataPhasesTogether) {
  for (int i = 0; i < 4; ++i) bus.SetSensorRegister(static_cast<uint16_t>(0x100 + i), static_cast<uint8_t>(0x10 + i));
  std::vector<std::thread> threads;
  std::atomic<int> mismatches{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        int32_t v = 0;
        if (sensor.ReadRegister(0x100 + t, &v) != 1 || v != 0x10 + t) ++mismatches;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
