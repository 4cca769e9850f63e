#include "image/defect_mask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <random>
#include <thread>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "../unusual_files.h"
#include "image/defect_kernels.h"
#include "image/row_pool.h"
#include "image_test_util.h"

namespace orvane::image {
namespace {

constexpr int kW = DefectMask::kWidth;
constexpr int kH = DefectMask::kHeight;

using test::Fill;
using test::Get;
using test::Set;

// Every kernel set this CPU runs, each with no pool (one thread) and pools of two and three threads.
struct Variant {
  const MaskKernels* kernels;
  RowPool* pool;
};
std::vector<Variant> Variants() {
  static RowPool two(2), three(3);
  std::vector<Variant> all;
  for (const MaskKernels* k : {&BaselineMaskKernels(), Avx2MaskKernels(), Avx512MaskKernels()}) {
    for (RowPool* pool : {static_cast<RowPool*>(nullptr), &two, &three}) {
      if (k != nullptr) all.push_back({k, pool});
    }
  }
  return all;
}
::testing::Message Describe(const Variant& v) {
  return ::testing::Message() << v.kernels->name << ", " << (v.pool != nullptr ? v.pool->Threads() : 1)
                              << " threads";
}

// Test processes (of this build or another one on the machine) run at once: every file name of this
// process carries its own suffix, so that none removes or overwrites another's mask file.
std::string TempPath(const char* name) {
  static const std::string suffix = std::to_string(std::random_device{}());
  return ::testing::TempDir() + "orvane_mask_" + name + "_" + suffix;
}
std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(DefectMask, NothingIsAllocatedBeforeFirstUseAndEverythingReadsZero) {
  DefectMask mask;
  EXPECT_EQ(mask.Reference8(0), nullptr);
  DibImage frame, before;
  ASSERT_TRUE(frame.Create(16, 8, 8));
  test::FillRandom(frame, 1);
  test::CopyPixels(before, frame);
  mask.CorrectShading(frame, 0, 0);
  EXPECT_TRUE(test::SamePixels(frame, before));
  EXPECT_FALSE(mask.Allocated());
  const std::string path = TempPath("zero");
  ASSERT_EQ(mask.Save(path.c_str()), MaskStatus::kOk);
  const std::vector<uint8_t> bytes = ReadFile(path);
  ASSERT_EQ(bytes.size(), 72000040u);
  EXPECT_EQ(0, std::memcmp(bytes.data(), "KAVRIN MASK1000", 16));
  EXPECT_TRUE(std::all_of(bytes.begin() + 40, bytes.end(), [](uint8_t b) { return b == 0; }));
  std::remove(path.c_str());
}

TEST(DefectMask, SavedFileHasTheExactLayoutAndFaultyFilesLeaveTheLoadedReferences) {
  DefectMask mask;
  DibImage frame8, frame16;
  ASSERT_TRUE(frame8.Create(kW, kH, 8));
  ASSERT_TRUE(frame16.Create(kW, kH, 16));
  test::FillRandom(frame8, 10, 0);
  test::FillRandom(frame16, 11, 0);
  ASSERT_EQ(mask.Capture(frame8, 0), MaskStatus::kOk);
  ASSERT_EQ(mask.Capture(frame16, 1), MaskStatus::kOk);
  const std::string path = TempPath("roundtrip");
  ASSERT_EQ(mask.Save(path.c_str()), MaskStatus::kOk);
  const std::vector<uint8_t> bytes = ReadFile(path);
  ASSERT_EQ(bytes.size(), 72000040u);
  uint32_t fields[6];
  std::memcpy(fields, bytes.data() + 16, sizeof fields);
  EXPECT_EQ(std::vector<uint32_t>(fields, fields + 6),
            (std::vector<uint32_t>{4000, 3000, 12000000, 12000000, 24000000, 24000000}));
  EXPECT_EQ(0, std::memcmp(bytes.data() + 40, frame8.Bits(), 12000000));
  EXPECT_EQ(0, std::memcmp(bytes.data() + 48000040, frame16.Bits(), 24000000));

  DefectMask loaded;
  ASSERT_EQ(loaded.Load(path.c_str()), MaskStatus::kOk);
  EXPECT_EQ(0, std::memcmp(loaded.Reference8(0), frame8.Bits(), 12000000));
  EXPECT_EQ(0, std::memcmp(loaded.Reference16(1), frame16.Bits(), 24000000));
  // Maps rebuilt after the load, with the border left clear.
  const size_t inner = 100 * static_cast<size_t>(kW) + 100;
  EXPECT_EQ(loaded.Map(8, 0)[inner], frame8.Bits()[inner] > 192 ? 1 : 0);
  EXPECT_EQ(loaded.Map(16, 1)[inner], reinterpret_cast<const uint16_t*>(frame16.Bits())[inner] < 4096 ? 1 : 0);
  EXPECT_EQ(loaded.Map(8, 1)[inner], 1);  // the 8-bit bright reference is all zero: every inner pixel dead
  EXPECT_EQ(loaded.Map(8, 1)[1], 0);

  // A refused file, even one failing part-way through the blocks, replaces nothing.
  constexpr struct {
    const char* what;
    size_t offset;  // byte to change, or the length to cut the file to
    uint8_t value;
    bool truncate;
  } kFaults[] = {{"magic", 0, 'X', false},        {"magic terminator", 15, 'Z', false},
                 {"width 3999", 16, 0x9F, false}, {"height", 20, 0xB9, false},
                 {"dark8 size", 24, 1, false},    {"bright8 size", 28, 1, false},
                 {"dark16 size", 32, 1, false},   {"bright16 size", 39, 2, false},
                 {"short header", 39, 0, true},   {"short block", 60000000, 0, true}};
  const std::string bad = TempPath("bad");
  for (const auto& f : kFaults) {
    // A header fault is refused before any block is read: the header and a little data suffice.
    std::vector<uint8_t> copy(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(f.truncate ? f.offset : 4096));
    if (!f.truncate) copy[f.offset] = f.value;
    std::ofstream(bad, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(copy.data()), static_cast<std::streamsize>(copy.size()));
    EXPECT_EQ(loaded.Load(bad.c_str()), MaskStatus::kFileFormat) << f.what;
    ASSERT_EQ(0, std::memcmp(loaded.Reference8(0), frame8.Bits(), 12000000)) << f.what;
    ASSERT_EQ(0, std::memcmp(loaded.Reference16(1), frame16.Bits(), 24000000)) << f.what;
  }
  EXPECT_EQ(loaded.Load(TempPath("missing").c_str()), MaskStatus::kFileOpen);
  EXPECT_EQ(loaded.Save("/nonexistent-dir/mask.bin"), MaskStatus::kFileOpen);
  if (std::FILE* full = std::fopen("/dev/full", "wb")) {
    std::fclose(full);
    EXPECT_EQ(loaded.Save("/dev/full"), MaskStatus::kFileWrite);
  }
  std::remove(path.c_str());
  std::remove(bad.c_str());
}

#ifndef _WIN32
TEST(DefectMask, ALoadRefusesAnythingButARegularFileOfAtMostTheFormatsSize) {
  orvane::test::SpecialFiles files;
  DefectMask empty;
  const std::string good = TempPath("regular");
  ASSERT_EQ(empty.Save(good.c_str()), MaskStatus::kOk);
  std::string header(40, '\0');
  std::ifstream(good, std::ios::binary).read(header.data(), 40);
  const struct {
    const char* what;
    std::string path;
    MaskStatus status;
  } kRefused[] = {{"directory", files.Directory(), MaskStatus::kFileFormat},
                  {"zero device", files.ZeroDevice(), MaskStatus::kFileFormat},
                  {"fifo", files.Fifo(), MaskStatus::kFileFormat},
                  {"one byte longer than a mask file", files.Sized("long", DefectMask::kFileSize + 1, header),
                   MaskStatus::kFileFormat}};
  for (const auto& refused : kRefused) {
    DefectMask mask;
    MaskStatus status = MaskStatus::kOk;
    EXPECT_TRUE(files.ReturnsWithoutBlocking([&] { status = mask.Load(refused.path.c_str()); })) << refused.what;
    EXPECT_EQ(status, refused.status) << refused.what;
    EXPECT_FALSE(mask.Allocated()) << refused.what;
  }
  DefectMask mask;
  EXPECT_EQ(mask.Load(good.c_str()), MaskStatus::kOk);
  std::remove(good.c_str());
}
#endif

TEST(DefectMask, CaptureCopiesOnlyAFullSizeFrame) {
  DefectMask mask;
  DibImage full, cropped;
  ASSERT_TRUE(full.Create(kW, kH, 16));
  ASSERT_TRUE(cropped.Create(kW, 800, 16));
  Fill(full, 0x4000);
  Fill(cropped, 0x7000);
  EXPECT_EQ(mask.Capture(full, 2), MaskStatus::kBadSelector);
  EXPECT_EQ(mask.Capture(cropped, 2), MaskStatus::kOk);  // nothing to capture, map rebuilt
  EXPECT_EQ(mask.Capture(cropped, 0), MaskStatus::kOk);
  EXPECT_EQ(mask.Reference16(0)[5], 0);
  EXPECT_EQ(mask.Capture(full, 0), MaskStatus::kOk);
  EXPECT_EQ(mask.Reference16(0)[5], 0x4000);
  EXPECT_EQ(mask.Map(16, 0)[100 * kW + 100], 1);  // 0x4000 > 0x3000: hot
  EXPECT_EQ(mask.Reference8(0)[5], 0);
}

TEST(DefectMask, ShadingNormalisesBetweenDarkAndBright) {
  for (int bits : {8, 16}) {
    DefectMask mask;
    DibImage dark, bright, frame;
    ASSERT_TRUE(dark.Create(kW, kH, bits));
    ASSERT_TRUE(bright.Create(kW, kH, bits));
    const int d = bits == 8 ? 20 : 5000;
    const int w = bits == 8 ? 220 : 60000;
    Fill(dark, d);
    Fill(bright, w);
    ASSERT_EQ(mask.Capture(dark, 0), MaskStatus::kOk);
    ASSERT_EQ(mask.Capture(bright, 1), MaskStatus::kOk);
    ASSERT_TRUE(frame.Create(kW, kH, bits));
    Fill(frame, (d + w) / 2);
    Set(frame, 10, 10, d);
    Set(frame, 10, 11, w);
    Set(frame, 1, 1, d);  // inside the two-pixel border of a full frame: untouched
    mask.CorrectShading(frame, 0, 0);
    EXPECT_EQ(Get(frame, 10, 10), 0);
    EXPECT_EQ(Get(frame, 10, 11), bits == 8 ? 255 : 65535);
    EXPECT_EQ(Get(frame, 20, 20), bits == 8 ? (100 * 256) / 200 : static_cast<int>((27500LL * 65536) / 55000));
    EXPECT_EQ(Get(frame, 1, 1), d);
    // A cropped frame has no border and reads the references at its offset.
    DibImage crop;
    ASSERT_TRUE(crop.Create(8, 4, bits));
    Fill(crop, d);
    mask.CorrectShading(crop, 3992, 2996);
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 8; ++x) EXPECT_EQ(Get(crop, y, x), 0);
    }
  }
}

TEST(DefectMask, DotFilterReplacesOutliersAndHotPixelsByTheNearestUnmarkedNeighbours) {
  for (int bits : {8, 16}) {
    const int scale = bits == 8 ? 1 : 16;
    DefectMask mask;
    DibImage frame;
    ASSERT_TRUE(frame.Create(12, 9, bits));
    Fill(frame, 100 * scale);
    // A spike at (4, 4) (|150 - 100| >= 30) with its four neighbours; (7, 8) is 29 above the mean and
    // stays; (0, 5) is in the outermost row, never replaced.
    for (auto [y, x, v] : {std::tuple{4, 4, 150}, {3, 4, 96}, {5, 4, 104}, {4, 3, 90}, {4, 5, 110}, {7, 8, 129},
                           {0, 5, 250}}) {
      Set(frame, y, x, v * scale);
    }
    mask.CorrectDefects(frame, 0, 0);
    EXPECT_EQ(Get(frame, 4, 4), (96 + 104 + 90 + 110) / 4 * scale);
    EXPECT_EQ(Get(frame, 7, 8), 129 * scale);
    EXPECT_EQ(Get(frame, 0, 5), 250 * scale);
    EXPECT_EQ(Get(frame, 3, 4), 96 * scale);
  }
  DefectMask mask;
  DibImage dark, frame;
  ASSERT_TRUE(dark.Create(kW, kH, 8));
  Set(dark, 5, 5, 255);  // hot pixel and its right-hand neighbour
  Set(dark, 5, 6, 255);
  ASSERT_EQ(mask.Capture(dark, 0), MaskStatus::kOk);
  ASSERT_TRUE(frame.Create(10, 10, 8));
  Fill(frame, 50);
  for (auto [y, x, v] : {std::tuple{5, 4, 40}, {5, 7, 70}, {4, 5, 60}, {6, 6, 30}}) Set(frame, y, x, v);
  mask.CorrectDefects(frame, 0, 0);
  EXPECT_EQ(Get(frame, 5, 5), (40 + 70 + 60 + 50) / 4);  // right skips the marked (5,6) to 70
  EXPECT_EQ(Get(frame, 5, 6), (40 + 70 + 50 + 30) / 4);  // left skips (5,5) to 40
}

// A full-size frame where every inner pixel is marked (columns alternate between black and white)
// is corrected in the time of a frame, not minutes: a search per pixel along its row and column
// would take minutes here. Written as "does not hang" with a generous watchdog; the frame lives on
// the heap so that a correction left running after a failure touches nothing of the test's.
TEST(DefectMask, DotFilterOnAFullFrameOfMarkedPixelsDoesNotHang) {
  for (int bits : {8, 16}) {
    auto frame = std::make_shared<DibImage>();
    ASSERT_TRUE(frame->Create(kW, kH, bits));
    const int top = bits == 8 ? 255 : 65535;
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) Set(*frame, y, x, x % 2 ? top : 0);
    }
    auto mask = std::make_shared<DefectMask>();
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([frame, mask, done] {
      mask->CorrectDefects(*frame, 0, 0);
      done->set_value();
    }).detach();
    ASSERT_EQ(finished.wait_for(std::chrono::seconds(60)), std::future_status::ready) << bits << " bits";
    // Inner pixels take the mean of the edge columns (0: black) and rows (0 and kH - 1: their column's).
    EXPECT_EQ(Get(*frame, 1500, 2000), (0 + top + 0 + 0) / 4) << bits;  // left 0, right edge top, column 2000 black
    EXPECT_EQ(Get(*frame, 0, 1), top) << bits;                           // outermost row untouched
  }
}

// The linear-time correction against the pixel-by-pixel reference, byte for byte, with every kernel set
// and one to three threads: noise (most pixels marked, long marked runs), a smooth scene with few
// outliers, column stripes (every inner pixel marked), and stripes over a region whose top and bottom
// rows vary by column, so that vertical runs of marks start and end in every block and cross the
// threads' seams; maps with hot and dead pixels; frames cut by the sensor's edge through their offset.
// A full-size frame of noise at the end.
TEST(DefectMask, DotFilterEqualsItsReferenceByteForByte) {
  DibImage dark8, bright8, dark16, bright16;
  ASSERT_TRUE(dark8.Create(kW, kH, 8) && bright8.Create(kW, kH, 8));
  ASSERT_TRUE(dark16.Create(kW, kH, 16) && bright16.Create(kW, kH, 16));
  Fill(bright8, 200);
  Fill(bright16, 0x8000);
  for (int i = 0; i < 400; ++i) {  // hot and dead pixels scattered over the sensor's corners
    const int y = (i * 37) % 290 + (i % 2 ? kH - 300 : 0), x = (i * 53) % 290 + (i % 3 ? kW - 300 : 0);
    Set(dark8, y, x, 250), Set(bright8, y + 1, x, 10), Set(dark16, y, x + 1, 0xF000), Set(bright16, y, x, 10);
  }
  DefectMask withMaps;
  ASSERT_EQ(withMaps.Capture(dark8, 0), MaskStatus::kOk);
  ASSERT_EQ(withMaps.Capture(bright8, 1), MaskStatus::kOk);
  ASSERT_EQ(withMaps.Capture(dark16, 0), MaskStatus::kOk);
  ASSERT_EQ(withMaps.Capture(bright16, 1), MaskStatus::kOk);
  DefectMask noMaps;
  enum class Scene { kNoise, kSmooth, kStripes, kRuns };
  const struct {
    int width, height, offsetX, offsetY;
  } kFrames[] = {{3, 3, 0, 0},   {1, 7, 0, 0},     {4, 3, 0, 0},        {3, 90, 0, 0},
                 {90, 3, 0, 0},  {64, 48, 0, 0},   {35, 400, 0, 0},     {301, 199, kW - 250, kH - 150},
                 {257, 131, 17, 9}, {130, 700, kW - 100, 40}, {kW, kH, 0, 0},
                 // One register of inner pixels (32 and 64 samples) and one sample fewer or more.
                 {33, 40, 0, 0}, {34, 40, 0, 0}, {35, 40, 0, 0}, {65, 40, 0, 0}, {66, 40, 0, 0}, {67, 40, 0, 0}};
  for (DefectMask* mask : {&noMaps, &withMaps}) {
    for (int bits : {8, 16}) {
      for (Scene scene : {Scene::kNoise, Scene::kSmooth, Scene::kStripes, Scene::kRuns}) {
        for (const auto& f : kFrames) {
          // The reference searches runs pixel by pixel: full size with noise only (its runs are short).
          if (f.width == kW && scene != Scene::kNoise) continue;
          SCOPED_TRACE(::testing::Message() << bits << " bits, scene " << static_cast<int>(scene) << ", "
                                            << f.width << "x" << f.height << " at " << f.offsetX << "," << f.offsetY
                                            << (mask == &withMaps ? ", maps" : ""));
          DibImage source, reference, fast;
          ASSERT_TRUE(source.Create(f.width, f.height, bits));
          const int top = bits == 8 ? 255 : 65535;
          if (scene == Scene::kNoise) test::FillRandom(source, static_cast<uint32_t>(f.width * 7 + bits), 0.1);
          for (int y = 0; scene != Scene::kNoise && y < f.height; ++y) {
            for (int x = 0; x < f.width; ++x) {
              const bool inRun = y >= (x * 7) % 53 && y < f.height - (x * 13) % 61;
              const bool stripe = scene == Scene::kStripes || (scene == Scene::kRuns && inRun);
              const int v = stripe ? (x % 2 ? top : 0) : (x + 2 * y) * top / (f.width + 2 * f.height);
              Set(source, y, x, (scene == Scene::kSmooth && (x * 31 + y * 17) % 97 == 0) ? top - v : v);
            }
          }
          test::CopyPixels(reference, source);
          mask->CorrectDefectsReference(reference, f.offsetX, f.offsetY);
          for (const Variant& v : Variants()) {
            test::CopyPixels(fast, source);
            mask->UseKernels(v.kernels);
            mask->CorrectDefects(fast, f.offsetX, f.offsetY, v.pool);
            ASSERT_TRUE(test::SamePixels(fast, reference)) << Describe(v);
          }
          mask->UseKernels(nullptr);
        }
      }
    }
  }
}

// The shading without a division per pixel against the division as written, byte for byte. 8-bit: the
// references of pixel i hold every pair (dark, bright) = (i & 255, (i >> 8) & 255), and two frames give
// each pair every sample value (equal, inverted and zero-width references included). 16-bit: noise and
// the values at the edges of the range (d = w, d > w, x = d, x - d = w - d, the largest quotients).
// Full frames keep their border; crops read the references at their offset, cut by the sensor's edge.
// Every kernel set, one to three threads.
TEST(DefectMask, ShadingEqualsItsReferenceByteForByte) {
  DefectMask mask;
  DibImage dark8, bright8, dark16, bright16;
  ASSERT_TRUE(dark8.Create(kW, kH, 8) && bright8.Create(kW, kH, 8));
  ASSERT_TRUE(dark16.Create(kW, kH, 16) && bright16.Create(kW, kH, 16));
  test::FillRandom(dark16, 21, 0.02);
  test::FillRandom(bright16, 22, 0.02);
  const int edges[] = {0, 1, 2, 255, 256, 32767, 32768, 65533, 65534, 65535};
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const int i = y * kW + x;
      Set(dark8, y, x, i & 255);
      Set(bright8, y, x, (i >> 8) & 255);
      if (y < 100) Set(dark16, y, x, edges[x % 10]), Set(bright16, y, x, edges[(x / 10) % 10]);
    }
  }
  for (DibImage* ref : {&dark8, &dark16}) ASSERT_EQ(mask.Capture(*ref, 0), MaskStatus::kOk);
  for (DibImage* ref : {&bright8, &bright16}) ASSERT_EQ(mask.Capture(*ref, 1), MaskStatus::kOk);
  const struct {
    int width, height, offsetX, offsetY;
  } kFrames[] = {{kW, kH, 0, 0}, {1, 1, 5, 5}, {33, 7, 0, 0}, {301, 199, kW - 250, kH - 150}, {257, 131, 17, 9}};
  for (int bits : {8, 16}) {
    for (const auto& f : kFrames) {
      for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(::testing::Message() << bits << " bits, " << f.width << "x" << f.height << " at " << f.offsetX
                                          << "," << f.offsetY << ", pass " << pass);
        DibImage source, fast, reference;
        ASSERT_TRUE(source.Create(f.width, f.height, bits));
        for (int y = 0; y < f.height; ++y) {
          for (int x = 0; x < f.width; ++x) {
            const int i = (y + f.offsetY) * kW + x + f.offsetX;
            // 8-bit: the sample runs through 0..255 over the frame's two passes; 16-bit: edges, then noise.
            const int v8 = ((i >> 16) + 128 * pass) & 255;
            const int v16 = y < 100 ? edges[(x / 100 + pass * 3) % 10] : ((i * 2654435761u) >> 16) & 0xFFFF;
            Set(source, y, x, bits == 8 ? v8 : v16);
          }
        }
        test::CopyPixels(reference, source);
        mask.CorrectShadingReference(reference, f.offsetX, f.offsetY);
        for (const Variant& v : Variants()) {
          test::CopyPixels(fast, source);
          mask.UseKernels(v.kernels);
          mask.CorrectShading(fast, f.offsetX, f.offsetY, v.pool);
          ASSERT_TRUE(test::SamePixels(fast, reference)) << Describe(v);
        }
        mask.UseKernels(nullptr);
      }
    }
  }
}

}  // namespace
}  // namespace orvane::image
