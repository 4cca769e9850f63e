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

// FPGA geometry first, then the sensor's readout mode, then the settle pause; full resolution is limited
// to 4000 x 3000. A bit depth change writes the line length and reprograms the same window.
TEST_F(Imx226Test, WindowAndBitDepthSequences) {
  ASSERT_EQ(sensor.SetWindow(0, 4160, 0, 3056, 0), 1);
  const std::vector<FW> full = {{0x40, 0xB8}, {0x41, 0x0B}, {0x44, 0xA0}, {0x45, 0x0F}, {0x50, 0x07},
                                {0x51, 0x0C}, {0x54, 0x39}, {0x55, 0x03}, {0x48, 40},   {0x49, 0},
                                {0x4C, 64},   {0x4D, 0},    {0x2E, 1}};
  EXPECT_THAT(bus.FpgaWrites(), ElementsAreArray(full));
  EXPECT_THAT(bus.SensorWrites(), ElementsAre(SW{0x0003, 0x11}, SW{0x0004, 0x00}, SW{0x0005, 0x07}, SW{0x00B6, 0x47}));
  EXPECT_EQ(bus.Ops().front().kind, BusOp::Kind::kFpgaWrite);
  EXPECT_EQ(bus.Ops().back().kind, BusOp::Kind::kI2cWrite);
  EXPECT_THAT(slept, ElementsAre(100u));
  bus.ClearOps();
  ASSERT_EQ(sensor.SetBitDepth(1), 1);
  const auto depth = bus.SensorWrites();
  ASSERT_GE(depth.size(), 2u);
  EXPECT_THAT(std::vector<SW>(depth.begin(), depth.begin() + 2), ElementsAre(SW{0x0214, 0x5A}, SW{0x0215, 0x03}));
  EXPECT_THAT(bus.FpgaWrites(), ElementsAreArray(full));
  EXPECT_EQ(sensor.Info().lineLength, 4576);
  bus.ClearOps();
  ASSERT_EQ(sensor.SetWindow(16, 2048, 8, 1080, 17), 1);
  EXPECT_THAT(bus.FpgaWrites(),
              ElementsAre(FW{0x40, 0x38}, FW{0x41, 0x04}, FW{0x44, 0x00}, FW{0x45, 0x08}, FW{0x50, 0xA8}, FW{0x51, 0x08},
                          FW{0x54, 0x10}, FW{0x55, 0x02}, FW{0x48, 22}, FW{0x49, 0}, FW{0x4C, 48}, FW{0x4D, 0},
                          FW{0x2E, 0}));
  EXPECT_THAT(bus.SensorWrites(), ElementsAre(SW{0x0003, 0x33}, SW{0x0004, 0x89}, SW{0x0005, 0x4D}, SW{0x00B6, 0x67}));
}

// Stored width/height 0: refused, nothing written, the previous window kept.
TEST_F(Imx226Test, WindowAlignmentAndSizeRules) {
  struct Case {
    int x, width, y, height, mode, storedWidth, storedHeight;
  };
  for (const Case& c : std::vector<Case>{{0, 1000, 0, 800, 1, 500, 400},   {0, 2048, 0, 1000, 1, 2048, 500},
                                         {0, 4000, 0, 3000, 17, 2048, 1080}, {8, 800, 2, 600, 0, 800, 600},
                                         {4, 800, 0, 600, 0, 0, 0},          {0, 804, 0, 600, 0, 0, 0},
                                         {0, 800, 0, 601, 0, 0, 0},          {0, 800, 2, 600, 1, 0, 0},
                                         {0, 800, 0, 602, 17, 0, 0},         {-8, 800, 0, 600, 0, 0, 0},
                                         {0, 800, -2, 600, 0, 0, 0},         {0, 800, 0, 600, 2, 0, 0},
                                         {0, 0, 0, 600, 0, 0, 0},            {0, 800, 0, 0, 1, 0, 0}}) {
    SCOPED_TRACE(::testing::Message() << c.x << "," << c.y << " " << c.width << "x" << c.height << " mode " << c.mode);
    ASSERT_EQ(sensor.SetWindow(0, 4160, 0, 3056, 0), 1);
    bus.ClearOps();
    const bool accepted = c.storedWidth != 0;
    EXPECT_EQ(sensor.SetWindow(c.x, c.width, c.y, c.height, c.mode), accepted ? 1 : 0);
    EXPECT_EQ(bus.Ops().empty(), !accepted);
    EXPECT_EQ(sensor.Info().windowWidth, accepted ? c.storedWidth : 4000);
    EXPECT_EQ(sensor.Info().windowHeight, accepted ? c.storedHeight : 3000);
    EXPECT_EQ(sensor.Info().subSampleMode, accepted ? c.mode : 0);
  }
}

TEST(Imx226NoController, WindowIsStoredAndRegisterAccessFails) {
  CSensorIMX226 sensor(nullptr, 0x48);
  EXPECT_EQ(sensor.SetWindow(0, 1000, 0, 800, 1), 1);
  EXPECT_EQ(sensor.Info().windowWidth, 500);
  EXPECT_EQ(sensor.SetGlobalGain(10), 0);
  EXPECT_EQ(sensor.SetMirrorV(1), 0);
  EXPECT_EQ(sensor.Info().mirrorV, 0);
  int32_t v = 0;
  EXPECT_EQ(sensor.ReadRegister(0, &v), 0);
  EXPECT_EQ(sensor.RearmReadout(), 0);
  EXPECT_EQ(sensor.PulseFpgaStartup(), 0);
}

// Lines become N whole frame periods and a shutter start S = (N + 1) * period - lines, S >= 8, lines
// unsigned and limited to 4 .. 0x0C06FFF8 and to what N's 16 bits hold: the longest exposure is 65535
// periods with S = 8, never a 65536 that wraps to 0. Full-mode rows come first.
TEST_F(Imx226Test, ExposureWritesPeriodsThenShutterStart) {
  struct Case {
    int lines, subSample, storedLines, periods, shutter;
  };
  for (const Case& c : std::vector<Case>{
           {0, 0, 4, 0, 3075}, {3072, 0, 3072, 1, 3086}, {3071, 0, 3071, 0, 8}, {10000, 0, 10000, 3, 2316},
           {0x0C06FFF0, 0, 0x0C06FFF0, 65535, 16}, {0x7FFFFFFF, 0, 0x0C06FFF8, 65535, 8}, {-1, 0, 0x0C06FFF8, 65535, 8},
           {2267, 1, 2267, 0, 8}, {2268, 1, 2268, 1, 2282}, {100, 17, 100, 0, 2175},
           {0x0C06FFF8, 1, 2275 * 65536 - 8, 65535, 8}}) {
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

TEST_F(Imx226Test, ExposureTimeConvertsToLinesOfTheReadoutMode) {
  for (const auto& [time, lines] : std::vector<std::pair<int, int>>{{281, 2452}, {20000, 174545}, {0, 4}, {-50, 4}}) {
    ASSERT_EQ(sensor.SetExposureTime(time), 1);
    EXPECT_EQ(sensor.Info().exposureLines, lines) << time;  // a negative time is the shortest, never the longest
  }
  ASSERT_EQ(sensor.SetWindow(0, 2048, 0, 1080, 1), 1);
  ASSERT_EQ(sensor.SetExposureTime(281), 1);
  EXPECT_EQ(sensor.Info().exposureLines, 3831);
}

// Gain is unsigned, clamped to 1957; the reduced mode adds compensation by gain band.
TEST_F(Imx226Test, GainIsClampedAndCompensatedByBand) {
  ASSERT_EQ(sensor.SetGlobalGain(5000), 1);
  EXPECT_THAT(bus.SensorWrites(), ElementsAre(SW{0x0009, 0xA5}, SW{0x000A, 0x07}, SW{0x0352, 60}, SW{0x0353, 0},
                                              SW{0x0356, 59}, SW{0x0357, 0}));
  ASSERT_EQ(sensor.SetGlobalGain(-1), 1);
  EXPECT_EQ(sensor.Info().gain, 1957);
  ASSERT_EQ(sensor.SetWindow(0, 2048, 0, 1080, 1), 1);
  for (const auto& [g, c1] : std::vector<std::pair<int, int>>{{0, 30},    {326, 30},  {327, 32},  {1024, 32},
                                                              {1025, 37}, {1324, 37}, {1325, 39}, {1686, 39},
                                                              {1687, 43}, {1867, 43}, {1868, 47}, {1957, 47}}) {
    bus.ClearOps();
    ASSERT_EQ(sensor.SetGlobalGain(g), 1);
    EXPECT_THAT(bus.SensorWrites(),
                ElementsAre(SW{0x0009, uint8_t(g)}, SW{0x000A, uint8_t((g >> 8) & 7)}, SW{0x0352, uint8_t(c1)},
                            SW{0x0353, 0}, SW{0x0356, uint8_t(c1 - 1)}, SW{0x0357, 0}))
        << "gain " << g;
  }
}

TEST_F(Imx226Test, FailedWritesKeepTheState) {
  bus.SetFailWhen([](const BusOp& op) {
    return op.kind == BusOp::Kind::kI2cWrite && op.bytes.size() == 3 && op.bytes[1] == 0x0C;
  });
  EXPECT_EQ(sensor.SetExposureLines(500), 0);  // the last of the four writes fails
  EXPECT_EQ(sensor.Info().exposureLines, 3075);
  EXPECT_EQ(sensor.SetExposureTime(100), 0);
  EXPECT_EQ(sensor.Info().exposureTime, 281);
  bus.ClearOps();
  bus.SetFailWhen([](const BusOp& op) { return op.kind == BusOp::Kind::kI2cWrite; });
  EXPECT_EQ(sensor.SetGlobalGain(100), 0);
  EXPECT_EQ(sensor.Info().gain, 0);
  EXPECT_EQ(sensor.SetMirrorV(1), 0);
  EXPECT_EQ(sensor.Info().mirrorV, 0);
  EXPECT_EQ(bus.Ops().size(), 2u);  // one failed write each, no FPGA write
  EXPECT_EQ(sensor.SetMirrorH(1), 0);  // unsupported
}

TEST_F(Imx226Test, MirrorVMovesTheFpgaStartLine) {
  ASSERT_EQ(sensor.SetWindow(0, 4000, 10, 2000, 0), 1);
  bus.ClearOps();
  ASSERT_EQ(sensor.SetMirrorV(1), 1);
  EXPECT_THAT(bus.SensorWrites(), ElementsAre(SW{0x001A, 1}));
  EXPECT_THAT(bus.FpgaWrites(), ElementsAre(FW{0x48, 51}, FW{0x49, 0}));
  bus.ClearOps();
  ASSERT_EQ(sensor.SetWindow(0, 4000, 300, 2000, 0), 1);  // keeps the mirror's extra line
  EXPECT_EQ(bus.FpgaWrites()[8], (FW{0x48, uint8_t(341)}));
  bus.ClearOps();
  ASSERT_EQ(sensor.SetMirrorV(0), 1);
  EXPECT_THAT(bus.FpgaWrites(), ElementsAre(FW{0x48, uint8_t(340)}, FW{0x49, 1}));
}

// The geometry the device core asks for before streaming leaves the window registers as the window
// operation set them (same start margins, mirror line included); only the line length is the caller's.
TEST_F(Imx226Test, FpgaGeometryAgreesWithTheWindowItRepeats) {
  struct Case {
    int32_t x, width, y, height, mode, mirrorV, lineLength;
  };
  const Case cases[] = {{0, 4000, 0, 3000, 0, 0, 4000}, {8, 640, 10, 480, 0, 1, 640},
                        {16, 2048, 8, 1080, 17, 0, 4096}, {264, 1000, 300, 500, 1, 1, 500}};
  for (const Case& c : cases) {
    ASSERT_EQ(sensor.SetMirrorV(c.mirrorV), 1);
    ASSERT_EQ(sensor.SetWindow(c.x, c.width, c.y, c.height, c.mode), 1);
    const uint8_t vStartLow = bus.FpgaRegister(0x48), vStartHigh = bus.FpgaRegister(0x49);
    const uint8_t hStartLow = bus.FpgaRegister(0x4C), hStartHigh = bus.FpgaRegister(0x4D);
    const int32_t height = sensor.Info().windowHeight;
    bus.ClearOps();
    ASSERT_EQ(sensor.WriteFpgaGeometry(c.lineLength), 1);
    EXPECT_THAT(bus.FpgaWrites(),
                ElementsAre(FW{0x44, uint8_t(c.lineLength)}, FW{0x45, uint8_t(c.lineLength >> 8)},
                            FW{0x40, uint8_t(height)}, FW{0x41, uint8_t(height >> 8)}, FW{0x48, vStartLow},
                            FW{0x49, vStartHigh}, FW{0x4C, hStartLow}, FW{0x4D, hStartHigh}))
        << c.x << "," << c.y << " mode " << c.mode << " mirror " << c.mirrorV;
  }
  CSensorIMX226 unattached(nullptr, CSensorIMX226::kI2cAddress);
  EXPECT_EQ(unattached.WriteFpgaGeometry(4000), 0);
}

TEST_F(Imx226Test, RegisterAccessSendsAddressHighFirstAndRetriesReads) {
  ASSERT_EQ(sensor.WriteRegister(0x1234, 0x1AB), 1);
  EXPECT_THAT(bus.Ops()[0].bytes, ElementsAre(0x12, 0x34, 0xAB));
  bus.ClearOps();
  int reads = 0;
  bus.SetFailWhen([&reads](const BusOp& op) { return op.kind == BusOp::Kind::kI2cRead && ++reads < 30; });
  bus.SetSensorRegister(0x0310, 0x42);
  int32_t value = -1;
  ASSERT_EQ(sensor.ReadRegisterRetry(0x0310, &value), 1);  // the 30th attempt succeeds
  EXPECT_EQ(value, 0x42);
  EXPECT_THAT(bus.Ops()[0].bytes, ElementsAre(0x03, 0x10));
  reads = -100;
  value = -1;
  EXPECT_EQ(sensor.ReadRegisterRetry(0x0310, &value), 0);
  EXPECT_EQ(value, -1);
  EXPECT_EQ(sensor.ReadRegister(0x0310, nullptr), 0);
}

TEST_F(Imx226Test, ConcurrentReadsKeepAddressAndDataPhasesTogether) {
  for (int i = 0; i < 4; ++i) bus.SetSensorRegister(static_cast<uint16_t>(0x100 + i), static_cast<uint8_t>(0x10 + i));
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
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
