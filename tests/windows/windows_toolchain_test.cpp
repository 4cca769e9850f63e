// The Windows build runs the image libraries it was compiled against, linked into it statically (what
// they write is checked by the output tests under wine; the windows, messages and registry by the
// DLL, preview and settings tests).
#include <gtest/gtest.h>

#include <string>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include "output/image_library_versions.h"

namespace {

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

}  // namespace
