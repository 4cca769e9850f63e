// The Windows build's foundations under wine: the statically linked image libraries run, a real
// top-level window receives posted messages, and the registry keeps values.
#include <windows.h>

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include "output/image_library_versions.h"

namespace {

constexpr int kWidth = 16;
constexpr int kHeight = 8;
constexpr int kChannels = 3;

// A smooth RGB test pattern: JPEG keeps it within a few levels at high quality.
std::vector<uint8_t> TestPattern() {
  std::vector<uint8_t> pixels(kWidth * kHeight * kChannels);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      uint8_t* p = &pixels[(y * kWidth + x) * kChannels];
      p[0] = static_cast<uint8_t>(x * 16);
      p[1] = static_cast<uint8_t>(y * 32);
      p[2] = static_cast<uint8_t>(128 + x * 4);
    }
  }
  return pixels;
}

// A fresh directory under the user's temp folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    path_ = std::filesystem::temp_directory_path() /
            ("orvane_toolchain_test_" + std::to_string(GetCurrentProcessId()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const char* name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// libjpeg's default error handler calls exit(); this one jumps back to the caller instead.
struct JpegErrorManager {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

void JpegErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings would go to stderr; the tests judge by results.
void JpegSilentMessage(j_common_ptr) {}

bool CompressJpeg(const std::vector<uint8_t>& pixels, std::vector<uint8_t>& jpeg) {
  jpeg_compress_struct cinfo{};
  JpegErrorManager errors{};
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  cinfo.err = jpeg_std_error(&errors.mgr);
  errors.mgr.error_exit = JpegErrorExit;
  errors.mgr.output_message = JpegSilentMessage;
  if (setjmp(errors.jump)) {
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = kWidth;
  cinfo.image_height = kHeight;
  cinfo.input_components = kChannels;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 98, TRUE);
  // Full-resolution chroma (4:4:4): the pattern's colour steps survive within a few levels.
  for (int c = 0; c < cinfo.num_components; ++c) {
    cinfo.comp_info[c].h_samp_factor = 1;
    cinfo.comp_info[c].v_samp_factor = 1;
  }
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&pixels[cinfo.next_scanline * kWidth * kChannels]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg.assign(buffer, buffer + size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return true;
}

bool DecompressJpeg(const std::vector<uint8_t>& jpeg, std::vector<uint8_t>& pixels, int& width,
                    int& height) {
  jpeg_decompress_struct cinfo{};
  JpegErrorManager errors{};
  cinfo.err = jpeg_std_error(&errors.mgr);
  errors.mgr.error_exit = JpegErrorExit;
  errors.mgr.output_message = JpegSilentMessage;
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  width = static_cast<int>(cinfo.output_width);
  height = static_cast<int>(cinfo.output_height);
  pixels.assign(static_cast<size_t>(width) * height * kChannels, 0);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = &pixels[cinfo.output_scanline * width * kChannels];
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

TEST(ImageLibraries, JpegRoundTripsThroughMemory) {
  const std::vector<uint8_t> pixels = TestPattern();
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(CompressJpeg(pixels, jpeg));
  ASSERT_GE(jpeg.size(), 4u);
  EXPECT_EQ(jpeg[0], 0xFF);
  EXPECT_EQ(jpeg[1], 0xD8);
  EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
  EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);

  std::vector<uint8_t> decoded;
  int width = 0;
  int height = 0;
  ASSERT_TRUE(DecompressJpeg(jpeg, decoded, width, height));
  ASSERT_EQ(width, kWidth);
  ASSERT_EQ(height, kHeight);
  for (size_t i = 0; i < pixels.size(); ++i) {
    ASSERT_NEAR(decoded[i], pixels[i], 12) << "sample " << i;
  }
}

TEST(ImageLibraries, JpegErrorReturnsInsteadOfEndingTheProcess) {
  const std::vector<uint8_t> garbage = {0xFF, 0xD8, 0x00, 0x01, 0x02, 0x03};
  std::vector<uint8_t> decoded;
  int width = 0;
  int height = 0;
  EXPECT_FALSE(DecompressJpeg(garbage, decoded, width, height));
}

TEST(ImageLibraries, PngWritesAndReadsBackAFile) {
  TempDir dir;
  const std::string path = dir.File("pattern.png");
  const std::vector<uint8_t> pixels = TestPattern();

  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = kWidth;
  image.height = kHeight;
  image.format = PNG_FORMAT_RGB;
  ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr))
      << image.message;
  ASSERT_GT(std::filesystem::file_size(path), 8u);

  png_image read{};
  read.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&read, path.c_str())) << read.message;
  read.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> decoded(PNG_IMAGE_SIZE(read));
  ASSERT_TRUE(png_image_finish_read(&read, nullptr, decoded.data(), 0, nullptr)) << read.message;
  EXPECT_EQ(read.width, static_cast<png_uint_32>(kWidth));
  EXPECT_EQ(read.height, static_cast<png_uint_32>(kHeight));
  EXPECT_EQ(decoded, pixels);
}

TEST(ImageLibraries, TiffWritesAndReadsBackADeflateFile) {
  TempDir dir;
  const std::string path = dir.File("pattern.tif");
  const std::vector<uint8_t> pixels = TestPattern();

  TIFF* out = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(out, nullptr);
  TIFFSetField(out, TIFFTAG_IMAGEWIDTH, kWidth);
  TIFFSetField(out, TIFFTAG_IMAGELENGTH, kHeight);
  TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, kChannels);
  TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  // Deflate goes through zlib: the codec must be built in.
  ASSERT_EQ(TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE), 1);
  TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, kHeight);
  bool written = true;
  for (int y = 0; y < kHeight; ++y) {
    auto* row = const_cast<uint8_t*>(&pixels[y * kWidth * kChannels]);
    written = written && TIFFWriteScanline(out, row, y, 0) == 1;
  }
  TIFFClose(out);
  ASSERT_TRUE(written);

  TIFF* in = TIFFOpen(path.c_str(), "r");
  ASSERT_NE(in, nullptr);
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t compression = 0;
  TIFFGetField(in, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(in, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetField(in, TIFFTAG_COMPRESSION, &compression);
  std::vector<uint8_t> decoded(pixels.size());
  bool read = width == kWidth && height == kHeight;
  for (int y = 0; read && y < kHeight; ++y) {
    read = TIFFReadScanline(in, &decoded[y * kWidth * kChannels], y, 0) == 1;
  }
  TIFFClose(in);
  EXPECT_EQ(width, static_cast<uint32_t>(kWidth));
  EXPECT_EQ(height, static_cast<uint32_t>(kHeight));
  EXPECT_EQ(compression, COMPRESSION_ADOBE_DEFLATE);
  ASSERT_TRUE(read);
  EXPECT_EQ(decoded, pixels);
}

TEST(ImageLibraries, RuntimeVersionsMatchTheHeadersBuiltAgainst) {
  const std::string versions = ImageLibraryVersions();
  EXPECT_NE(versions.find(std::string("libpng ") + PNG_LIBPNG_VER_STRING + ";"), std::string::npos)
      << versions;
  EXPECT_NE(versions.find(std::string("zlib ") + ZLIB_VERSION), std::string::npos) << versions;
  const std::string tiff = "libtiff " + std::to_string(TIFFLIB_MAJOR_VERSION) + "." +
                           std::to_string(TIFFLIB_MINOR_VERSION) + "." +
                           std::to_string(TIFFLIB_MICRO_VERSION) + ";";
  EXPECT_NE(versions.find(tiff), std::string::npos) << versions;
  EXPECT_NE(versions.find("(libjpeg 6b API, " + std::to_string(JPEG_LIB_VERSION) + ")"),
            std::string::npos)
      << versions;
  EXPECT_EQ(ImageLibraryVersions(), ImageLibraryVersions()) << "built once, same storage";
}

constexpr UINT kTestMessage = WM_APP + 3;

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(window, message, wparam, lparam);
}

TEST(Win32, TopLevelWindowReceivesAPostedMessage) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = TestWindowProc;
  window_class.hInstance = instance;
  window_class.lpszClassName = L"OrvaneToolchainTestWindow";
  ASSERT_NE(RegisterClassExW(&window_class), 0) << GetLastError();

  HWND window = CreateWindowExW(0, window_class.lpszClassName, L"Orvane toolchain test",
                                WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 320, 240, nullptr,
                                nullptr, instance, nullptr);
  ASSERT_NE(window, nullptr) << GetLastError();
  EXPECT_EQ(GetParent(window), nullptr);
  ShowWindow(window, SW_SHOWNOACTIVATE);
  EXPECT_TRUE(IsWindowVisible(window));

  ASSERT_TRUE(PostMessageW(window, kTestMessage, 0x1234, 0x5678));
  MSG message{};
  // A posted message sits in this thread's queue as soon as PostMessage returns.
  ASSERT_TRUE(PeekMessageW(&message, window, kTestMessage, kTestMessage, PM_REMOVE));
  EXPECT_EQ(message.hwnd, window);
  EXPECT_EQ(message.message, kTestMessage);
  EXPECT_EQ(message.wParam, static_cast<WPARAM>(0x1234));
  EXPECT_EQ(message.lParam, static_cast<LPARAM>(0x5678));
  EXPECT_FALSE(PeekMessageW(&message, window, kTestMessage, kTestMessage, PM_REMOVE))
      << "taken once";

  EXPECT_TRUE(DestroyWindow(window));
  EXPECT_TRUE(UnregisterClassW(window_class.lpszClassName, instance));
}

TEST(Win32, RegistryValuesPersistAndAreCleanedUp) {
  constexpr wchar_t kKey[] = L"Software\\OrvaneSdkTest";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  const DWORD number = 0x0A0B0C0D;
  const BYTE blob[] = {0x00, 0xFF, 0x10, 0x20, 0x7F};
  EXPECT_EQ(RegSetValueExW(key, L"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                           sizeof(number)),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(key, L"Blob", 0, REG_BINARY, blob, sizeof(blob)), ERROR_SUCCESS);
  RegCloseKey(key);

  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD type = 0;
  DWORD read_number = 0;
  DWORD size = sizeof(read_number);
  EXPECT_EQ(RegQueryValueExW(key, L"Number", nullptr, &type, reinterpret_cast<BYTE*>(&read_number),
                             &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(read_number, number);

  BYTE read_blob[16] = {};
  size = sizeof(read_blob);
  EXPECT_EQ(RegQueryValueExW(key, L"Blob", nullptr, &type, read_blob, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  ASSERT_EQ(size, sizeof(blob));
  EXPECT_EQ(std::vector<BYTE>(read_blob, read_blob + size), std::vector<BYTE>(blob, blob + size));

  size = sizeof(read_number);
  EXPECT_EQ(RegQueryValueExW(key, L"Missing", nullptr, &type, reinterpret_cast<BYTE*>(&read_number),
                             &size),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);

  EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, kKey), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

}  // namespace
