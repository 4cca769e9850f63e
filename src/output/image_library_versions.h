#pragma once

// One line naming the image libraries linked into this build and their versions, read from the
// libraries themselves at run time (not from their headers), e.g.
//   "libjpeg-turbo 2.1.5 (libjpeg 6b API, 62); libpng 1.6.39; libtiff 4.5.0; zlib 1.2.13"
// The text is built once and lives for the whole process. Thread-safe.
const char* ImageLibraryVersions();
