#include "output/image_file_writer.h"

#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "platform/log.h"

namespace orvane::output {

namespace {

using image::DibImage;

// BMP layout: 14-byte file header, 40-byte info header, 1024-byte colour table for depths up to 8 bits.
constexpr uint32_t kBmpFileHeaderSize = 14;
constexpr uint32_t kBmpColorTableSize = 4 * image::kColorTableEntries;

// JPEG quality of each JPEG type code.
constexpr int kJpegQuality[] = {100, 70, 20};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Closes the stream and reports whether everything buffered reached the file.
bool CloseFile(FilePtr& file) {
  std::FILE* f = file.release();
  const bool clean = std::ferror(f) == 0;
  return std::fclose(f) == 0 && clean;
}

bool WriteAll(std::FILE* f, const void* data, size_t bytes) {
  return bytes == 0 || std::fwrite(data, 1, bytes, f) == bytes;
}

void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t GetLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// A 16-bit sample with `bits` significant bits brought to 8 bits, or to full 16-bit scale.
uint8_t SampleTo8(const uint8_t* p, int bits) { return static_cast<uint8_t>(GetLe16(p) >> (bits - 8)); }
uint16_t SampleTo16(const uint8_t* p, int bits) { return static_cast<uint16_t>(GetLe16(p) << (16 - bits)); }

bool SupportedDepth(int bits) {
  return bits == 8 || bits == 16 || bits == 24 || bits == 32 || bits == 48 || bits == 64;
}

// ---- BMP and raw ---------------------------------------------------------------------------------------

bool WriteBmp(const char* fileName, const DibImage& frame) {
  const bool hasTable = frame.BitsPerPixel() <= 8;
  const uint32_t pixelOffset = kBmpFileHeaderSize + image::kBitmapInfoHeaderSize + (hasTable ? kBmpColorTableSize : 0);
  const uint64_t fileSize = pixelOffset + static_cast<uint64_t>(frame.SizeBytes());
  if (fileSize > UINT32_MAX) return false;

  FilePtr file(std::fopen(fileName, "wb"));
  if (!file) return false;
  uint8_t header[kBmpFileHeaderSize] = {'B', 'M'};
  PutLe32(header + 2, static_cast<uint32_t>(fileSize));
  PutLe32(header + 10, pixelOffset);
  bool ok = WriteAll(file.get(), header, sizeof(header)) &&
            WriteAll(file.get(), frame.BitmapInfo(), image::kBitmapInfoHeaderSize);
  if (ok && hasTable) ok = WriteAll(file.get(), frame.BitmapInfo() + image::kBitmapInfoHeaderSize, kBmpColorTableSize);
  // The header declares a bottom-up bitmap: bottom row first.
  for (int y = frame.Height() - 1; ok && y >= 0; --y) ok = WriteAll(file.get(), frame.Row(y), frame.Stride());
  return CloseFile(file) && ok;
}

bool WriteRaw(const char* fileName, const DibImage& frame) {
  FilePtr file(std::fopen(fileName, "wb"));
  if (!file) return false;
  const bool ok = WriteAll(file.get(), frame.Bits(), frame.SizeBytes());
  return CloseFile(file) && ok;
}

// ---- JPEG ----------------------------------------------------------------------------------------------

// libjpeg's own error_exit ends the process and its output_message prints to stderr; these report
// through the library's log, and the error handler jumps back to the writer.
struct JpegErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

void JpegErrorExit(j_common_ptr cinfo) {
  char message[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, message);
  ORVANE_LOG(kOutput, kError, "libjpeg: %s", message);
  std::longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1);
}

void JpegOutputMessage(j_common_ptr cinfo) {
  char message[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, message);
  ORVANE_LOG(kOutput, kWarn, "libjpeg: %s", message);
}

// One image row as the compressor takes it: gray bytes, or red-green-blue from the blue-green-red pixel.
void PackJpegRow(const DibImage& frame, int y, int bits, uint8_t* out) {
  const uint8_t* src = frame.Row(y);
  const int width = frame.Width();
  switch (frame.BitsPerPixel()) {
    case 8:
      std::memcpy(out, src, static_cast<size_t>(width));
      break;
    case 16:
      for (int x = 0; x < width; ++x) out[x] = SampleTo8(src + 2 * x, bits);
      break;
    case 24:
    case 32: {
      const int bpp = frame.BytesPerPixel();
      for (int x = 0; x < width; ++x, src += bpp, out += 3) {
        out[0] = src[2];
        out[1] = src[1];
        out[2] = src[0];
      }
      break;
    }
    default: {  // 48, 64: high bytes of the first three words
      const int bpp = frame.BytesPerPixel();
      for (int x = 0; x < width; ++x, src += bpp, out += 3) {
        out[0] = SampleTo8(src + 4, bits);
        out[1] = SampleTo8(src + 2, bits);
        out[2] = SampleTo8(src, bits);
      }
      break;
    }
  }
}

// Runs the compressor. libjpeg leaves through longjmp on error, so this frame holds no object with a
// destructor; the caller owns the file, the row buffer and the compressor's destruction.
bool EncodeJpeg(jpeg_compress_struct* cinfo, JpegErrorManager* err, std::FILE* file, const DibImage& frame,
                int quality, int bits, uint8_t* row) {
  cinfo->err = jpeg_std_error(&err->pub);
  err->pub.error_exit = JpegErrorExit;
  err->pub.output_message = JpegOutputMessage;
  if (setjmp(err->jump) != 0) return false;
  jpeg_create_compress(cinfo);
  jpeg_stdio_dest(cinfo, file);
  cinfo->image_width = static_cast<JDIMENSION>(frame.Width());
  cinfo->image_height = static_cast<JDIMENSION>(frame.Height());
  const bool gray = frame.BitsPerPixel() <= 16;
  cinfo->input_components = gray ? 1 : 3;
  cinfo->in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, quality, TRUE);  // baseline-compatible quantisation tables
  jpeg_simple_progression(cinfo);
  jpeg_start_compress(cinfo, TRUE);
  // Memory row 0 is the top of the image, which JPEG stores first.
  for (int y = 0; y < frame.Height(); ++y) {
    PackJpegRow(frame, y, bits, row);
    JSAMPROW rows[1] = {row};
    jpeg_write_scanlines(cinfo, rows, 1);
  }
  jpeg_finish_compress(cinfo);
  return true;
}

bool WriteJpeg(const char* fileName, const DibImage& frame, int quality, int bits) {
  const size_t components = frame.BitsPerPixel() <= 16 ? 1 : 3;
  std::unique_ptr<uint8_t[]> row(new (std::nothrow) uint8_t[static_cast<size_t>(frame.Width()) * components]);
  if (!row) return false;
  FilePtr file(std::fopen(fileName, "wb"));
  if (!file) return false;
  jpeg_compress_struct cinfo;
  std::memset(&cinfo, 0, sizeof(cinfo));
  JpegErrorManager err;
  const bool ok = EncodeJpeg(&cinfo, &err, file.get(), frame, quality, bits, row.get());
  jpeg_destroy_compress(&cinfo);
  return CloseFile(file) && ok;
}

// ---- PNG -----------------------------------------------------------------------------------------------

// libpng's default handlers print to stderr; these report through the library's log, and the error
// handler jumps back to the writer.
void PngError(png_structp png, png_const_charp message) {
  ORVANE_LOG(kOutput, kError, "libpng: %s", message);
  png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp message) { ORVANE_LOG(kOutput, kWarn, "libpng: %s", message); }

// The row handed to libpng: 8-bit samples straight from the frame; 16-bit samples scaled and stored most
// significant byte first; the 32-bit fourth byte inverted into alpha; the 64-bit fourth word opaque.
const uint8_t* PackPngRow(const DibImage& frame, int y, int bits, uint8_t* scratch) {
  const uint8_t* src = frame.Row(y);
  const int width = frame.Width();
  switch (frame.BitsPerPixel()) {
    case 8:
    case 24:
      return src;
    case 32:
      for (int x = 0; x < width; ++x) {
        scratch[4 * x + 0] = src[4 * x + 0];
        scratch[4 * x + 1] = src[4 * x + 1];
        scratch[4 * x + 2] = src[4 * x + 2];
        scratch[4 * x + 3] = static_cast<uint8_t>(255 - src[4 * x + 3]);
      }
      return scratch;
    case 64:
      for (int x = 0; x < width; ++x) {
        for (int c = 0; c < 3; ++c) {
          const uint16_t v = SampleTo16(src + 8 * x + 2 * c, bits);
          scratch[8 * x + 2 * c] = static_cast<uint8_t>(v >> 8);
          scratch[8 * x + 2 * c + 1] = static_cast<uint8_t>(v);
        }
        scratch[8 * x + 6] = 0xFF;
        scratch[8 * x + 7] = 0xFF;
      }
      return scratch;
    default: {  // 16, 48
      const int samples = width * (frame.BitsPerPixel() / 16);
      for (int i = 0; i < samples; ++i) {
        const uint16_t v = SampleTo16(src + 2 * i, bits);
        scratch[2 * i] = static_cast<uint8_t>(v >> 8);
        scratch[2 * i + 1] = static_cast<uint8_t>(v);
      }
      return scratch;
    }
  }
}

// libpng leaves through longjmp on error: no object with a destructor lives in this frame.
bool EncodePng(png_structp png, png_infop info, std::FILE* file, const DibImage& frame, int bits,
               uint8_t* scratch) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_init_io(png, file);
  const int depth = frame.BitsPerPixel();
  const int bitDepth = (depth == 16 || depth == 48 || depth == 64) ? 16 : 8;
  const int colorType = depth <= 16 ? PNG_COLOR_TYPE_GRAY
                        : (depth == 24 || depth == 48) ? PNG_COLOR_TYPE_RGB
                                                       : PNG_COLOR_TYPE_RGB_ALPHA;
  png_set_IHDR(png, info, static_cast<png_uint_32>(frame.Width()), static_cast<png_uint_32>(frame.Height()),
               bitDepth, colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  for (int y = 0; y < frame.Height(); ++y) png_write_row(png, PackPngRow(frame, y, bits, scratch));
  png_write_end(png, info);
  return true;
}

bool WritePng(const char* fileName, const DibImage& frame, int bits) {
  std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[static_cast<size_t>(frame.Stride())]);
  if (!scratch) return false;
  FilePtr file(std::fopen(fileName, "wb"));
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  const bool ok = EncodePng(png, info, file.get(), frame, bits, scratch.get());
  png_destroy_write_struct(&png, &info);
  return CloseFile(file) && ok;
}

// ---- TIFF ----------------------------------------------------------------------------------------------

// TIFF tags by depth: bits per sample, photometric interpretation, samples per pixel.
struct TiffLayout {
  int depth;
  uint16_t bitsPerSample;
  uint16_t photometric;
  uint16_t samplesPerPixel;
};
constexpr TiffLayout kTiffLayouts[] = {
    {8, 8, PHOTOMETRIC_MINISBLACK, 1}, {16, 16, PHOTOMETRIC_MINISBLACK, 1}, {24, 8, PHOTOMETRIC_RGB, 3},
    {32, 8, PHOTOMETRIC_RGB, 4},       {48, 16, PHOTOMETRIC_RGB, 3},        {64, 16, PHOTOMETRIC_RGB, 4},
};

// The strip: the frame's rows top first and packed (TIFF rows have no padding, so the DIB's row
// padding would shear the image in every reader), red-green-blue order, samples little-endian; the
// 32-bit fourth byte 0, the 64-bit fourth word 0xFFFF.
size_t TiffRowBytes(const DibImage& frame) {
  return static_cast<size_t>(frame.Width()) * static_cast<size_t>(frame.BytesPerPixel());
}

void PackTiffStrip(const DibImage& frame, int bits, uint8_t* out) {
  const int depth = frame.BitsPerPixel();
  const int bpp = frame.BytesPerPixel();
  const size_t rowBytes = TiffRowBytes(frame);
  for (int y = 0; y < frame.Height(); ++y) {
    uint8_t* row = out + static_cast<size_t>(y) * rowBytes;
    std::memcpy(row, frame.Row(y), rowBytes);
    if (depth == 16) {
      for (int x = 0; x < frame.Width(); ++x) PutLe16(row + 2 * x, SampleTo16(row + 2 * x, bits));
      continue;
    }
    if (depth == 8) continue;
    for (int x = 0; x < frame.Width(); ++x) {
      uint8_t* p = row + static_cast<size_t>(x) * bpp;
      if (depth == 24 || depth == 32) {
        std::swap(p[0], p[2]);
        if (depth == 32) p[3] = 0;
      } else {
        const uint16_t blue = SampleTo16(p, bits);
        const uint16_t green = SampleTo16(p + 2, bits);
        const uint16_t red = SampleTo16(p + 4, bits);
        PutLe16(p, red);
        PutLe16(p + 2, green);
        PutLe16(p + 4, blue);
        if (depth == 64) PutLe16(p + 6, 0xFFFF);
      }
    }
  }
}

// libtiff's default handlers print to stderr. These are given to each file's handle (not installed
// process-wide, which would take them from an application that uses libtiff itself) and report
// through the library's log; a non-zero answer keeps the global handlers out.
int TiffError(TIFF*, void*, const char* module, const char* format, va_list args) {
  char message[512];
  std::vsnprintf(message, sizeof(message), format, args);
  ORVANE_LOG(kOutput, kError, "libtiff: %s: %s", module != nullptr ? module : "", message);
  return 1;
}

int TiffWarning(TIFF*, void*, const char* module, const char* format, va_list args) {
  char message[512];
  std::vsnprintf(message, sizeof(message), format, args);
  ORVANE_LOG(kOutput, kWarn, "libtiff: %s: %s", module != nullptr ? module : "", message);
  return 1;
}

TIFF* OpenTiff(const char* fileName) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, TiffError, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, TiffWarning, nullptr);
  TIFF* tif = TIFFOpenExt(fileName, "w", options);
  TIFFOpenOptionsFree(options);
  return tif;
}

bool WriteTiff(const char* fileName, const DibImage& frame, int bits) {
  const TiffLayout* layout = nullptr;
  for (const TiffLayout& l : kTiffLayouts) {
    if (l.depth == frame.BitsPerPixel()) layout = &l;
  }
  if (layout == nullptr) return false;
  const size_t stripBytes = TiffRowBytes(frame) * static_cast<size_t>(frame.Height());
  std::unique_ptr<uint8_t[]> strip(new (std::nothrow) uint8_t[stripBytes]);
  if (!strip) return false;
  PackTiffStrip(frame, bits, strip.get());

  TIFF* tif = OpenTiff(fileName);
  if (tif == nullptr) return false;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(frame.Width()));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(frame.Height()));
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout->bitsPerSample);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, layout->photometric);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout->samplesPerPixel);
  const tmsize_t written = TIFFWriteEncodedStrip(tif, 0, strip.get(), static_cast<tmsize_t>(stripBytes));
  // The directory is written on flush; a failure there (disk full) fails the save too.
  const bool flushed = TIFFFlush(tif) != 0;
  TIFFClose(tif);
  return written >= 0 && flushed;
}

}  // namespace

bool ImageFileWriter::Write(const char* fileName, const DibImage& frame, int typeCode, int significantBits) {
  if (fileName == nullptr || fileName[0] == '\0') return false;
  if (typeCode < kFileTypeBmp || typeCode > kFileTypeTiff) return false;
  if (!frame.Valid() || !SupportedDepth(frame.BitsPerPixel())) return false;
  if (significantBits < 8 || significantBits > 16) return false;
  switch (typeCode) {
    case kFileTypeBmp:
      return WriteBmp(fileName, frame);
    case kFileTypeRaw:
      return WriteRaw(fileName, frame);
    case kFileTypePng:
      return WritePng(fileName, frame, significantBits);
    case kFileTypeTiff:
      return WriteTiff(fileName, frame, significantBits);
    default:
      return WriteJpeg(fileName, frame, kJpegQuality[typeCode - kFileTypeJpeg100], significantBits);
  }
}

}  // namespace orvane::output
