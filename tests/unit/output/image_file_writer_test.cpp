#include "output/image_file_writer.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "output_test_util.h"

namespace orvane::output {
namespace {

using image::DibImage;
using test::FillFrame;
using test::Le16;
using test::Le32;
using test::ReadFileBytes;
using test::TempDir;

constexpr int kDepths[] = {8, 16, 24, 32, 48, 64};

// What a decoder should return for image row y (top first): gray or red-green-blue(-alpha) samples.
// PNG stores 16-bit samples most significant byte first and the 32-bit alpha as the complement of the
// stored fourth byte; TIFF keeps little-endian samples and writes the fourth byte as 0.
enum class Form { kPng, kTiff };
std::vector<uint8_t> ExpectedRow(const DibImage& frame, int y, Form form) {
  const bool png = form == Form::kPng;
  std::vector<uint8_t> out;
  auto put16 = [&](uint16_t v) {
    out.push_back(static_cast<uint8_t>(png ? v >> 8 : v));
    out.push_back(static_cast<uint8_t>(png ? v : v >> 8));
  };
  for (int x = 0; x < frame.Width(); ++x) {
    const uint8_t* px = frame.Row(y) + x * frame.BytesPerPixel();
    switch (frame.BitsPerPixel()) {
      case 8: out.push_back(px[0]); break;
      case 16: put16(Le16(px)); break;
      case 24: out.insert(out.end(), {px[2], px[1], px[0]}); break;
      case 32: out.insert(out.end(), {px[2], px[1], px[0], static_cast<uint8_t>(png ? 255 - px[3] : 0)}); break;
      case 48: put16(Le16(px + 4)); put16(Le16(px + 2)); put16(Le16(px)); break;
      case 64: put16(Le16(px + 4)); put16(Le16(px + 2)); put16(Le16(px)); put16(0xFFFF); break;
    }
  }
  return out;
}

// ---- decoders, straight on the libraries ----

struct PngImage {
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colorType = 0;
  std::vector<std::vector<uint8_t>> rows;
};

void PngTestError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

bool ReadPng(const std::string& path, PngImage& img) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngTestError, nullptr);
  png_infop info = png_create_info_struct(png);
  bool ok = false;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, f);
    png_read_info(png, info);
    img.width = png_get_image_width(png, info);
    img.height = png_get_image_height(png, info);
    img.bitDepth = png_get_bit_depth(png, info);
    img.colorType = png_get_color_type(png, info);
    img.rows.assign(img.height, std::vector<uint8_t>(png_get_rowbytes(png, info)));
    for (auto& row : img.rows) png_read_row(png, row.data(), nullptr);
    png_read_end(png, nullptr);
    ok = true;
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  return ok;
}

struct JpegImage {
  int width = 0, height = 0, components = 0;
  std::vector<uint8_t> pixels;
};

struct JpegTestError {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};
void JpegTestErrorExit(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JpegTestError*>(cinfo->err)->jump, 1); }

bool ReadJpeg(const std::string& path, JpegImage& img) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  jpeg_decompress_struct cinfo;
  JpegTestError err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = JpegTestErrorExit;
  bool ok = false;
  if (setjmp(err.jump) == 0) {
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    img.width = static_cast<int>(cinfo.output_width);
    img.height = static_cast<int>(cinfo.output_height);
    img.components = cinfo.output_components;
    img.pixels.resize(static_cast<size_t>(img.width) * img.height * img.components);
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = img.pixels.data() + static_cast<size_t>(cinfo.output_scanline) * img.width * img.components;
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    ok = true;
  }
  jpeg_destroy_decompress(&cinfo);
  std::fclose(f);
  return ok;
}

// ---- PNG, TIFF, JPEG decoded equal the frame ----

TEST(ImageFileWriterTest, PngDecodesToTheFrameAtEveryDepth) {
  TempDir dir("png");
  for (int depth : kDepths) {
    SCOPED_TRACE(depth);
    DibImage frame;
    ASSERT_TRUE(frame.Create(13, 7, depth));  // 13: rows carry padding the file must not see
    FillFrame(frame, static_cast<uint32_t>(depth));
    if (depth == 32) frame.Row(2)[3] = 40;  // stored fourth byte: alpha is its complement
    const std::string path = dir.File("f.png");
    ASSERT_TRUE(ImageFileWriter::Write(path.c_str(), frame, kFileTypePng));
    PngImage img;
    ASSERT_TRUE(ReadPng(path, img));
    EXPECT_EQ(img.width, 13u);
    EXPECT_EQ(img.height, 7u);
    EXPECT_EQ(img.bitDepth, (depth == 16 || depth >= 48) ? 16 : 8);
    const int type = depth <= 16 ? PNG_COLOR_TYPE_GRAY : (depth == 24 || depth == 48) ? PNG_COLOR_TYPE_RGB
                                                                                       : PNG_COLOR_TYPE_RGB_ALPHA;
    EXPECT_EQ(img.colorType, type);
    for (int y = 0; y < 7; ++y) EXPECT_EQ(img.rows[y], ExpectedRow(frame, y, Form::kPng)) << "row " << y;
  }
}

TEST(ImageFileWriterTest, TiffDecodesToTheFrameAtEveryDepth) {
  TempDir dir("tiff");
  TIFFSetWarningHandler(nullptr);
  for (int depth : kDepths) {
    SCOPED_TRACE(depth);
    DibImage frame;
    ASSERT_TRUE(frame.Create(13, 5, depth));  // padded DIB rows: packed in the file, or readers see shear
    FillFrame(frame, static_cast<uint32_t>(depth) + 100);
    if (depth == 32) frame.Row(1)[3] = 77;  // written as 0 whatever is stored
    const std::string path = dir.File("f.tif");
    ASSERT_TRUE(ImageFileWriter::Write(path.c_str(), frame, kFileTypeTiff));
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    uint32_t w = 0, h = 0;
    uint16_t bps = 0, spp = 0, photometric = 0, compression = 0, planar = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &planar);
    EXPECT_EQ(w, 13u);
    EXPECT_EQ(h, 5u);
    EXPECT_EQ(bps, (depth == 16 || depth >= 48) ? 16 : 8);
    EXPECT_EQ(spp, depth <= 16 ? 1 : (depth == 24 || depth == 48) ? 3 : 4);
    EXPECT_EQ(photometric, depth <= 16 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    EXPECT_EQ(compression, COMPRESSION_NONE);
    EXPECT_EQ(planar, PLANARCONFIG_CONTIG);
    EXPECT_EQ(TIFFNumberOfStrips(tif), 1u);
    std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(tif)));
    for (uint32_t y = 0; y < h; ++y) {
      ASSERT_EQ(TIFFReadScanline(tif, row.data(), y, 0), 1);
      EXPECT_EQ(row, ExpectedRow(frame, static_cast<int>(y), Form::kTiff)) << "row " << y;
    }
    TIFFClose(tif);
  }
}

bool Wide(const DibImage& frame) { return frame.BitsPerPixel() == 16 || frame.BitsPerPixel() >= 48; }

// A smooth image (JPEG keeps it within a few levels at quality 100) whose rows and columns differ, so a
// flipped or mirrored image cannot pass.
void FillSmooth(DibImage& frame) {
  for (int y = 0; y < frame.Height(); ++y) {
    for (int x = 0; x < frame.Width(); ++x) {
      uint8_t* p = frame.Row(y) + x * frame.BytesPerPixel();
      const int levels[3] = {x * 5 + 20, y * 6 + 10, (x + y) * 3 + 40};  // blue, green, red
      const int channels = frame.BitsPerPixel() <= 16 ? 1 : 3;
      for (int c = 0; c < channels; ++c) {
        const int level = channels == 1 ? (x * 3 + y * 5) : levels[c];
        if (Wide(frame)) {
          p[2 * c] = static_cast<uint8_t>(x * 37 + y);  // low byte: not shown in 8-bit forms
          p[2 * c + 1] = static_cast<uint8_t>(level);
        } else {
          p[c] = static_cast<uint8_t>(level);
        }
      }
    }
  }
}

TEST(ImageFileWriterTest, JpegDecodesCloseToTheFrameRightWayUpAtEveryDepth) {
  TempDir dir("jpeg");
  for (int depth : kDepths) {
    SCOPED_TRACE(depth);
    DibImage frame;
    ASSERT_TRUE(frame.Create(33, 30, depth));
    FillSmooth(frame);
    const std::string path = dir.File("f.jpg");
    ASSERT_TRUE(ImageFileWriter::Write(path.c_str(), frame, kFileTypeJpeg100));
    JpegImage img;
    ASSERT_TRUE(ReadJpeg(path, img));
    ASSERT_EQ(img.width, 33);
    ASSERT_EQ(img.height, 30);
    ASSERT_EQ(img.components, depth <= 16 ? 1 : 3);
    int worst = 0;
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 33; ++x) {
        const uint8_t* p = frame.Row(y) + x * frame.BytesPerPixel();
        for (int c = 0; c < img.components; ++c) {
          const int channel = img.components == 1 ? 0 : 2 - c;  // file red-green-blue, frame blue-green-red
          const int expected = Wide(frame) ? p[2 * channel + 1] : p[channel];
          const int got = img.pixels[(static_cast<size_t>(y) * 33 + x) * img.components + c];
          worst = std::max(worst, std::abs(got - expected));
        }
      }
    }
    EXPECT_LE(worst, 6);
  }
}

// ---- BMP and raw ----

TEST(ImageFileWriterTest, BmpHeadersAndRowsByteForByte) {
  struct Case {
    int depth;
    uint32_t pixelOffset;
  };
  TempDir dir("bmp");
  for (const Case& c : {Case{8, 1078}, Case{24, 54}, Case{16, 54}, Case{64, 54}}) {
    SCOPED_TRACE(c.depth);
    DibImage frame;
    ASSERT_TRUE(frame.Create(5, 3, c.depth));
    FillFrame(frame, 9);
    const std::string path = dir.File("f.bmp");
    ASSERT_TRUE(ImageFileWriter::Write(path.c_str(), frame, kFileTypeBmp));
    const std::vector<uint8_t> file = ReadFileBytes(path);
    const size_t pixels = static_cast<size_t>(frame.Stride()) * 3;
    ASSERT_EQ(file.size(), c.pixelOffset + pixels);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(Le32(&file[2]), file.size());
    EXPECT_EQ(Le32(&file[6]), 0u);
    EXPECT_EQ(Le32(&file[10]), c.pixelOffset);
    // Info header as held: size 40, width, positive height, 1 plane, depth, no compression, rest zero.
    uint8_t info[40] = {};
    info[0] = 40;
    info[4] = 5;
    info[8] = 3;
    info[12] = 1;
    info[14] = static_cast<uint8_t>(c.depth);
    EXPECT_EQ(0, std::memcmp(&file[14], info, 40));
    if (c.depth == 8) {
      for (int i = 0; i < 256; ++i) {
        const uint8_t gray[4] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0};
        ASSERT_EQ(0, std::memcmp(&file[54 + 4 * i], gray, 4)) << "entry " << i;
      }
    }
    for (int row = 0; row < 3; ++row) {  // bottom row first
      EXPECT_EQ(0, std::memcmp(&file[c.pixelOffset + row * frame.Stride()], frame.Row(2 - row), frame.Stride()));
    }
  }
}

TEST(ImageFileWriterTest, RawIsTheBitmapMemoryWithItsPadding) {
  TempDir dir("pad");
  DibImage frame;
  ASSERT_TRUE(frame.Create(5, 4, 8));  // 5 bytes of pixels in an 8-byte row
  FillFrame(frame, 5);
  for (int y = 0; y < 4; ++y) std::memset(frame.Row(y) + 5, 0xA0 + y, 3);
  const std::string raw = dir.File("f.raw");
  ASSERT_TRUE(ImageFileWriter::Write(raw.c_str(), frame, kFileTypeRaw));
  EXPECT_EQ(ReadFileBytes(raw), std::vector<uint8_t>(frame.Bits(), frame.Bits() + frame.SizeBytes()));
}

TEST(ImageFileWriterTest, SavingOverAnExistingFileTruncatesIt) {
  TempDir dir("trunc");
  DibImage frame;
  ASSERT_TRUE(frame.Create(4, 2, 8));
  FillFrame(frame, 1);
  const std::vector<uint8_t> before(frame.Bits(), frame.Bits() + frame.SizeBytes());
  const std::string path = dir.File("f.out");
  for (int code : {kFileTypeBmp, kFileTypeRaw, kFileTypeJpeg70, kFileTypePng, kFileTypeTiff}) {
    SCOPED_TRACE(code);
    {
      std::ofstream big(path, std::ios::binary);
      big << std::string(100000, 'x');
    }
    ASSERT_TRUE(ImageFileWriter::Write(path.c_str(), frame, code));
    const std::vector<uint8_t> file = ReadFileBytes(path);
    EXPECT_LT(file.size(), 10000u);
    if (code == kFileTypeRaw) {
      EXPECT_EQ(file.size(), frame.SizeBytes());
    }
    // The live bitmap is only read.
    EXPECT_TRUE(std::equal(before.begin(), before.end(), frame.Bits()));
  }
}

// ---- refusals and failures ----

TEST(ImageFileWriterTest, BadArgumentsWriteNothing) {
  TempDir dir("bad");
  DibImage frame;
  ASSERT_TRUE(frame.Create(4, 2, 24));
  DibImage empty;
  struct Case {
    const char* what;
    const DibImage* frame;
    int code;
    int bits;
  };
  const Case cases[] = {{"code 7", &frame, 7, 16},   {"code -1", &frame, -1, 16}, {"code 100", &frame, 100, 16},
                        {"empty frame", &empty, 0, 16}, {"bits 7", &frame, 5, 7},  {"bits 17", &frame, 6, 17}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir.File("none");
    EXPECT_FALSE(ImageFileWriter::Write(path.c_str(), *c.frame, c.code, c.bits));
    EXPECT_FALSE(std::filesystem::exists(path));
  }
  EXPECT_FALSE(ImageFileWriter::Write(nullptr, frame, 0));
  EXPECT_FALSE(ImageFileWriter::Write("", frame, 0));
  TIFFSetErrorHandler(nullptr);
  for (int code = kFileTypeBmp; code <= kFileTypeTiff; ++code) {
    EXPECT_FALSE(ImageFileWriter::Write(dir.File("missing-dir/f").c_str(), frame, code)) << code;
  }
}

TEST(ImageFileWriterTest, LibjpegErrorReturnsFalseAndTheProcessGoesOn) {
  TempDir dir("jpegerr");
  DibImage wide;
  ASSERT_TRUE(wide.Create(JPEG_MAX_DIMENSION + 1, 1, 8));  // libjpeg refuses this size
  const std::string path = dir.File("f.jpg");
  EXPECT_FALSE(ImageFileWriter::Write(path.c_str(), wide, kFileTypeJpeg100));
  // The writer is still usable afterwards.
  DibImage frame;
  ASSERT_TRUE(frame.Create(8, 8, 8));
  EXPECT_TRUE(ImageFileWriter::Write(path.c_str(), frame, kFileTypeJpeg100));
  JpegImage img;
  EXPECT_TRUE(ReadJpeg(path, img));
}

TEST(ImageFileWriterTest, TwoPngSavesAtOnceBothDecodeToTheirFrames) {
  TempDir dir("pngthreads");
  DibImage a, b;
  ASSERT_TRUE(a.Create(101, 67, 48));
  ASSERT_TRUE(b.Create(97, 71, 32));
  FillFrame(a, 11);
  FillFrame(b, 12);
  bool okA = true, okB = true;
  auto saver = [&dir](const DibImage& frame, const std::string& name, bool& ok) {
    for (int i = 0; i < 20 && ok; ++i) ok = ImageFileWriter::Write(dir.File(name).c_str(), frame, kFileTypePng);
  };
  std::thread ta(saver, std::cref(a), "a.png", std::ref(okA));
  std::thread tb(saver, std::cref(b), "b.png", std::ref(okB));
  ta.join();
  tb.join();
  ASSERT_TRUE(okA);
  ASSERT_TRUE(okB);
  for (auto [frame, name] : {std::pair{&a, "a.png"}, std::pair{&b, "b.png"}}) {
    PngImage img;
    ASSERT_TRUE(ReadPng(dir.File(name), img));
    ASSERT_EQ(img.height, static_cast<png_uint_32>(frame->Height()));
    for (int y = 0; y < frame->Height(); ++y) ASSERT_EQ(img.rows[y], ExpectedRow(*frame, y, Form::kPng));
  }
}

}  // namespace
}  // namespace orvane::output
