// Image files of one processed frame: BMP, raw memory dump, JPEG (three qualities), PNG and TIFF.
//
// The form is chosen by the type code, never by the file name. The frame is only read: every form that
// needs another layout (row order, channel order, sample size) converts into its own buffers, so the live
// bitmap is never changed. The file name is a narrow string in the ANSI code page (UTF-8 on Linux), opened
// through the C runtime.
#pragma once

#include "image/dib_image.h"

namespace orvane::output {

// Type codes of the image file forms.
inline constexpr int kFileTypeBmp = 0;
inline constexpr int kFileTypeRaw = 1;
inline constexpr int kFileTypeJpeg100 = 2;
inline constexpr int kFileTypeJpeg70 = 3;
inline constexpr int kFileTypeJpeg20 = 4;
inline constexpr int kFileTypePng = 5;
inline constexpr int kFileTypeTiff = 6;

class ImageFileWriter {
 public:
  // Writes `frame` to `fileName` in the form of `typeCode`; an existing file is truncated.
  // `significantBits` (8..16) says how many low bits of a 16-bit sample carry data: 8-bit forms take bits
  // significantBits-8 .. significantBits-1, 16-bit forms shift the sample left to full scale; 16 takes the
  // high byte or the sample unchanged. The SDK passes 16.
  // False, with nothing written, for a type code outside 0..6, an empty frame, an unsupported depth or
  // significant-bit count; false for a file that cannot be opened or a failed or short write (a partly
  // written file may stay). Re-entrant: every call keeps its library state on its own.
  [[nodiscard]] static bool Write(const char* fileName, const image::DibImage& frame, int typeCode,
                                  int significantBits = 16);
};

}  // namespace orvane::output
