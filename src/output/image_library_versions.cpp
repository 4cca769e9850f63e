#include "output/image_library_versions.h"

#include <cstdio>
#include <string>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
#include <jerror.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

namespace {

#define ORVANE_STRINGIFY_INNER(x) #x
#define ORVANE_STRINGIFY(x) ORVANE_STRINGIFY_INNER(x)

// First whitespace-delimited word of text ("6b  27-Mar-1998" -> "6b").
std::string FirstWord(const char* text) {
  std::string word(text ? text : "");
  const auto end = word.find_first_of(" \t\n");
  return end == std::string::npos ? word : word.substr(0, end);
}

// libtiff's version text is "LIBTIFF, Version 4.5.0\nCopyright ...": keep the number.
std::string TiffVersionNumber() {
  std::string text(TIFFGetVersion());
  const auto line_end = text.find('\n');
  if (line_end != std::string::npos) {
    text.resize(line_end);
  }
  const auto space = text.rfind(' ');
  return space == std::string::npos ? text : text.substr(space + 1);
}

std::string BuildVersions() {
  // libjpeg has no version call; its error manager's message table carries the API version.
  jpeg_error_mgr jpeg_errors{};
  jpeg_std_error(&jpeg_errors);
  const std::string jpeg_api = FirstWord(jpeg_errors.jpeg_message_table[JMSG_VERSION]);

  return std::string("libjpeg-turbo " ORVANE_STRINGIFY(LIBJPEG_TURBO_VERSION) " (libjpeg ") + jpeg_api +
         " API, " ORVANE_STRINGIFY(JPEG_LIB_VERSION) "); libpng " + png_get_libpng_ver(nullptr) +
         "; libtiff " + TiffVersionNumber() + "; zlib " + zlibVersion();
}

}  // namespace

const char* ImageLibraryVersions() {
  static const std::string versions = BuildVersions();
  return versions.c_str();
}
